// Makes a machine image (registry.reg, drives/, attributes.txt, machine.ini) from a description
// in the scenario format of tests/machines/scenario.h: make_image DESCRIPTION.scn OUT_DIR.
// The folder is written afresh; the Windows 98 sample gets the first Windows 98's build.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "scenario.h"
#include "sim/machine.h"
#include "simulated_machine.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_image DESCRIPTION.scn OUT_DIR\n");
    return 64;
  }
  machines::Scenario scenario;
  if (!machines::LoadScenarioOrSay("make_image", argv[1], scenario)) return 65;
  try {
    sim::Machine machine = machines::MachineFor(scenario);
    machine.buildNumber = scenario.release == "win95" ? sim::kBuildWin95 : sim::kBuildWin98;
    std::filesystem::remove_all(argv[2]);
    machine.SaveImage(argv[2]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_image: %s: %s\n", argv[1], e.what());
    return 70;
  }
  return 0;
}
