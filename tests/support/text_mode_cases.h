// The C runtime's text files, one table for both of the program's implementations: the simulated
// machine's (tests/sim/text_mode_test.cpp) and the Windows program's own, on KERNEL32 (run under
// Wine by tests/wine/platform_test.cpp). Each case starts from a file's bytes, opens it "r" or
// "a+", takes its steps, closes it, and ends with the file's bytes.
//
// A runner seeds the file (as a plain file, or held as the case says), and makes the runtime's
// reads or writes fail when a step asks for it: the simulated machine through its faults, the
// program's own runtime through failing ReadFile and WriteFile calls. The Windows runtime reads and
// writes 4096 bytes at a time, and the simulated one does not buffer at all: a case makes reads
// fail where the read buffer is used up, and writes where both see the failure at the same call
// (a write longer than the buffer, or the close).
//
// Include it after "platform.h": RunTextModeCase calls the C functions of whichever platform that is.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace text_mode {

enum class Op {
  Read,  // `count` fgetc calls (-1: until EOF); result: the bytes they gave, each EOF as "<EOF>"
  Tell,  // ftell; result: the number
  Puts,  // fputs(text); result: "ok" (not negative) or "EOF"
  Line,  // fprintf("%s\n", text); result: what it returned
  Grow,  // another handle appends text to the file, raw; no result
  Error,       // ferror; result: "set" (not 0) or "clear"
  FailReads,   // from here on, every read the runtime makes of the file fails; no result
  FailWrites,  // from here on, every write the runtime makes to the file fails; no result
};

// How the file stands before the open, beside its bytes.
enum class Held {
  No,        // a plain file (or none)
  ReadOnly,  // the read-only attribute
  InUse,     // another program holds it open and shares it with no one
  Folder,    // a folder stands under the name (the case has no bytes before)
};

struct Step {
  Op op;
  std::string text;
  std::string result;
  int count = -1;
};

inline Step ReadAll(std::string read) { return {Op::Read, "", std::move(read), -1}; }
inline Step Read(int count, std::string read) { return {Op::Read, "", std::move(read), count}; }
inline Step Tell(long offset) { return {Op::Tell, "", std::to_string(offset)}; }
inline Step Puts(std::string text) { return {Op::Puts, std::move(text), "ok"}; }
inline Step Line(std::string text) { return {Op::Line, text, std::to_string(text.size() + 1)}; }
inline Step Grow(std::string text) { return {Op::Grow, std::move(text), ""}; }
inline Step LineFails(std::string text) { return {Op::Line, std::move(text), "-1"}; }
inline Step Error(bool set) { return {Op::Error, "", set ? "set" : "clear"}; }
inline Step FailReads() { return {Op::FailReads, "", ""}; }
inline Step FailWrites() { return {Op::FailWrites, "", ""}; }

struct Case {
  const char* name;
  std::optional<std::string> before;                // nullopt: no such file
  bool append;                                      // "a+"; otherwise "r"
  std::vector<Step> steps;                          // for a case whose open must fail (opens false): none
  std::optional<std::string> after = std::nullopt;  // nullopt: the bytes it had before
  bool opens = true;
  bool closes = true;  // fclose returns 0; otherwise EOF
  Held held = Held::No;
};

// The Windows runtime reads and writes 4096 bytes at a time; the cases at that edge are for it.
constexpr std::size_t kBufferEdge = 4096;

inline std::string Bytes(const char* text, std::size_t size) { return std::string(text, size); }
#define TEXT_MODE_BYTES(literal) ::text_mode::Bytes(literal, sizeof(literal) - 1)

inline std::vector<Case> Cases() {
  const std::string edge(kBufferEdge - 1, 'a');  // ends just before the buffer's edge
  const std::string full(kBufferEdge, 'a');      // fills the buffer
  const std::string big(70000, 'z');
  // 600 lines of 17 bytes, 10,200 in all: three refills of the read buffer and part of a fourth.
  std::string lines, linesRead;
  for (int i = 0; i < 600; ++i) {
    lines += "0123456789abcde\r\n";
    linesRead += "0123456789abcde\n";
  }
  return {
      // Reading.
      {"CR LF reads as one line feed", "a\r\nb\r\n", false, {ReadAll("a\nb\n"), Tell(6)}},
      {"a lone line feed stays", "a\nb", false, {ReadAll("a\nb"), Tell(3)}},
      {"a lone CR stays", "a\rb", false, {ReadAll("a\rb")}},
      {"a CR at the very end stays", "a\r", false, {ReadAll("a\r"), Tell(2)}},
      {"CR CR LF reads as CR and one line feed", "\r\r\n", false, {ReadAll("\r\n"), Tell(3)}},
      {"LF CR stays as it is", "\n\r", false, {ReadAll("\n\r")}},
      {"a Ctrl-Z mid-file ends it, and ftell does not count it",
       "ab\x1A"
       "cd\r\n",
       false,
       {ReadAll("ab"), Tell(2), Read(1, "<EOF>"), Tell(2)}},
      {"a final Ctrl-Z is not read", "ab\r\n\x1A", false, {ReadAll("ab\n"), Tell(4)}},
      {"a CR before a Ctrl-Z stays a CR", "a\r\x1A\n", false, {ReadAll("a\r"), Tell(2)}},
      {"a file of only Ctrl-Z is empty", "\x1A", false, {ReadAll(""), Tell(0)}},
      {"an empty file", "", false, {Tell(0), ReadAll(""), Tell(0)}},
      {"a byte above 0x7F is not EOF", "\xFF\x80", false, {ReadAll("\xFF\x80")}},
      {"a NUL byte is read like any other", TEXT_MODE_BYTES("a\0b"), false, {ReadAll(TEXT_MODE_BYTES("a\0b"))}},
      {"ftell counts the raw bytes read, CR LF as two",
       "a\r\nb",
       false,
       {Tell(0), Read(1, "a"), Tell(1), Read(1, "\n"), Tell(3), Read(1, "b"), Tell(4), Read(1, "<EOF>"), Tell(4)}},
      {"CR LF across the read buffer's edge", edge + "\r\nb", false, {ReadAll(edge + "\nb"), Tell(4098)}},
      {"a CR on the read buffer's edge before a Ctrl-Z",
       edge + "\r\x1A"
              "b",
       false,
       {ReadAll(edge + "\r"), Tell(4096)}},
      {"a missing file cannot be read", std::nullopt, false, {}, std::nullopt, false},
      {"a Ctrl-Z as the read buffer's last byte (4095)",
       edge + "\x1A"
              "b",
       false,
       {ReadAll(edge), Tell(4095), Error(false)}},
      {"a Ctrl-Z as the second read buffer's first byte (4096)",
       full + "\x1A"
              "b",
       false,
       {ReadAll(full), Tell(4096), Error(false)}},
      {"ftell after three refills of the read buffer, CR LF as two",
       lines,
       false,
       {Read(8500, linesRead.substr(0, 8500)), Tell(531 * 17 + 4), ReadAll(linesRead.substr(8500)), Tell(10200),
        Error(false)}},
      {"a read that fails part way: EOF, ftell where it stopped, and ferror set",
       std::string(6000, 'a'),
       false,
       {Read(4096, full), FailReads(), Read(2, "<EOF><EOF>"), Tell(4096), Error(true)}},
      {"a read that fails on the last byte: not the end of the file, ferror tells",
       std::string(kBufferEdge - 2, 'a') + "\r\nB",
       false,
       {Read(4095, std::string(kBufferEdge - 2, 'a') + "\n"), FailReads(), Read(1, "<EOF>"), Tell(4096), Error(true)}},

      // Appending: "a+".
      {"a missing file is created",
       std::nullopt,
       true,
       {Line("[rename]"), Line("NUL=C:\\X")},
       "[rename]\r\nNUL=C:\\X\r\n"},
      {"an empty file", "", true, {Line("x")}, "x\r\n"},
      {"after a CR LF that ends the file", "[rename]\r\n", true, {Line("x")}, "[rename]\r\nx\r\n"},
      {"after a last line with no line end", "[rename]", true, {Line("x")}, "[rename]x\r\n"},
      {"a final Ctrl-Z is removed", "[rename]\r\n\x1A", true, {Line("x")}, "[rename]\r\nx\r\n"},
      {"a file of one Ctrl-Z", "\x1A", true, {Line("x")}, "x\r\n"},
      {"only one of two final Ctrl-Z", "a\x1A\x1A", true, {Line("x")}, "a\x1Ax\r\n"},
      {"a Ctrl-Z that does not end the file stays",
       "a\x1A"
       "b",
       true,
       {Line("x")},
       "a\x1A"
       "bx\r\n"},
      {"the Ctrl-Z goes at the open, with nothing written", "a\x1A", true, {}, "a"},
      {"nothing written leaves the file", "a\r\n", true, {}, std::nullopt},
      {"a CR LF written becomes CR CR LF", "", true, {Line("a\r")}, "a\r\r\n"},
      {"a lone CR written stays", "", true, {Line("a\rb")}, "a\rb\r\n"},
      {"fputs of a line feed, then a line", "[x]", true, {Puts("\n"), Line("[rename]")}, "[x]\r\n[rename]\r\n"},
      {"every write goes to the end, after what others appended",
       "[rename]\r\n",
       true,
       {Line("NUL=A"), Grow("other\r\n"), Line("NUL=B")},
       "[rename]\r\nother\r\nNUL=A\r\nNUL=B\r\n"},
      {"a CR LF written across the write buffer's edge", "", true, {Line(edge)}, edge + "\r\n"},
      {"a line longer than the write buffer", "", true, {Line(big)}, big + "\r\n"},
      {"a large file's final Ctrl-Z goes, the rest stays", big + "\x1A", true, {Line("x")}, big + "x\r\n"},
      {"a final Ctrl-Z as byte 4096 goes", full + "\x1A", true, {Line("x")}, full + "x\r\n"},
      {"a read-only file is not opened", "[rename]\r\n", true, {}, std::nullopt, false, true, Held::ReadOnly},
      {"a file in use is not opened", "[rename]\r\n", true, {}, std::nullopt, false, true, Held::InUse},
      {"a folder is not opened", std::nullopt, true, {}, std::nullopt, false, true, Held::Folder},
      {"a line that cannot be written at the close: fclose says so",
       "[rename]\r\n",
       true,
       {Line("NUL=C:\\X"), FailWrites()},
       std::nullopt,
       true,
       false},
      {"a line longer than the write buffer that cannot be written: fprintf and fclose say so",
       "[rename]\r\n",
       true,
       {FailWrites(), LineFails(big)},
       std::nullopt,
       true,
       false},
  };
}

// How a read shows in a result: the bytes, each EOF as "<EOF>".
inline std::string ReadText(int c) { return c == EOF ? "<EOF>" : std::string(1, static_cast<char>(c)); }

// Opens path as the case says, takes its steps, closes; returns one sentence per difference from
// the case. `grow` appends raw bytes to the file through a handle of its own; `fail` makes the
// runtime's reads (Op::FailReads) or writes (Op::FailWrites) fail from then on, until the runner
// ends the case. A runner without it cannot run the cases that need it, and is told so.
inline std::vector<std::string> RunTextModeCase(const Case& c, const char* path,
                                                const std::function<void(const std::string&)>& grow,
                                                const std::function<void(Op)>& fail = {}) {
  std::vector<std::string> problems;
  FILE* file = c.append ? fopen(path, "a+") : fopen(path, "r");
  if ((file != nullptr) != c.opens) {
    problems.push_back(c.opens ? "fopen failed" : "fopen opened what it must not");
  }
  if (file == nullptr) {
    return problems;
  }
  for (std::size_t i = 0; i < c.steps.size(); ++i) {
    const Step& step = c.steps[i];
    std::string result;
    switch (step.op) {
      case Op::Read:
        if (step.count < 0) {
          for (int ch = fgetc(file); ch != EOF; ch = fgetc(file)) result += ReadText(ch);
        } else {
          for (int n = 0; n < step.count; ++n) result += ReadText(fgetc(file));
        }
        break;
      case Op::Tell: result = std::to_string(ftell(file)); break;
      case Op::Puts: result = fputs(step.text.c_str(), file) >= 0 ? "ok" : "EOF"; break;
      case Op::Line: result = std::to_string(fprintf(file, "%s\n", step.text.c_str())); break;
      case Op::Grow: grow(step.text); break;
      case Op::Error: result = ferror(file) != 0 ? "set" : "clear"; break;
      case Op::FailReads:
      case Op::FailWrites:
        if (fail) {
          fail(step.op);
        } else {
          result = "this runner cannot make the runtime's reads or writes fail";
        }
        break;
    }
    if (result != step.result) {
      problems.push_back("step " + std::to_string(i + 1) + ": got \"" + result.substr(0, 200) + "\", expected \"" +
                         step.result.substr(0, 200) + "\"");
    }
  }
  if ((fclose(file) == 0) != c.closes) {
    problems.push_back(c.closes ? "fclose failed" : "fclose succeeded where a write had failed");
  }
  return problems;
}

}  // namespace text_mode
