// libFuzzer target: the fuzzer's bytes are a PE file (the corpus starts from the shipped
// KB47UNIN.EXE, so most inputs are mutated copies of it). The runner's loader refuses it or loads
// it; a loaded one runs, within small bounds, on a bare simulated machine under a user who
// confirms. Whatever the file holds, the runner must end in a refusal, a guest failure, the
// simulator's own refusal or the program's exit, and never touch host memory outside the guest's
// (AddressSanitizer watches). A finding aborts, which libFuzzer reports with the input saved.
#include <cstdint>
#include <exception>
#include <iostream>
#include <optional>
#include <span>

#include "emu/runner.h"
#include "sim/machine.h"

extern "C" const char* __asan_default_options() { return "quarantine_size_mb=64:malloc_context_size=5"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::optional<emu::Program> program;
  try {
    program.emplace(emu::Program::Load(std::as_bytes(std::span(data, size))));
  } catch (const emu::Refused&) {
    return 0;
  }
  sim::Machine machine;
  using Step = sim::ScriptedUser::Step;
  sim::ScriptedUser user({Step{"WELCOME", {sim::Input::Enter}}, Step{"MessageBox", {}, IDNO}});
  emu::Limits limits;
  limits.instructions = 400'000;
  limits.heapBytes = 256u << 10;
  limits.stackBytes = 64u << 10;
  try {
    emu::Run(*program, machine, user, limits);
  } catch (const emu::GuestFailure&) {
  } catch (const sim::Unmodelled&) {
  } catch (const sim::Unanswered&) {
  } catch (const std::exception& error) {
    std::cerr << "\n== finding: the run ended with an error of another kind: " << error.what() << "\n";
    std::abort();
  }
  return 0;
}
