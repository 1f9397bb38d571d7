// Benchmark: one scenario, the removal on an installed Windows 98 machine (OK, then No), run by
// the host-compiled program and by the shipped KB47UNIN.EXE on the emulated x86, each many times
// on fresh copies of the machine: the time of a run of each (the least and the median), their
// ratio, and what an emulated run does (instructions, import calls, dialog procedure calls).
//   rk514_emu_bench [KB47UNIN.EXE] [runs]     (defaults: the win32 tree's, 50)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app.h"
#include "emu/runner.h"
#include "embedded_resources.h"
#include "installed_machine.h"

namespace {

using Step = sim::ScriptedUser::Step;
std::vector<Step> OkThenNo() { return {Step{"WELCOME", {sim::Input::Enter}}, Step{"MessageBox", {}, IDNO}}; }

template <typename Run>
std::vector<double> Times(int runs, Run run) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    run();
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  const char* exe = argc > 1 ? argv[1] : RK514_WIN32_EXE;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 50;
  const sim::Machine installed = fixtures::InstalledMachine(sim::kBuildWin98);
  const emu::Program program = emu::Program::LoadFile(exe);

  int hostExit = 0, emuExit = 0;
  const std::vector<double> host = Times(runs, [&] {
    sim::Machine machine(installed);
    sim::ScriptedUser user(OkThenNo());
    g_confirmed = 1;
    g_removalRan = 0;
    sim::Activation active(machine);
    HINSTANCE instance = machine.ui().LoadModule(rk514::kResourceScript, rk514::kResourceHeader);
    machine.ui().SetUser(&user);
    hostExit = WinMain(instance, nullptr, const_cast<LPSTR>(""), SW_SHOWNORMAL);
    machine.ui().SetUser(nullptr);
  });
  emu::Stats stats;
  const std::vector<double> emulated = Times(runs, [&] {
    sim::Machine machine(installed);
    sim::ScriptedUser user(OkThenNo());
    emuExit = emu::Run(program, machine, user, {}, &stats);
  });

  auto median = [](const std::vector<double>& ms) { return ms[ms.size() / 2]; };
  std::printf("%s, %d runs of each, the removal on an installed Windows 98 machine (OK, then No)\n", exe, runs);
  std::printf("host-compiled: least %8.3f ms, median %8.3f ms, exit %d\n", host.front(), median(host), hostExit);
  std::printf("emulated:      least %8.3f ms, median %8.3f ms, exit %d\n", emulated.front(), median(emulated), emuExit);
  std::printf("ratio (medians): %.1f\n", median(emulated) / median(host));
  std::printf("an emulated run: %llu instructions, %llu import calls, %llu dialog procedure calls, %llu blocks run\n",
              static_cast<unsigned long long>(stats.instructions), static_cast<unsigned long long>(stats.importCalls),
              static_cast<unsigned long long>(stats.callbacks), static_cast<unsigned long long>(stats.blocksChecked));
  return hostExit == emuExit ? 0 : 1;
}
