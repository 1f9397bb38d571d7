// The C runtime's text files on the simulated machine's drives, with the meaning Microsoft's
// runtime gives text mode: CR LF reads as one line feed, a 0x1A byte ends the file, a line feed
// written becomes CR LF, and ftell on a file opened for reading gives the bytes the reads took
// from the file; ferror tells a read or write that failed, and fclose gives EOF once a write has
// failed, as the program's own runtime does. Only the two uses the program has are modelled:
// reading an existing file ("r", "rt") and appending ("a+", "at+"), whose output stays in memory
// until the close.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "internal.h"
#include "platform.h"
#include "sim/crt.h"
#include "sim/errors.h"
#include "sim/text.h"

struct SimFile {
  int number = 0;          // file#N in the trace: the lowest number no other open file has
  std::string name;        // that name
  std::string path;        // as the program passed it
  bool appending = false;  // "a+": written out at the close; otherwise opened for reading
  std::string text;        // for reading: the file's bytes up to its first 0x1A
  std::size_t next = 0;    // for reading: the next byte of text
  std::string pending;     // for appending: what the writes produced, line ends already CR LF
  bool atEnd = false;   // a read met the end of the text
  bool failed = false;  // a read or a write failed: ferror says so (and fclose, for a write)
  sim::Trace::Prepared byteRead, endRead;  // fgetc(file#N) = byte, and = EOF
};

namespace {

constexpr char kCtrlZ = 0x1A;

// Every file opened and not yet closed, on any machine; a machine's own open files are listed in
// its handles. Owning them here keeps a file a test forgot to close from outliving the process.
std::map<SimFile*, std::unique_ptr<SimFile>>& AllFiles() {
  static std::map<SimFile*, std::unique_ptr<SimFile>> files;
  return files;
}

const std::string& Name(const SimFile* file) { return file->name; }

// The file must be one that is open on the current machine: a closed or foreign stream is a
// fault of the caller, not something the runtime would survive.
SimFile* CheckOpen(SimFile* file, const char* op) {
  sim::Machine& machine = sim::Current();
  if (file == nullptr) throw sim::Unmodelled(std::string(op) + ": a NULL file");
  if (machine.handles().files.count(file) == 0) {
    throw sim::Unmodelled(std::string(op) + ": not a file open on this machine");
  }
  return file;
}

SimFile* CheckReadable(SimFile* file, const char* op) {
  CheckOpen(file, op);
  if (file->appending) {
    throw sim::Unmodelled(std::string(op) + ": reading a file opened for appending is not modelled");
  }
  return file;
}

SimFile* CheckWritable(SimFile* file, const char* op) {
  CheckOpen(file, op);
  if (!file->appending) {
    throw sim::Unmodelled(std::string(op) + ": writing a file opened for reading is not modelled");
  }
  return file;
}

int LowestFreeNumber(sim::Machine& machine) {
  for (int number = 1;; ++number) {
    bool used = false;
    for (const SimFile* open : machine.handles().files) used = used || open->number == number;
    if (!used) return number;
  }
}

// Text mode on output: each line feed goes out as CR LF, every other byte as it is.
void AppendTextMode(std::string& out, std::string_view text) {
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
}

// How a byte (a %c argument) shows in the trace.
std::string ByteText(int c) {
  if (c >= 0x20 && c < 0x7F) return std::string("'") + static_cast<char>(c) + "'";
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(c));
  return text;
}

// The arguments that follow a format, as the trace shows them: strings quoted, numbers in
// decimal. Only the plain conversions are read; any other is refused rather than misread.
std::vector<std::string> FormatArguments(const char* format, std::va_list args) {
  std::vector<std::string> texts;
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') continue;
    ++p;
    while (*p != '\0' && std::strchr("-+ #0123456789.", *p) != nullptr) ++p;
    const bool isLong = *p == 'l';
    if (isLong) ++p;
    switch (*p) {
      case '%': break;
      case 's': texts.push_back(sim::Quote(va_arg(args, const char*))); break;
      case 'c': texts.push_back(ByteText(static_cast<unsigned char>(va_arg(args, int)))); break;
      case 'd':
      case 'i': texts.push_back(isLong ? std::to_string(va_arg(args, long)) : std::to_string(va_arg(args, int))); break;
      case 'u':
      case 'x':
      case 'X':
        texts.push_back(isLong ? std::to_string(va_arg(args, unsigned long)) : std::to_string(va_arg(args, unsigned)));
        break;
      default: throw sim::Unmodelled(std::string("fprintf: the conversions of \"") + format + "\" are not modelled");
    }
  }
  return texts;
}

}  // namespace

SimFile* SimFopen(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) throw sim::Unmodelled("fopen: a NULL path or mode");
  const std::string modeText = mode;
  bool appending;
  if (modeText == "r" || modeText == "rt") {
    appending = false;
  } else if (modeText == "a+" || modeText == "at+") {
    appending = true;
  } else {
    throw sim::Unmodelled("fopen: mode \"" + modeText + "\" is not modelled (only r, rt, a+ and at+)");
  }

  sim::TracedCall call("fopen", {sim::Quote(path), sim::Quote(mode)});
  sim::Machine& machine = call.machine();
  sim::FileSystem& files = machine.files;
  auto refuse = [&call]() -> SimFile* {
    call.Done("NULL");
    return nullptr;
  };
  if (call.Fails() || files.IsDirectory(path)) return refuse();

  std::string text;
  if (files.IsFile(path)) {
    const sim::FileAttributes attributes = files.Attributes(path).value_or(sim::FileAttributes{});
    if (attributes.inUse) return refuse();
    if (appending && attributes.readOnly) return refuse();
    text = files.ReadFile(path).value_or("");
    // Opening for reading and appending drops one Ctrl-Z that ends the file, so that what is
    // appended is not hidden behind it. Where that fails, the open goes on, as the runtime's does.
    if (appending && !text.empty() && text.back() == kCtrlZ) {
      files.Replace(path, std::string_view(text).substr(0, text.size() - 1));
    }
  } else {
    if (!appending) return refuse();
    // Creating the file needs its folder to exist already.
    const std::string_view pathText = path;
    const std::size_t lastSeparator = pathText.rfind('\\');
    if (lastSeparator == std::string_view::npos) return refuse();
    if (!files.IsDirectory(pathText.substr(0, lastSeparator + 1))) return refuse();
    if (files.Replace(path, "") != 0) return refuse();
  }

  auto file = std::make_unique<SimFile>();
  file->number = LowestFreeNumber(machine);
  file->name = "file#" + std::to_string(file->number);
  file->path = path;
  file->appending = appending;
  if (!appending) {
    // Text mode: a Ctrl-Z ends the file, and nothing after it can be read.
    const std::size_t end = text.find(kCtrlZ);
    if (end != std::string::npos) text.resize(end);
    file->text = std::move(text);
  }
  SimFile* handle = file.get();
  AllFiles().emplace(handle, std::move(file));
  machine.handles().files.insert(handle);
  call.Done(Name(handle));
  return handle;
}

int SimFclose(SimFile* file) {
  CheckOpen(file, "fclose");
  sim::TracedCall call("fclose", {Name(file)});
  sim::Machine& machine = call.machine();
  machine.handles().files.erase(file);
  std::unique_ptr<SimFile> owned = std::move(AllFiles()[file]);
  AllFiles().erase(file);

  // A write that failed earlier lost its line: the close reports it, as the runtime's does.
  int result = owned->appending && owned->failed ? EOF : 0;
  if (call.Fails()) {
    result = EOF;  // nothing buffered reaches the file
  } else if (owned->appending && !owned->pending.empty()) {
    if (machine.files.Append(owned->path, owned->pending) != 0) result = EOF;
  }
  return call.Return(result);
}

// Called once per byte of a file: traced as a call prepared once per file, so that a byte costs
// no look-up and the reads of one file in a row stay one record ("byte" for each byte
// delivered, then "EOF").
int SimFgetc(SimFile* file) {
  CheckReadable(file, "fgetc");
  sim::Machine& machine = sim::Current();
  sim::Trace& trace = machine.trace();
  auto record = [&](sim::Trace::Prepared& prepared, const char* result) {
    if (!trace.Holds(prepared)) prepared = trace.Prepare("fgetc", {Name(file)}, result);
    trace.Record(prepared);
  };
  if (machine.faults().ShouldFail("fgetc", trace.Size())) {
    file->failed = true;
    record(file->endRead, "EOF");
    return EOF;
  }
  if (file->next >= file->text.size()) {
    file->atEnd = true;
    record(file->endRead, "EOF");
    return EOF;
  }
  int c = static_cast<unsigned char>(file->text[file->next++]);
  // CR LF reads as one line feed; a CR before anything else (or at the end) stays a CR.
  if (c == '\r' && file->next < file->text.size() && file->text[file->next] == '\n') {
    c = '\n';
    ++file->next;
  }
  record(file->byteRead, "byte");
  return c;
}

// For a file opened for reading: how many of its bytes have been read, a CR LF counting two and
// the Ctrl-Z that ended reading none (the text ends before it).
long SimFtell(SimFile* file) {
  CheckReadable(file, "ftell");
  sim::TracedCall call("ftell", {Name(file)});
  if (call.Fails()) return call.Return(-1L);
  return call.Return(static_cast<long>(file->next));
}

int SimFeof(SimFile* file) {
  CheckReadable(file, "feof");
  sim::TracedCall call("feof", {Name(file)});
  if (call.Fails()) throw sim::Unmodelled("feof: it cannot fail");
  return call.Return(file->atEnd ? 1 : 0);
}

int SimFerror(SimFile* file) {
  CheckOpen(file, "ferror");
  sim::TracedCall call("ferror", {Name(file)});
  if (call.Fails()) throw sim::Unmodelled("ferror: it cannot fail");
  return call.Return(file->failed ? 1 : 0);
}

int SimFputs(const char* text, SimFile* file) {
  if (text == nullptr) throw sim::Unmodelled("fputs: a NULL text");
  CheckWritable(file, "fputs");
  sim::TracedCall call("fputs", {sim::Quote(text), Name(file)});
  if (call.Fails()) {
    file->failed = true;
    return call.Return(EOF);
  }
  AppendTextMode(file->pending, text);
  return call.Return(0);
}

int SimFprintf(SimFile* file, const char* format, ...) {
  if (format == nullptr) throw sim::Unmodelled("fprintf: a NULL format");
  CheckWritable(file, "fprintf");
  std::vector<std::string> traced = {Name(file), sim::Quote(format)};
  std::va_list args;
  va_start(args, format);
  std::va_list forTrace, forText;
  va_copy(forTrace, args);
  va_copy(forText, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, forText);
  va_end(forText);
  std::vector<std::string> argumentTexts;
  try {
    argumentTexts = FormatArguments(format, forTrace);
  } catch (...) {
    va_end(forTrace);
    throw;
  }
  va_end(forTrace);
  if (length < 0) throw sim::Unmodelled(std::string("fprintf: cannot format \"") + format + "\"");
  traced.insert(traced.end(), argumentTexts.begin(), argumentTexts.end());

  sim::TracedCall call("fprintf", std::move(traced));
  if (call.Fails()) {
    file->failed = true;
    return call.Return(-1);
  }
  AppendTextMode(file->pending, text);
  return call.Return(length);
}

namespace sim {

std::size_t BytesRead(Machine& machine, std::string_view path) {
  const std::string wanted = Quote(std::string(path).c_str());
  std::map<std::string, bool, std::less<>> isWanted;  // file#N -> whether its open was of path, as the trace goes
  std::size_t count = 0;
  machine.trace().Visit([&](const Trace::RecordView& call) {
    if (call.op == "fopen" && call.result != "NULL" && !call.args.empty()) {
      isWanted.insert_or_assign(std::string(call.result), sim::EqualNoCase(call.args[0], wanted));
    } else if (call.op == "fgetc" && call.result != "EOF" && !call.args.empty()) {
      auto it = isWanted.find(call.args[0]);
      if (it != isWanted.end() && it->second) count += call.count;
    }
  });
  return count;
}

}  // namespace sim
