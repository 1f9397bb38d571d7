// The ways the simulated machine refuses (something it does not model, a bad image, a question
// nobody answered), and the end of the simulated process.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace sim {

// A call or a test asked for behaviour that the simulated machine does not model. Never caught
// by the simulator itself: it fails the test that met it, with the reason.
struct Unmodelled : std::logic_error {
  using std::logic_error::logic_error;
};

// A machine image (or one of its files) cannot be read. The message names the file and the line.
struct ImageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The simulated user was shown something it had no answer for (a dialog or a message box).
struct Unanswered : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The program called ExitProcess: thrown by it, after the call is traced, for whoever runs the
// program to catch; the code is the process's exit code. Not a failure of the machine.
struct ProcessExit : std::exception {
  explicit ProcessExit(std::uint32_t exitCode) : code(exitCode) {}
  const char* what() const noexcept override { return "the program called ExitProcess"; }
  std::uint32_t code;
};

}  // namespace sim
