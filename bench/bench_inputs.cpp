// Benchmark: the simulated machine's own costs on three large inputs, each measured in a fresh
// process (this program run again) so that its time and peak memory are its own: a wininit.ini of 10 MB (read to its end), an oem*.inf
// file of 20 MB without the marker (scanned to its end, on a first release) and a win.ini of
// 60,000 sections. For each it prints the time of loading the machine image, copying the
// machine, RemoveProduct with the whole trace kept, and saving the image, and the peak resident
// memory of the process.
//   rk514_bench_inputs [wininit|inf|winini ...]     (default: all three)
//   rk514_bench_inputs --measure IMAGE OUT           (one measurement, as the first form runs it)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "removal.h"
#include "sim/machine.h"

namespace {

namespace fs = std::filesystem;

// A text of at least size bytes: the head, then numbered lines.
std::string Lines(std::string head, std::size_t size, const char* before, const char* after) {
  for (int i = 0; head.size() < size; ++i) head += before + std::to_string(i) + after;
  return head;
}

sim::Machine BigWininit() {
  sim::Machine machine;
  machine.files.WriteFile("C:\\WINDOWS\\wininit.ini",
                          Lines("[rename]\r\n", 10'000'000, "NUL=C:\\WINDOWS\\TEMP\\SETUP", ".TMP\r\n"));
  return machine;
}

sim::Machine BigInf() {
  sim::Machine machine;
  machine.buildNumber = sim::kBuildWin95;
  machine.files.WriteFile("C:\\WINDOWS\\INF\\oem0.inf",
                          Lines("[Version]\r\nSignature=\"$CHICAGO$\"\r\n\r\n[Strings]\r\n", 20'000'000, "String",
                                " = \"Some text of a driver\"\r\n"));
  return machine;
}

sim::Machine BigWinIni() {
  sim::Machine machine;
  std::string text =
      "[windows]\r\ndevice=ZANTEROVA Karsenby RK514,kb47rk,LPT1:\r\n[Devices]\r\n"
      "ZANTEROVA Karsenby RK514=kb47rk,LPT1:\r\n[PrinterPorts]\r\nZANTEROVA Karsenby RK514=kb47rk,LPT1:,15,45\r\n";
  for (int i = 0; i < 60'000; ++i)
    text += "[Section " + std::to_string(i) + "]\r\nKey=Value " + std::to_string(i) + "\r\n";
  text += "[ZANTEROVA Karsenby RK514-LPT2]\r\nColorMode=1\r\n";
  machine.files.WriteFile(machine.WinIniPath(), text);
  return machine;
}

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// In the child: every step, timed; the image was saved by the parent.
int Measure(const fs::path& image, const fs::path& out) {
  std::optional<sim::Machine> loaded;
  const double load = Seconds([&] { loaded.emplace(sim::Machine::LoadImage(image)); });
  std::optional<sim::Machine> machine;
  const double copy = Seconds([&] { machine.emplace(*loaded); });
  std::size_t calls = 0, records = 0;
  const double removal = Seconds([&] {
    sim::Activation active(*machine);
    RemoveProduct();
    calls = machine->trace().Size();
    records = machine->trace().Calls().size();
  });
  const double save = Seconds([&] { machine->SaveImage(out); });
  std::printf("  load %6.3f s, copy %6.3f s, RemoveProduct %6.3f s (%zu calls in %zu trace records), save %6.3f s",
              load, copy, removal, calls, records, save);
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--measure") return Measure(argv[2], argv[3]);
  struct Input {
    const char* name;
    sim::Machine (*make)();
  } inputs[] = {{"wininit", BigWininit}, {"inf", BigInf}, {"winini", BigWinIni}};
  std::vector<std::string> wanted(argv + 1, argv + argc);
  const fs::path work = fs::temp_directory_path() / ("rk514-bench-" + std::to_string(getpid()));
  for (const Input& input : inputs) {
    if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), input.name) == wanted.end()) continue;
    const fs::path image = work / input.name, out = work / (std::string(input.name) + "-after");
    input.make().SaveImage(image);
    std::printf("%-8s", input.name);
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
      execl("/proc/self/exe", argv[0], "--measure", image.c_str(), out.c_str(), static_cast<char*>(nullptr));
      std::_Exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    std::printf(", peak %.0f MB%s\n", usage.ru_maxrss / 1024.0,
                WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : " (failed)");
  }
  fs::remove_all(work);
  return 0;
}
