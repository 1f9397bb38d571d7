// Benchmark: rk514-sandbox's whole run on large machines, each a sample machine with one part
// grown: a wininit.ini of 10 MB (a [rename] list of files that are not there), an oem*.inf file
// of 54 MB on the first release of Windows 95 (the INF scan reads it to its last word, the
// marker), a win.ini of 60,000 sections, 10,000 instance keys that name the printer (the walk
// deletes the first few dozen and its budget leaves the rest), a registry.reg of 50 MB, one key
// of 1,000,000 values, and an INF folder of 100,004 files. Each case runs in a child process of
// its own, so that its peak memory is its own; the child times the tool's steps one by one:
//   load    the image read into a simulated machine (the simulator's loader)
//   run     the copy the program runs on, and the program answered ok,no (program and simulator)
//   report  the diff, the next start carried out, the product's inventory and its reasons (sandbox)
//   text    the text report (sandbox)
// The image's size and the memory goal (4 times it, plus 50 MB) stand beside each case.
// Build it in the release tree (cmake --preset sandbox): build/sandbox/bench/rk514_sandbox_bench.
//   rk514_sandbox_bench [SCALE [CASE]]   (SCALE 1: the sizes above, 0.2 for a fifth of each, to
//                                         see that the costs grow in step; CASE 1 to 7: that case
//                                         alone)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
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
    {"oem*.inf of 54 MB, build 950", "win95",
     [](const fs::path& image, double scale) {
       std::string text = "[Version]\r\nSignature=\"$CHICAGO$\"\r\n[RK514.Files]\r\n";
       const auto size = static_cast<std::size_t>(54e6 * scale);
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
    {"10,000 instance keys", "win98",
     [](const fs::path& image, double scale) {
       std::ofstream reg(image / "registry.reg", std::ios::binary | std::ios::app);
       const auto keys = static_cast<int>(10000 * scale);
       char name[16];
       for (int i = 0; i < keys; ++i) {
         std::snprintf(name, sizeof name, "%04d", 1000 + i);
         reg << "[HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\" << name
             << "]\r\n\"Class\"=\"Printer\"\r\n\"DeviceDesc\"=\"ZANTEROVA Karsenby RK514\"\r\n\r\n";
       }
       // The walk reaches them: a run of keys of another printer from 0000 up to them.
       for (int i = 3; i < 1000; ++i) {
         std::snprintf(name, sizeof name, "%04d", i);
         reg << "[HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\" << name
             << "]\r\n\"DeviceDesc\"=\"HP LaserJet 4\"\r\n\r\n";
       }
     }},
    {"registry.reg of 50 MB", "win98",
     [](const fs::path& image, double scale) {
       std::ofstream reg(image / "registry.reg", std::ios::binary | std::ios::app);
       const auto size = static_cast<std::size_t>(50e6 * scale);
       std::size_t written = 0;
       for (int i = 0; written < size; ++i) {
         const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor " + std::to_string(i % 97) + "\\Product\\" +
                                 std::to_string(i) + "]\r\n\"Path\"=\"C:\\\\Program Files\\\\Vendor\\\\" +
                                 std::to_string(i) + "\"\r\n\"Version\"=dword:0000002a\r\n\"Data\"=hex:01,02,03,04,05,06,07,08\r\n\r\n";
         reg << key;
         written += key.size();
       }
     }},
    {"1,000,000 values in one key", "win98",
     [](const fs::path& image, double scale) {
       std::ofstream reg(image / "registry.reg", std::ios::binary | std::ios::app);
       reg << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wide]\r\n";
       const auto values = static_cast<int>(1e6 * scale);
       for (int i = 0; i < values; ++i) reg << "\"Value " << i << "\"=\"text of value " << i << "\"\r\n";
       reg << "\r\n";
     }},
    {"100,004 INF files, build 950", "win95",
     [](const fs::path& image, double scale) {
       const auto files = static_cast<int>(100000 * scale);
       for (int i = 3; i < 3 + files; ++i)
         std::ofstream(image / ("drives/C/WINDOWS/INF/oem" + std::to_string(i) + ".inf"), std::ios::binary)
             << "[Version]\r\nSignature=\"$CHICAGO$\"\r\nClass=Printer\r\n";
     }},
};

// The bytes of every file of the image.
double ImageMegabytes(const fs::path& image) {
  std::uintmax_t bytes = 0;
  for (const auto& entry : fs::recursive_directory_iterator(image)) {
    if (entry.is_regular_file()) bytes += entry.file_size();
  }
  return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// The process's CPU time: on a machine that others share, the wall clock says more of them.
double CpuNow() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}
double Seconds(double since) { return CpuNow() - since; }

long PeakKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

struct Steps {
  double seconds[4] = {};  // CPU seconds
  double wall = 0;
  long peakKb[4] = {};
};

// The tool's steps on the image, as main.cpp takes them (no --out: nothing is written).
Steps Measure(const fs::path& image) {
  Steps steps;
  const auto wallStart = std::chrono::steady_clock::now();
  double start = CpuNow();
  sim::Machine before = sim::Machine::LoadImage(image);
  steps.seconds[0] = Seconds(start);
  steps.peakKb[0] = PeakKb();

  start = CpuNow();
  sim::Machine machine = before;
  sandbox::AnswersUser user(sandbox::ParseAnswers("ok,no"), machine.ui());
  const sandbox::ProgramRun run = sandbox::RunUninstaller(machine, user);
  steps.seconds[1] = Seconds(start);
  steps.peakKb[1] = PeakKb();

  start = CpuNow();
  sandbox::RunFacts facts;
  facts.image = image.string();
  facts.shown = user.Transcript();
  facts.exitCode = run.exitCode;
  facts.removalRan = run.removalRan;
  const sandbox::Report report = sandbox::BuildReport(before, machine, facts);
  steps.seconds[2] = Seconds(start);
  steps.peakKb[2] = PeakKb();

  start = CpuNow();
  const std::string text = sandbox::ReportText(report);
  steps.seconds[3] = Seconds(start);
  steps.peakKb[3] = PeakKb();
  if (text.find("Summary: ") == std::string::npos) std::abort();
  steps.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  return steps;
}

}  // namespace

int main(int argc, char** argv) {
  const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
  const int only = argc > 2 ? std::atoi(argv[2]) : 0;
  const fs::path work = fs::temp_directory_path() / ("rk514-sandbox-bench-" + std::to_string(getpid()));
  std::printf("CPU seconds per step (wall seconds of the whole beside them)\n");
  std::printf("%-30s %8s %8s %8s %8s %8s %8s %8s %8s %8s   peak after each step (MB)\n", "case", "image MB",
              "load s", "run s", "report s", "text s", "total s", "wall s", "peak MB", "goal MB");
  int number = 0;
  for (const Case& c : kCases) {
    if (++number != only && only != 0) continue;
    const fs::path image = work / "image";
    fs::remove_all(image);
    fs::create_directories(work);
    fs::copy(fs::path(RK514_SAMPLES_DIR) / c.sample, image, fs::copy_options::recursive);
    c.grow(image, scale);
    const double imageMb = ImageMegabytes(image);
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
    std::printf("%-30s %8.1f %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f %8.1f %8.1f   %.0f / %.0f / %.0f / %.0f\n", c.name,
                imageMb, steps.seconds[0], steps.seconds[1], steps.seconds[2], steps.seconds[3], total, steps.wall,
                usage.ru_maxrss / 1024.0, 4 * imageMb + 50, steps.peakKb[0] / 1024.0, steps.peakKb[1] / 1024.0,
                steps.peakKb[2] / 1024.0, steps.peakKb[3] / 1024.0);
    std::fflush(stdout);
  }
  fs::remove_all(work);
  return 0;
}
