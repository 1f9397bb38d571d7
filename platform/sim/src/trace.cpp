// The call trace, injected faults, and the TracedCall helper that every simulated Win32 function
// starts with: it asks the faults once whether the call fails and records the call when done.
#include <cstdio>
#include <utility>

#include "internal.h"

namespace sim {

std::string Call::ToString() const {
  std::string text = op + "(";
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0) text += ", ";
    text += args[i];
  }
  text += ")";
  // A call without a result (a void function) is shown without " = ".
  if (!result.empty()) text += " = " + result;
  return text;
}

void Trace::Record(Call call) {
  calls_.push_back(std::move(call));
  if (onCall) {
    // A copy: the observer may itself make calls that grow the trace.
    Call recorded = calls_.back();
    onCall(recorded);
  }
}

std::vector<Call> Trace::Of(std::string_view op) const {
  std::vector<Call> calls;
  for (const Call& call : calls_) {
    if (call.op == op) calls.push_back(call);
  }
  return calls;
}

std::size_t Trace::Count(std::string_view op) const {
  std::size_t count = 0;
  for (const Call& call : calls_) {
    if (call.op == op) ++count;
  }
  return count;
}

std::vector<std::string> Trace::Ops() const {
  std::vector<std::string> ops;
  ops.reserve(calls_.size());
  for (const Call& call : calls_) ops.push_back(call.op);
  return ops;
}

void Faults::FailAll(std::string op) { all_.insert(std::move(op)); }

void Faults::FailNth(std::string op, int n) {
  if (n < 1) throw Unmodelled("Faults::FailNth: calls are counted from 1, not " + std::to_string(n));
  nth_[std::move(op)].insert(n);
}

void Faults::FailCallIndex(std::size_t index) { indices_.insert(index); }

void Faults::Clear() {
  all_.clear();
  nth_.clear();
  indices_.clear();
  seen_.clear();
}

bool Faults::ShouldFail(const std::string& op, std::size_t traceIndex) {
  // Every call is counted, whether or not a fault is set for it, so that FailNth set later in a
  // test still counts from the first call of the operation.
  int nth = ++seen_[op];
  if (all_.count(op) != 0) return true;
  if (indices_.count(traceIndex) != 0) return true;
  auto it = nth_.find(op);
  return it != nth_.end() && it->second.count(nth) != 0;
}

std::string Quote(const char* text) {
  if (text == nullptr) return "NULL";
  return "\"" + std::string(text) + "\"";
}

std::string HkeyName(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (key == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (key == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (key == HKEY_USERS) return "HKEY_USERS";
  if (key == HKEY_CURRENT_CONFIG) return "HKEY_CURRENT_CONFIG";
  if (key == nullptr) return "NULL";
  return "hkey#" + std::to_string(reinterpret_cast<std::uintptr_t>(key));
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

TracedCall::TracedCall(std::string op, std::vector<std::string> args)
    : machine_(Current()), call_{std::move(op), std::move(args), {}}, fails_(false) {
  // The index this call will take in the trace once it is recorded.
  fails_ = machine_.faults().ShouldFail(call_.op, machine_.trace().Calls().size());
}

void TracedCall::Done(std::string resultText) {
  if (done_) throw Unmodelled("TracedCall::Done: " + call_.op + " finished twice");
  done_ = true;
  call_.result = std::move(resultText);
  machine_.trace().Record(std::move(call_));
}

}  // namespace sim
