// The call trace, injected faults, and the TracedCall helper that every simulated Win32 function
// starts with: it asks the faults once whether the call fails and records the call when done.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
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
  if (count > 1) text += " (" + std::to_string(count) + " times)";
  return text;
}

const Call& Trace::Records::Iterator::operator*() const {
  if (filled_ != index_) {
    trace_->Fill(index_, call_);
    filled_ = index_;
  }
  return call_;
}

Trace::Text Trace::Store(std::string_view text) {
  // Texts that come back (the same file, key or word, "0", "byte") are found among the recent
  // ones and stored once; a text not seen lately is appended.
  Text& recent = recentTexts_[std::hash<std::string_view>()(text) % recentTexts_.size()];
  if (!bytes_.empty() && recent.size == text.size() && View(recent) == text) return recent;
  if (text.size() > UINT32_MAX) throw Unmodelled("Trace: a text of more than 4 GB");
  constexpr std::size_t kChunk = std::size_t(1) << kByteChunkBits;
  const bool own = text.size() > kChunk;
  if (bytes_.empty() || own || lastChunkUsed_ + text.size() > kChunk) {
    if (bytes_.size() == (std::size_t(1) << (32 - kByteChunkBits))) throw Unmodelled("Trace: more than 4 GB of texts");
    bytes_.push_back(std::make_unique_for_overwrite<char[]>(own ? text.size() : kChunk));
    lastChunkUsed_ = 0;
  }
  const Text stored{static_cast<std::uint32_t>(((bytes_.size() - 1) << kByteChunkBits) | lastChunkUsed_),
                    static_cast<std::uint32_t>(text.size())};
  text.copy(bytes_.back().get() + lastChunkUsed_, text.size());
  // A chunk of its own takes no more texts.
  lastChunkUsed_ = own ? kChunk : lastChunkUsed_ + text.size();
  recent = stored;
  return stored;
}

// A record's texts as a list in texts_; a list that came lately (a file's name and "byte", again
// and again between words) is stored once.
std::uint32_t Trace::StoreList(const Text* texts, std::size_t count) {
  std::size_t hash = count;
  for (std::size_t i = 0; i < count; ++i) hash = hash * 31 + texts[i].at * 7 + texts[i].size;
  auto& recent = recentLists_[hash % recentLists_.size()];
  if (recent.second == count && recent.first + count <= texts_.size()) {
    bool same = true;
    for (std::size_t i = 0; same && i < count; ++i) same = texts_[recent.first + i] == texts[i];
    if (same) return recent.first;
  }
  if (texts_.size() + count > UINT32_MAX) throw Unmodelled("Trace: more than 4 billion texts");
  const auto at = static_cast<std::uint32_t>(texts_.size());
  for (std::size_t i = 0; i < count; ++i) texts_.push_back(texts[i]);
  recent = {at, static_cast<std::uint32_t>(count)};
  return at;
}

// A call's texts, its arguments (kMostArgs at most) and then its result, as a list in texts_.
std::uint32_t Trace::StoreCall(const std::string_view* args, std::size_t argCount, std::string_view result) {
  std::array<Text, kMostArgs + 1> texts;
  for (std::size_t i = 0; i < argCount; ++i) texts[i] = Store(args[i]);
  texts[argCount] = Store(result);
  return StoreList(texts.data(), argCount + 1);
}

std::uint16_t Trace::OpIndex(std::string_view op) {
  // The operations asked for lately first: a scan alternates between two or three of them.
  for (std::uint16_t index : recentOps_) {
    if (index < ops_.size() && ops_[index] == op) return index;
  }
  std::size_t found = 0;
  while (found < ops_.size() && ops_[found] != op) ++found;
  if (found == ops_.size()) {
    if (ops_.size() == UINT16_MAX) throw Unmodelled("Trace: too many operations");
    ops_.emplace_back(op);
  }
  std::rotate(recentOps_.begin(), recentOps_.end() - 1, recentOps_.end());
  recentOps_[0] = static_cast<std::uint16_t>(found);
  return recentOps_[0];
}

bool Trace::SameAsLast(std::uint16_t op, const std::string_view* args, std::size_t argCount,
                       std::string_view result) const {
  if (records_.size() == 0) return false;
  const Entry& last = records_[records_.size() - 1];
  if (last.op != op || last.argCount != argCount || last.count == UINT32_MAX) return false;
  if (View(texts_[last.texts + argCount]) != result) return false;
  for (std::size_t i = 0; i < argCount; ++i) {
    if (View(texts_[last.texts + i]) != args[i]) return false;
  }
  return true;
}

void Trace::Add(std::string_view op, const std::string_view* args, std::size_t argCount, std::string_view result) {
  if (argCount > kMostArgs) throw Unmodelled("Trace: a call of more than 16 arguments");
  const std::uint16_t index = OpIndex(op);
  ++size_;
  if (SameAsLast(index, args, argCount, result)) {
    ++records_.back().count;
  } else {
    records_.push_back(Entry{StoreCall(args, argCount, result), index, static_cast<std::uint16_t>(argCount), 1});
  }
  if (onCall) Notify(records_.size() - 1);
}

void Trace::Record(std::string_view op, std::initializer_list<std::string_view> args, std::string_view result) {
  Add(op, args.begin(), args.size(), result);
}

void Trace::Record(std::string_view op, std::span<const std::string_view> args, std::string_view result) {
  Add(op, args.data(), args.size(), result);
}

Trace::Prepared Trace::Prepare(std::string_view op, std::initializer_list<std::string_view> args,
                               std::string_view result) {
  if (args.size() > kMostArgs) throw Unmodelled("Trace: a call of more than 16 arguments");
  Prepared prepared;
  prepared.texts = StoreCall(args.begin(), args.size(), result);
  prepared.op = OpIndex(op);
  prepared.argCount = static_cast<std::uint16_t>(args.size());
  prepared.generation = generation_;
  return prepared;
}

void Trace::Record(const Prepared& call) {
  if (!Holds(call)) throw Unmodelled("Trace: a call prepared before the trace was cleared");
  ++size_;
  bool same = false;
  if (records_.size() != 0) {
    const Entry& last = records_.back();
    same = last.op == call.op && last.argCount == call.argCount && last.count != UINT32_MAX;
    // The same texts stored elsewhere are the same call all the same.
    for (std::size_t i = 0; same && last.texts != call.texts && i <= call.argCount; ++i)
      same = View(texts_[last.texts + i]) == View(texts_[call.texts + i]);
  }
  if (same) {
    ++records_.back().count;
  } else {
    records_.push_back(Entry{call.texts, call.op, call.argCount, 1});
  }
  if (onCall) Notify(records_.size() - 1);
}

// The call alone, in a Call kept for the purpose, so that watching the calls costs no allocation
// per call; the calls that an observer itself makes get a Call of their own.
void Trace::Notify(std::size_t index) {
  if (notifying_) {
    Call call = CallOf(index);
    call.count = 1;
    onCall(call);
    return;
  }
  notifying_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{notifying_};
  Fill(index, watched_);
  watched_.count = 1;
  onCall(watched_);
}

void Trace::Record(const Call& call) {
  std::array<std::string_view, kMostArgs> args;
  if (call.args.size() > args.size()) throw Unmodelled("Trace: a call of more than 16 arguments");
  std::copy(call.args.begin(), call.args.end(), args.begin());
  Add(call.op, args.data(), call.args.size(), call.result);
}

void Trace::Fill(std::size_t index, Call& call) const {
  if (index >= records_.size()) throw Unmodelled("Trace: no record " + std::to_string(index));
  const Entry& entry = records_[index];
  call.op = ops_[entry.op];
  call.args.resize(entry.argCount);
  for (std::size_t i = 0; i < entry.argCount; ++i) call.args[i] = View(texts_[entry.texts + i]);
  call.result = View(texts_[entry.texts + entry.argCount]);
  call.count = entry.count;
}

Call Trace::CallOf(std::size_t index) const {
  Call call;
  Fill(index, call);
  return call;
}

void Trace::Clear() {
  records_.clear();
  texts_.clear();
  bytes_.clear();
  lastChunkUsed_ = 0;
  recentTexts_.fill(Text{0, 0});
  recentLists_.fill({0, 0});
  size_ = 0;
  ++generation_;
}

void Trace::Visit(const std::function<void(const RecordView&)>& visitor) const {
  std::array<std::string_view, kMostArgs> args;
  for (std::size_t i = 0; i < records_.size(); ++i) {
    const Entry& entry = records_[i];
    for (std::size_t a = 0; a < entry.argCount; ++a) args[a] = View(texts_[entry.texts + a]);
    visitor(RecordView{ops_[entry.op], std::span<const std::string_view>(args.data(), entry.argCount),
                       View(texts_[entry.texts + entry.argCount]), entry.count});
  }
}

std::vector<Call> Trace::Unfolded() const {
  std::vector<Call> calls;
  for (const Call& record : Calls()) {
    Call one = record;
    one.count = 1;
    calls.insert(calls.end(), record.count, one);
  }
  return calls;
}

std::vector<Call> Trace::Of(std::string_view op) const {
  std::vector<Call> calls;
  for (std::size_t i = 0; i < records_.size(); ++i) {
    if (ops_[records_[i].op] != op) continue;
    Call one = CallOf(i);
    one.count = 1;
    calls.insert(calls.end(), records_[i].count, one);
  }
  return calls;
}

std::size_t Trace::Count(std::string_view op) const {
  std::size_t count = 0;
  for (std::size_t i = 0; i < records_.size(); ++i) {
    if (ops_[records_[i].op] == op) count += records_[i].count;
  }
  return count;
}

std::vector<std::string> Trace::Ops() const {
  std::vector<std::string> ops;
  ops.reserve(size_);
  for (std::size_t i = 0; i < records_.size(); ++i) ops.insert(ops.end(), records_[i].count, ops_[records_[i].op]);
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
  recent_.fill({nullptr, nullptr});
}

bool Faults::ShouldFail(std::string_view op, std::size_t traceIndex) {
  // Every call is counted, whether or not a fault is set for it, so that FailNth set later in a
  // test still counts from the first call of the operation. The operations asked about lately
  // are looked for first: a scan alternates between two or three of them.
  int* seen = nullptr;
  for (const auto& [name, count] : recent_) {
    if (count != nullptr && *name == op) {
      seen = count;
      break;
    }
  }
  if (seen == nullptr) {
    auto it = seen_.find(op);
    if (it == seen_.end()) it = seen_.emplace(std::string(op), 0).first;
    std::rotate(recent_.begin(), recent_.end() - 1, recent_.end());
    recent_[0] = {&it->first, &it->second};
    seen = &it->second;
  }
  const int nth = ++*seen;
  if (!all_.empty() && all_.count(op) != 0) return true;
  if (!indices_.empty() && indices_.count(traceIndex) != 0) return true;
  if (nth_.empty()) return false;
  auto it = nth_.find(op);
  return it != nth_.end() && it->second.count(nth) != 0;
}

std::string Quote(const char* text) {
  if (text == nullptr) return "NULL";
  std::string quoted;
  quoted.reserve(std::strlen(text) + 2);
  quoted += '"';
  quoted += text;
  quoted += '"';
  return quoted;
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

std::string HandleName(const void* handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  using Handles = Machine::Handles;
  if (handle == nullptr) return "NULL";
  if (value == static_cast<std::uintptr_t>(-1)) return "INVALID_HANDLE_VALUE";
  if (value >= Handles::kKeys && value < Handles::kSearches) return "hkey#" + std::to_string(value);
  if (value >= Handles::kSearches && value < Handles::kFiles) return "search#" + std::to_string(value);
  if (value >= Handles::kFiles && value < Handles::kEnd) return "hfile#" + std::to_string(value);
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

TracedCall::TracedCall(std::string_view op, std::initializer_list<std::string_view> args)
    : machine_(Current()), op_(op), fails_(false) {
  std::size_t length = 0;
  for (std::string_view arg : args) length += arg.size();
  texts_.reserve(length);
  for (std::string_view arg : args) Append(arg);
  // The index this call will take in the trace once it is recorded.
  fails_ = machine_.faults().ShouldFail(op_, machine_.trace().Size());
}

TracedCall::TracedCall(std::string_view op, const std::vector<std::string>& args) : TracedCall(op, {}) {
  for (const std::string& arg : args) Append(arg);
}

void TracedCall::Append(std::string_view arg) {
  if (count_ == Trace::kMostArgs) throw Unmodelled("TracedCall: more than 16 arguments to " + std::string(op_));
  texts_ += arg;
  ends_[count_++] = texts_.size();
}

void TracedCall::Done(std::string_view resultText) {
  if (done_) throw Unmodelled("TracedCall::Done: " + std::string(op_) + " finished twice");
  done_ = true;
  std::array<std::string_view, Trace::kMostArgs> args;
  for (std::size_t i = 0, begin = 0; i < count_; begin = ends_[i++])
    args[i] = std::string_view(texts_).substr(begin, ends_[i] - begin);
  machine_.trace().Record(op_, std::span<const std::string_view>(args.data(), count_), resultText);
}

}  // namespace sim
