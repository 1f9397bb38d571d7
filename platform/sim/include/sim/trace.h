// The record of every platform call the program makes, and the faults a test injects into them.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// One platform call: its name, its arguments as text (strings quoted, handles by name) and its result.
struct Call {
  std::string op;
  std::vector<std::string> args;
  std::string result;
  std::string ToString() const;  // RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\Root\printer\0000", 0, 1) = 2
};

class Trace {
 public:
  void Record(Call call);
  const std::vector<Call>& Calls() const { return calls_; }
  void Clear() { calls_.clear(); }
  std::vector<Call> Of(std::string_view op) const;   // the calls of one operation, in order
  std::size_t Count(std::string_view op) const;
  std::vector<std::string> Ops() const;              // every call's name, in order
  // Called after each call is recorded: a test's window on the moment of a call.
  std::function<void(const Call&)> onCall;

 private:
  std::vector<Call> calls_;
};

// Which calls fail. Each simulated function asks ShouldFail(op) once per call; a failing call
// returns its operation's failure result (and sets the last error) and changes nothing.
class Faults {
 public:
  void FailAll(std::string op);               // every call of op
  void FailNth(std::string op, int n);        // the nth call of op, counting from 1
  void FailCallIndex(std::size_t index);      // the call that will be the trace's entry `index` (0-based)
  void Clear();
  bool ShouldFail(const std::string& op, std::size_t traceIndex);

 private:
  std::set<std::string> all_;
  std::map<std::string, std::set<int>> nth_;
  std::set<std::size_t> indices_;
  std::map<std::string, int> seen_;
};

}  // namespace sim
