// Benchmark: RemoveProduct on simulated Windows 95 machines that grow along one dimension at a
// time (instance keys, oem*.inf files of 20 KB, win.ini lines), from 10 to 10,000. For each size
// it prints the platform calls made, the bytes read from INF files, how often and how much the
// program's heap blocks were moved by realloc, and the time, with each per item, so that a cost
// that grows faster than its input shows as a growing per-item figure.
//   rk514_bench [largest size]      (default 10000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "removal.h"
#include "sim/machine.h"

// ---- The program's heap, counted (the link wraps malloc, realloc and free).

extern "C" void* __real_malloc(std::size_t size);
extern "C" void* __real_realloc(void* block, std::size_t size);
extern "C" void __real_free(void* block);

namespace {

struct HeapCount {
  std::map<void*, std::size_t> sizes;
  std::size_t reallocs = 0;
  std::size_t bytesMoved = 0;  // the old size of every block that realloc grew
};
HeapCount& Heap() {
  static HeapCount heap;
  return heap;
}

}  // namespace

extern "C" void* __wrap_malloc(std::size_t size) {
  void* block = __real_malloc(size);
  if (block != nullptr) Heap().sizes[block] = size;
  return block;
}

extern "C" void* __wrap_realloc(void* block, std::size_t size) {
  HeapCount& heap = Heap();
  std::size_t old = 0;
  if (auto found = heap.sizes.find(block); found != heap.sizes.end()) {
    old = found->second;
    heap.sizes.erase(found);
  }
  void* grown = __real_realloc(block, size);
  ++heap.reallocs;
  heap.bytesMoved += old;
  if (grown != nullptr) heap.sizes[grown] = size;
  return grown;
}

extern "C" void __wrap_free(void* block) {
  Heap().sizes.erase(block);
  __real_free(block);
}

namespace {

constexpr char kPrinter[] = "ZANTEROVA Karsenby RK514";

// What one run cost, tallied as the calls are made; the trace itself is emptied as it goes, so
// that 10,000 files of 20 KB do not keep millions of calls in memory.
struct Tally {
  std::size_t platformCalls = 0;  // every call but the string helpers and the byte reads
  std::size_t allCalls = 0;
  std::size_t infBytes = 0;             // bytes that fgetc delivered from files under the INF folder
  std::map<std::string, bool> infFile;  // file#N -> whether it is an INF file
};

struct Figures {
  Tally tally;
  std::size_t reallocs = 0, bytesMoved = 0;
  double milliseconds = 0;
};

Figures Run(sim::Machine& machine) {
  Figures figures;
  Tally& tally = figures.tally;
  machine.trace().onCall = [&](const sim::Call& call) {
    ++tally.allCalls;
    if (call.op == "fgetc") {
      if (call.result != "EOF" && tally.infFile[call.args[0]]) ++tally.infBytes;
    } else if (call.op.rfind("lstr", 0) != 0) {
      ++tally.platformCalls;
    }
    if (call.op == "fopen" && call.result != "NULL") {
      tally.infFile[call.result] = call.args[0].find("\\INF\\") != std::string::npos;
    }
    if (machine.trace().Calls().size() > 50'000) machine.trace().Clear();
  };
  Heap().reallocs = 0;
  Heap().bytesMoved = 0;
  const auto start = std::chrono::steady_clock::now();
  {
    sim::Activation active(machine);
    RemoveProduct();
  }
  figures.milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  figures.reallocs = Heap().reallocs;
  figures.bytesMoved = Heap().bytesMoved;
  return figures;
}

sim::Machine FirstRelease() {
  sim::Machine machine;
  machine.buildNumber = sim::kBuildWin95;
  return machine;
}

// Instance keys 0000 to n-2 of another printer, the printer's own last, in both lists.
sim::Machine WithInstanceKeys(int n) {
  sim::Machine machine = FirstRelease();
  for (const char* base : {"HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\",
                           "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Printer\\"}) {
    const std::string value = std::string(base).find("Enum") != std::string::npos ? "DeviceDesc" : "DriverDesc";
    for (int i = 0; i < n; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "%04d", i);
      machine.registry.SetString(base + std::string(name), value, i == n - 1 ? kPrinter : "HP LaserJet 4");
    }
  }
  return machine;
}

// n oem*.inf files of 20 KB, each the product's, its marker in the file list near the top as
// setup writes it: the scan reads each file to just past the marker.
sim::Machine WithInfFiles(int n) {
  sim::Machine machine = FirstRelease();
  std::string inf = "[Version]\r\nSignature=\"$CHICAGO$\"\r\n\r\n[RK514.Files]\r\nKB47STAT.EXE = 1\r\n";
  inf.resize(20 * 1024, ';');
  for (int i = 0; i < n; ++i) machine.files.WriteFile("C:\\WINDOWS\\INF\\oem" + std::to_string(i) + ".inf", inf);
  return machine;
}

sim::Machine WithWinIniLines(int n) {
  sim::Machine machine = FirstRelease();
  std::string ini =
      "[Devices]\r\nZANTEROVA Karsenby RK514=kb47rk,LPT1:\r\n[ZANTEROVA Karsenby RK514-LPT1]\r\nx=1\r\n[fonts]\r\n";
  for (int i = 5; i < n; ++i) ini += "Font " + std::to_string(i) + " (TrueType)=FONT" + std::to_string(i) + ".TTF\r\n";
  machine.files.WriteFile(machine.WinIniPath(), ini);
  return machine;
}

// Each figure in total and, beside it, per item beyond what the bare machine costs.
void Row(const char* what, int size, const Figures& f, const Figures& base) {
  auto per = [size](double value, double bare) { return (value - bare) / size; };
  std::printf("%-14s %6d %9zu %8.3f %10zu %9.1f %8zu %12zu %10.1f %9.1f %9.4f\n", what, size, f.tally.platformCalls,
              per(f.tally.platformCalls, base.tally.platformCalls), f.tally.infBytes, per(f.tally.infBytes, 0),
              f.reallocs, f.bytesMoved, per(f.bytesMoved, 0), f.milliseconds, per(f.milliseconds, base.milliseconds));
}

}  // namespace

int main(int argc, char** argv) {
  const int largest = argc > 1 ? std::atoi(argv[1]) : 10000;
  std::vector<int> sizes;
  for (int size = 10; size <= largest; size *= 10) sizes.push_back(size);

  // The bare machine's time is the least of a few runs: the first pays for warming up.
  Figures base;
  for (int i = 0; i < 3; ++i) {
    sim::Machine bare = FirstRelease();
    const Figures run = Run(bare);
    if (i == 0 || run.milliseconds < base.milliseconds) base = run;
  }
  // Bare first release: version 1, 11 deletions and a flush, 2 x 102 names, 7 profile calls,
  // shell-folder open, 4 shortcuts and the folder, 2 directories, 14 files, the INF search, and
  // the rename list's test, open, header, 5 entries and close.
  std::printf("bare Windows 95 machine: %zu platform calls (the stages prescribe %d)\n\n", base.tally.platformCalls,
              1 + 11 + 1 + 204 + 7 + 6 + 2 + 14 + 1 + 9);

  std::printf("per item: beyond the bare machine\n");
  std::printf("%-14s %6s %9s %8s %10s %9s %8s %12s %10s %9s %9s\n", "input", "size", "calls", "/item", "INF bytes",
              "/item", "reallocs", "bytes moved", "/item", "ms", "ms/item");
  struct Dimension {
    const char* what;
    sim::Machine (*make)(int);
  } dimensions[] = {
      {"instance keys", WithInstanceKeys}, {"oem*.inf", WithInfFiles}, {"win.ini lines", WithWinIniLines}};
  for (const Dimension& dimension : dimensions) {
    for (int size : sizes) {
      sim::Machine machine = dimension.make(size);
      Row(dimension.what, size, Run(machine), base);
    }
  }
  return 0;
}
