// libFuzzer target: the fuzzer's bytes choose a random machine (and, in some runs, a platform call
// that fails); the removal runs on it; the run must keep the invariant, and a run without a fault
// must also make every removal it can reach and scan the INF folder without waste. A finding
// prints what broke and the machine, then aborts, which libFuzzer reports with the input saved.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "expectations.h"
#include "invariant.h"
#include "machine_generator.h"
#include "removal.h"

namespace {

class ProvidedChoices : public safety::Choices {
 public:
  explicit ProvidedChoices(FuzzedDataProvider& provider) : provider_(provider) {}
  int Between(int lo, int hi) override { return lo >= hi ? lo : provider_.ConsumeIntegralInRange(lo, hi); }

 private:
  FuzzedDataProvider& provider_;
};

// The operations a removal calls that can fail.
const std::vector<std::string> kOps = {
    "GetVersionExA",
    "RegDeleteKeyA",
    "RegFlushKey",
    "RegOpenKeyExA",
    "RegQueryValueExA",
    "RegCloseKey",
    "GetProfileStringA",
    "WriteProfileStringA",
    "DeleteFileA",
    "RemoveDirectoryA",
    "GetSystemDirectoryA",
    "GetWindowsDirectoryA",
    "FindFirstFileA",
    "FindNextFileA",
    "FindClose",
    "fopen",
    "fgetc",
    "ftell",
    "fputs",
    "fprintf",
    "fclose",
};

[[noreturn]] void Finding(const std::string& what, const std::vector<std::string>& problems,
                          const sim::Machine& before) {
  std::cerr << "\n== finding: " << what << "\n";
  for (const std::string& problem : problems) std::cerr << "  " << problem << "\n";
  std::cerr << "on this machine:\n" << safety::Describe(before) << std::flush;
  std::abort();
}

}  // namespace

// AddressSanitizer's quarantine keeps 64 MB of freed blocks instead of 256 MB, and an allocation
// keeps 5 frames of its stack instead of 30: a run allocates thousands of small blocks, and these
// two costs were most of its time. A block used after its free is still caught while it is among
// the last 64 MB freed, which is many runs back.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=64:malloc_context_size=5"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  ProvidedChoices choices(provider);
  sim::Machine machine = safety::RandomMachine(choices);
  const sim::Machine before(machine);

  safety::Allowance allowance;
  const bool faulty = choices.Maybe(30);
  std::string fault = "none";
  if (faulty) {
    const std::string& op = kOps[choices.Index(kOps.size())];
    if (choices.Maybe(20)) {
      machine.faults().FailAll(op);
      fault = "every " + op;
    } else {
      const int nth = choices.Between(1, 300);
      machine.faults().FailNth(op, nth);
      fault = op + " number " + std::to_string(nth);
    }
    allowance = safety::AllowanceForFailing(op);
  }

  // A run that loops without end is a finding too: libFuzzer's -timeout reports it, with its input.
  {
    sim::Activation active(machine);
    RemoveProduct();
  }

  std::vector<std::string> problems = safety::InvariantViolations(before, machine, allowance);
  if (!faulty) {
    for (const std::string& problem : safety::MissedRemovals(before, machine)) problems.push_back(problem);
    for (const std::string& problem : safety::ScanWaste(before, machine)) problems.push_back(problem);
  }
  if (!problems.empty()) Finding("fault: " + fault, problems, before);
  return 0;
}
