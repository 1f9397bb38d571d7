// The record of every platform call the program makes, and the faults a test injects into them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// One platform call: its name, its arguments as text (strings quoted, handles by name) and its
// result; in the trace, a run of identical calls in a row is one record with their count.
struct Call {
  std::string op;
  std::vector<std::string> args;
  std::string result;
  std::size_t count = 1;
  // RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\Root\printer\0000", 0, 1) = 2, and a record of
  // several calls with their count: fgetc(file#1) = byte (13 times)
  std::string ToString() const;
};

// Every call in order, with its arguments. Identical calls in a row (the same operation,
// arguments and result: a file read byte by byte) fold into one record with their count, and the
// records keep their texts in chunks of their own, each text and each list of texts that comes
// back stored once, so that a removal that reads files of megabytes and compares millions of
// words costs a few dozen bytes per call and no allocation per call.
class Trace {
  // Storage in chunks: growing never moves what is stored, nor needs twice the room. The first
  // chunk is small, since most traces hold a few calls.
  template <typename T, std::size_t kChunk = 1024, std::size_t kFirst = 32>
  class Chunks {
   public:
    void push_back(const T& value) {
      if (size_ == capacity_) {
        const std::size_t room = chunks_.empty() ? kFirst : kChunk;
        chunks_.push_back(std::make_unique_for_overwrite<T[]>(room));
        capacity_ += room;
      }
      (*this)[size_++] = value;
    }
    T& operator[](std::size_t i) {
      if (i < kFirst) return chunks_[0][i];
      i -= kFirst;
      return chunks_[1 + i / kChunk][i % kChunk];
    }
    const T& operator[](std::size_t i) const { return const_cast<Chunks&>(*this)[i]; }
    T& back() { return (*this)[size_ - 1]; }
    std::size_t size() const { return size_; }
    void clear() {
      chunks_.clear();
      size_ = capacity_ = 0;
    }

   private:
    std::vector<std::unique_ptr<T[]>> chunks_;
    std::size_t size_ = 0, capacity_ = 0;
  };
  // (No member initializers: a chunk of them is written before it is read.)
  struct Text {
    std::uint32_t at, size;  // at: the chunk of bytes_ in the high 20 bits, the offset in the rest
    bool operator==(const Text&) const = default;
  };
  struct Entry {
    std::uint32_t texts;  // in texts_: the arguments, then the result
    std::uint16_t op;     // in ops_
    std::uint16_t argCount;
    std::uint32_t count;
  };

 public:
  // The records, a run of identical calls as one: a range of Call values. An iterator keeps the
  // record it points at as a Call of its own, valid until it moves on.
  class Records {
   public:
    class Iterator {
     public:
      using value_type = Call;
      using difference_type = std::ptrdiff_t;
      Iterator(const Trace* trace, std::size_t index) : trace_(trace), index_(index) {}
      const Call& operator*() const;
      const Call* operator->() const { return &**this; }
      Iterator& operator++() {
        ++index_;
        return *this;
      }
      bool operator==(const Iterator& other) const { return index_ == other.index_; }

     private:
      const Trace* trace_;
      std::size_t index_;
      mutable Call call_;
      mutable std::size_t filled_ = static_cast<std::size_t>(-1);
    };
    explicit Records(const Trace& trace) : trace_(trace) {}
    Iterator begin() const { return Iterator(&trace_, 0); }
    Iterator end() const { return Iterator(&trace_, size()); }
    std::size_t size() const { return trace_.records_.size(); }
    bool empty() const { return size() == 0; }
    Call operator[](std::size_t index) const { return trace_.CallOf(index); }
    Call front() const { return (*this)[0]; }
    Call back() const { return (*this)[size() - 1]; }

   private:
    const Trace& trace_;
  };

  static constexpr std::size_t kMostArgs = 16;  // the arguments a call may have
  void Record(const Call& call);
  // The same from views of the texts, building no Call: for the calls made once per byte or word.
  void Record(std::string_view op, std::initializer_list<std::string_view> args, std::string_view result);
  void Record(std::string_view op, std::span<const std::string_view> args, std::string_view result);
  // A call that its caller makes again and again with the same texts (a byte read from one file),
  // its texts stored once: recording it again looks nothing up. Valid until the trace is cleared.
  struct Prepared {
    std::uint32_t texts = 0;
    std::uint16_t op = 0, argCount = 0;
    std::uint64_t generation = 0;  // the trace's when prepared; 0: not prepared
  };
  Prepared Prepare(std::string_view op, std::initializer_list<std::string_view> args, std::string_view result);
  bool Holds(const Prepared& call) const { return call.generation == generation_; }
  void Record(const Prepared& call);
  Records Calls() const { return Records(*this); }  // the records, runs folded
  std::size_t Size() const { return size_; }        // the calls, each of a run counted
  void Clear();
  // Each record in order, as views of its texts that last until the visitor returns: a look at
  // a whole trace of millions of calls that builds no Call.
  struct RecordView {
    std::string_view op;
    std::span<const std::string_view> args;
    std::string_view result;
    std::size_t count;
  };
  void Visit(const std::function<void(const RecordView&)>& visitor) const;
  std::vector<Call> Unfolded() const;               // every call, in order, one each
  std::vector<Call> Of(std::string_view op) const;  // the calls of one operation, in order, one each
  std::size_t Count(std::string_view op) const;
  std::vector<std::string> Ops() const;  // every call's name, in order, one each
  // Called after each call is recorded, with that call alone: a test's window on the moment of a call.
  std::function<void(const Call&)> onCall;

 private:
  static constexpr unsigned kByteChunkBits = 12;  // chunks of 4 KiB; a longer text has one of its own
  Text Store(std::string_view text);
  std::string_view View(Text text) const {
    return std::string_view(bytes_[text.at >> kByteChunkBits].get() + (text.at & ((1u << kByteChunkBits) - 1)),
                            text.size);
  }
  std::uint32_t StoreList(const Text* texts, std::size_t count);
  std::uint32_t StoreCall(const std::string_view* args, std::size_t argCount, std::string_view result);
  std::uint16_t OpIndex(std::string_view op);
  bool SameAsLast(std::uint16_t op, const std::string_view* args, std::size_t argCount, std::string_view result) const;
  void Add(std::string_view op, const std::string_view* args, std::size_t argCount, std::string_view result);
  void Fill(std::size_t index, Call& call) const;
  Call CallOf(std::size_t index) const;
  void Notify(std::size_t index);  // onCall, with the last call of record index

  Chunks<Entry> records_;
  Chunks<Text> texts_;                          // each record's list of texts
  std::vector<std::unique_ptr<char[]>> bytes_;  // the texts' bytes
  std::size_t lastChunkUsed_ = 0;               // bytes used in the last chunk of bytes_
  std::vector<std::string> ops_;                // the operations' names
  std::array<std::uint16_t, 4> recentOps_{};    // indices in ops_ asked for lately, the last first
  std::array<Text, 256> recentTexts_{};         // a text stored lately, by a hash of it
  std::array<std::pair<std::uint32_t, std::uint32_t>, 64> recentLists_{};  // a list stored lately: where, how long
  std::size_t size_ = 0;
  std::uint64_t generation_ = 1;  // one more at every Clear
  Call watched_;                  // what onCall is shown
  bool notifying_ = false;
};

// Which calls fail. Each simulated function asks ShouldFail(op) once per call; a failing call
// returns its operation's failure result (and sets the last error) and changes nothing.
class Faults {
 public:
  void FailAll(std::string op);           // every call of op
  void FailNth(std::string op, int n);    // the nth call of op, counting from 1
  void FailCallIndex(std::size_t index);  // the call that will be the trace's call `index` (0-based)
  void Clear();
  bool ShouldFail(std::string_view op, std::size_t traceIndex);

 private:
  std::set<std::string, std::less<>> all_;
  std::map<std::string, std::set<int>, std::less<>> nth_;
  std::set<std::size_t> indices_;
  std::map<std::string, int, std::less<>> seen_;
  // Operations asked about lately and their counts in seen_, the last first: a scan of a file
  // asks about the same two or three millions of times.
  std::array<std::pair<const std::string*, int*>, 4> recent_{};
};

}  // namespace sim
