// The checker of the Wine suite, run by run_case.sh on the host:
//   rk514_wine_check sim SCENARIO FLOW OUT_DIR
//       runs the case on the simulated machine; writes sim-seeded.dump, sim-after.dump and
//       sim-next.dump into OUT_DIR
//   rk514_wine_check compare EXPECTED_DIR NAME SIM_SEEDED SIM_DUMP WINE_DUMP [WINE_SEEDED]
//       compares, field by field, the expected state NAME with the simulated run and with the
//       run under Wine (seen as Windows 98 would show it), and, if given, Wine's seeded state
//       with the simulated one; prints every differing field and exits 1 if there is any.
//       SIM_DUMP "-": the simulated run is not compared (its next start differs from Wine's by
//       design)
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "sim/errors.h"
#include "sim_case.h"

namespace {

bool ReadDump(const std::string& path, machines::StateDump& dump) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "%s: cannot be read\n", path.c_str());
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::string error;
  if (!machines::ParseDump(text.str(), path, dump, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  return true;
}

bool WriteDump(const std::string& path, const machines::StateDump& dump) {
  std::ofstream out(path, std::ios::binary);
  out << dump.Text();
  return static_cast<bool>(out.flush());
}

// Prints each difference with what it concerns; true when there was none.
bool Report(const std::string& what, const machines::StateDump& expected, const machines::StateDump& actual) {
  const std::vector<std::string> messages = machines::CompareDumps(expected, actual);
  for (const std::string& message : messages) std::printf("%s: %s\n", what.c_str(), message.c_str());
  return messages.empty();
}

int Simulate(const std::string& scenarioPath, const std::string& flow, const std::string& outDir) {
  machines::Scenario scenario;
  if (!machines::LoadScenarioOrSay("", scenarioPath, scenario)) return 2;
  try {
    wine::SimRun run = wine::RunInSimulator(scenario, flow);
    if (!WriteDump(outDir + "/sim-seeded.dump", run.seeded) || !WriteDump(outDir + "/sim-after.dump", run.after) ||
        !WriteDump(outDir + "/sim-next.dump", run.next)) {
      std::fprintf(stderr, "cannot write the dumps into %s\n", outDir.c_str());
      return 2;
    }
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "the simulated run of %s (%s) failed: %s\n", scenarioPath.c_str(), flow.c_str(),
                 failure.what());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "sim" && argc == 5) return Simulate(argv[2], argv[3], argv[4]);
  if (command == "compare" && (argc == 7 || argc == 8)) {
    machines::StateDump simSeeded, simDump, wineDump, expected;
    const bool simCompared = std::string(argv[5]) != "-";
    if (!ReadDump(argv[4], simSeeded) || (simCompared && !ReadDump(argv[5], simDump)) || !ReadDump(argv[6], wineDump))
      return 2;
    std::string error;
    if (!wine::LoadExpected(argv[2], argv[3], simSeeded, expected, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 2;
    }
    bool same = !simCompared || Report("simulated", expected, simDump);
    same = Report("wine", expected, machines::AsWindows98Would(wineDump)) && same;
    if (argc == 8) {
      machines::StateDump wineSeeded;
      if (!ReadDump(argv[7], wineSeeded)) return 2;
      same = Report("seeded under wine", simSeeded, machines::AsWindows98Would(wineSeeded)) && same;
    }
    return same ? 0 : 1;
  }
  std::fprintf(stderr,
               "usage: rk514_wine_check sim SCENARIO FLOW OUT_DIR\n"
               "       rk514_wine_check compare EXPECTED_DIR NAME SIM_SEEDED SIM_DUMP|- WINE_DUMP "
               "[WINE_SEEDED]\n");
  return 2;
}
