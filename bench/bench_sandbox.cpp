// Benchmark: rk514-sandbox's whole run on three large machines, each a sample machine with one
// file grown: a wininit.ini of 10 MB (a [rename] list of files that are not there), an oem*.inf
// file of 20 MB on the first release of Windows 95 (the INF scan reads it to its last word, the
// marker), and a win.ini of 60,000 sections. Each case runs in a child process of its own, so
// that its peak memory is its own; the child times the tool's steps one by one:
//   load    the image read into a simulated machine (the simulator's loader)
//   run     the copy the program runs on, and the program answered ok,no (program and simulator)
//   report  the diff, the next start carried out, the product's pieces and their reasons (sandbox)
//   text    the text report (sandbox)
// Build it in the release tree (cmake --preset sandbox): build/sandbox/bench/rk514_sandbox_bench.
//   rk514_sandbox_bench [SCALE [CASE]]   (SCALE 1: the sizes above, 0.1 for a quick look; CASE 1 to 3:
//                                         that case alone)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "answers.h"
#include "program.h"
#include "report.h"
#include "sim/machine.h"

namespace {

namespace fs = std::filesystem;

struct Case {
  const char* name;
  const char* sample;
  std::function<void(const fs::path& image, double scale)> grow;
};

const Case kCases[] = {
    {"wininit.ini of 10 MB", "win98",
     [](const fs::path& image, double scale) {
       std::string text = "[rename]\r\n";
       const auto size = static_cast<std::size_t>(10e6 * scale);
       for (int i = 0; text.size() < size; ++i) text += "NUL=C:\\WINDOWS\\TEMP\\~GLF" + std::to_string(i) + ".TMP\r\n";
       std::ofstream(image / "drives/C/WINDOWS/wininit.ini", std::ios::binary) << text;
     }},
    {"oem*.inf of 20 MB, build 950", "win95",
     [](const fs::path& image, double scale) {
       std::string text = "[Version]\r\nSignature=\"$CHICAGO$\"\r\n[RK514.Files]\r\n";
       const auto size = static_cast<std::size_t>(20e6 * scale);
       while (text.size() < size) text += "KB47RK.DRV,,,1 KB47STAT.EXE=1\r\n";
       text += "KB47STAT.EXE\r\n";
       std::ofstream(image / "drives/C/WINDOWS/INF/oem9.inf", std::ios::binary) << text;
     }},
    {"win.ini of 60,000 sections", "win98",
     [](const fs::path& image, double scale) {
       const fs::path ini = image / "drives/C/WINDOWS/WIN.INI";
       std::ifstream in(ini, std::ios::binary);
       std::string old((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
       std::string text;
       const auto sections = static_cast<int>(60000 * scale);
       for (int i = 0; i < sections; ++i) text += "[Fonts " + std::to_string(i) + "]\r\nFace=Arial\r\nSize=10\r\n";
       std::ofstream(ini, std::ios::binary) << text << old;
     }},
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long PeakKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

struct Steps {
  double seconds[4] = {};
  long peakKb[4] = {};
};

// The tool's steps on the image, as main.cpp takes them (no --out: nothing is written).
Steps Measure(const fs::path& image) {
  Steps steps;
  auto start = std::chrono::steady_clock::now();
  sim::Machine before = sim::Machine::LoadImage(image);
  steps.seconds[0] = Seconds(start);
  steps.peakKb[0] = PeakKb();

  start = std::chrono::steady_clock::now();
  sim::Machine machine = before;
  sandbox::AnswersUser user(sandbox::ParseAnswers("ok,no"), machine.ui());
  const sandbox::ProgramRun run = sandbox::RunUninstaller(machine, user);
  steps.seconds[1] = Seconds(start);
  steps.peakKb[1] = PeakKb();

  start = std::chrono::steady_clock::now();
  sandbox::RunFacts facts;
  facts.image = image.string();
  facts.shown = user.Transcript();
  facts.exitCode = run.exitCode;
  facts.removalRan = run.removalRan;
  const sandbox::Report report = sandbox::BuildReport(before, machine, facts);
  steps.seconds[2] = Seconds(start);
  steps.peakKb[2] = PeakKb();

  start = std::chrono::steady_clock::now();
  const std::string text = sandbox::ReportText(report);
  steps.seconds[3] = Seconds(start);
  steps.peakKb[3] = PeakKb();
  if (text.find("Summary: ") == std::string::npos) std::abort();
  return steps;
}

}  // namespace

int main(int argc, char** argv) {
  const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
  const int only = argc > 2 ? std::atoi(argv[2]) : 0;
  const fs::path work = fs::temp_directory_path() / ("rk514-sandbox-bench-" + std::to_string(getpid()));
  std::printf("%-30s %8s %8s %8s %8s %8s %10s   peak after each step (MB)\n", "case", "load s", "run s", "report s",
              "text s", "total s", "peak MB");
  int number = 0;
  for (const Case& c : kCases) {
    if (++number != only && only != 0) continue;
    const fs::path image = work / "image";
    fs::remove_all(image);
    fs::create_directories(work);
    fs::copy(fs::path(RK514_SAMPLES_DIR) / c.sample, image, fs::copy_options::recursive);
    c.grow(image, scale);
    int channel[2];
    if (pipe(channel) != 0) return 1;
    const pid_t child = fork();
    if (child == 0) {
      close(channel[0]);
      const Steps steps = Measure(image);
      if (write(channel[1], &steps, sizeof steps) != static_cast<ssize_t>(sizeof steps)) _exit(1);
      _exit(0);
    }
    close(channel[1]);
    Steps steps;
    const bool read = ::read(channel[0], &steps, sizeof steps) == static_cast<ssize_t>(sizeof steps);
    close(channel[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (!read || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::printf("%-30s failed\n", c.name);
      continue;
    }
    const double total = steps.seconds[0] + steps.seconds[1] + steps.seconds[2] + steps.seconds[3];
    std::printf("%-30s %8.2f %8.2f %8.2f %8.2f %8.2f %10.1f   %.0f / %.0f / %.0f / %.0f\n", c.name, steps.seconds[0],
                steps.seconds[1], steps.seconds[2], steps.seconds[3], total, usage.ru_maxrss / 1024.0,
                steps.peakKb[0] / 1024.0, steps.peakKb[1] / 1024.0, steps.peakKb[2] / 1024.0, steps.peakKb[3] / 1024.0);
    std::fflush(stdout);
  }
  fs::remove_all(work);
  return 0;
}
