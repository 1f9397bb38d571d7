// The simulated C runtime text files: text mode on reading and appending, buffering until the
// close, the opens that are refused, and the injected faults.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform.h"
#include "sim/crt.h"
#include "sim/machine.h"

namespace {

const char kPath[] = "C:\\WINDOWS\\wininit.ini";

class CrtTest : public ::testing::Test {
 protected:
  sim::Machine machine;
  sim::Activation active{machine};

  // Every character fgetc gives until EOF, and the end flag just before that EOF.
  std::string ReadAll(FILE* file, bool* endSeenEarly = nullptr) {
    std::string text;
    for (int c = fgetc(file); c != EOF; c = fgetc(file)) {
      if (endSeenEarly != nullptr && feof(file)) *endSeenEarly = true;
      text += static_cast<char>(c);
    }
    return text;
  }
  std::string Bytes(const char* path = kPath) { return machine.files.ReadFile(path).value_or("<missing>"); }
};

struct ReadCase {
  const char* name;
  std::string bytes;
  std::string read;
  long position;  // ftell at the end: the bytes taken from the file
};

TEST_F(CrtTest, ReadsInTextMode) {
  const std::vector<ReadCase> cases = {
      {"CR LF reads as one line feed", "a\r\nb\r\n", "a\nb\n", 6},
      {"a lone line feed stays", "a\nb", "a\nb", 3},
      {"a lone CR stays", "a\rb", "a\rb", 3},
      {"a CR at the very end stays", "a\r", "a\r", 2},
      {"CR CR LF reads as CR and one line feed", "\r\r\n", "\r\n", 3},
      {"LF CR stays as it is", "\n\r", "\n\r", 2},
      {"Ctrl-Z mid-file ends it", std::string("ab\x1A") + "cd KB47STAT.EXE\r\n", "ab", 2},
      {"a final Ctrl-Z is not read", "ab\r\n\x1A", "ab\n", 4},
      {"a CR before Ctrl-Z stays a CR", "a\r\x1A\n", "a\r", 2},
      {"a file of only Ctrl-Z is empty", "\x1A", "", 0},
      {"an empty file", "", "", 0},
      {"a byte above 0x7F is not EOF", "\xFF\x80", "\xFF\x80", 2},
      {"a NUL byte is read like any other", std::string("a\0b", 3), std::string("a\0b", 3), 3},
  };
  for (const char* mode : {"r", "rt"}) {
    for (const ReadCase& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", mode " + mode);
      machine.files.WriteFile(kPath, c.bytes);
      machine.trace().Clear();
      FILE* file = fopen(kPath, mode);
      ASSERT_NE(file, nullptr);
      EXPECT_EQ(feof(file), 0);
      EXPECT_EQ(ftell(file), 0);
      bool endSeenEarly = false;
      EXPECT_EQ(ReadAll(file, &endSeenEarly), c.read);
      EXPECT_EQ(ftell(file), c.position);
      EXPECT_FALSE(endSeenEarly) << "the end flag is set only by the read that meets the end";
      EXPECT_NE(feof(file), 0);
      EXPECT_EQ(ferror(file), 0);
      EXPECT_EQ(fgetc(file), EOF) << "reading on at the end gives EOF again";
      EXPECT_EQ(sim::BytesRead(machine, kPath), c.read.size());
      EXPECT_EQ(fclose(file), 0);
      EXPECT_EQ(Bytes(), c.bytes) << "reading changes nothing";
    }
  }
}

struct AppendCase {
  const char* name;
  std::optional<std::string> before;  // nullopt: no such file
  const char* mode;
  std::vector<std::string> lines;  // each written with fprintf("%s\n")
  std::string after;
};

TEST_F(CrtTest, AppendsInTextModeAtTheClose) {
  const std::vector<AppendCase> cases = {
      {"a missing file is created", std::nullopt, "a+", {"[rename]", "NULL=C:\\X"}, "[rename]\r\nNULL=C:\\X\r\n"},
      {"an empty file", "", "a+", {"NULL=C:\\X"}, "NULL=C:\\X\r\n"},
      {"after a CR LF that ends the file", "[rename]\r\n", "at+", {"x"}, "[rename]\r\nx\r\n"},
      {"after a last line with no line end", "[rename]", "a+", {"x"}, "[rename]x\r\n"},
      {"a final Ctrl-Z is removed", "[rename]\r\n\x1A", "a+", {"x"}, "[rename]\r\nx\r\n"},
      {"a file of one Ctrl-Z", "\x1A", "a+", {"x"}, "x\r\n"},
      {"only one of two final Ctrl-Z", "a\x1A\x1A", "a+", {"x"}, "a\x1Ax\r\n"},
      {"a Ctrl-Z that does not end the file stays",
       "a\x1A"
       "b",
       "a+",
       {"x"},
       "a\x1A"
       "bx\r\n"},
      {"the Ctrl-Z goes at the open, with nothing written", "a\x1A", "a+", {}, "a"},
      {"nothing written leaves the file", "a\r\n", "a+", {}, "a\r\n"},
      {"a CR LF written becomes CR CR LF", "", "a+", {"a\r"}, "a\r\r\n"},
      {"a lone CR written stays", "", "a+", {"a\rb"}, "a\rb\r\n"},
  };
  for (const AppendCase& c : cases) {
    SCOPED_TRACE(c.name);
    machine.files.Delete(kPath);
    if (c.before) machine.files.WriteFile(kPath, *c.before);
    FILE* file = fopen(kPath, c.mode);
    ASSERT_NE(file, nullptr);
    for (const std::string& line : c.lines) {
      EXPECT_EQ(fprintf(file, "%s\n", line.c_str()), static_cast<int>(line.size() + 1));
    }
    EXPECT_EQ(fclose(file), 0);
    EXPECT_EQ(Bytes(), c.after);
  }
}

TEST_F(CrtTest, WritesStayBufferedUntilTheClose) {
  FILE* file = fopen(kPath, "a+");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(Bytes(), "") << "the open creates the file, empty";
  EXPECT_GE(fputs("[rename]\n", file), 0);
  EXPECT_EQ(fprintf(file, "NULL=%s\\%s\n", "C:\\WINDOWS\\SYSTEM", "KB47TN16.DLL"), 36);
  EXPECT_EQ(Bytes(), "") << "nothing reaches the file before the close";
  EXPECT_EQ(fclose(file), 0);
  EXPECT_EQ(Bytes(), "[rename]\r\nNULL=C:\\WINDOWS\\SYSTEM\\KB47TN16.DLL\r\n");
  ASSERT_EQ(machine.trace().Count("fprintf"), 1u);
  EXPECT_EQ(machine.trace().Of("fprintf")[0].ToString(),
            "fprintf(file#1, \"NULL=%s\\%s\n\", \"C:\\WINDOWS\\SYSTEM\", \"KB47TN16.DLL\") = 36");
}

TEST_F(CrtTest, AFailedWriteOutAtTheCloseReturnsEof) {
  FILE* file = fopen(kPath, "a+");
  ASSERT_NE(file, nullptr);
  ASSERT_GE(fputs("x\n", file), 0);
  machine.files.Delete(kPath);  // gone before its buffered lines could be written out
  EXPECT_EQ(fclose(file), EOF);
  EXPECT_FALSE(machine.files.Exists(kPath));
}

struct RefusalCase {
  const char* name;
  const char* path;
  const char* mode;
  bool opens;
};

TEST_F(CrtTest, RefusesWhatWindowsRefuses) {
  machine.files.MakeDirectory("C:\\WINDOWS\\INF\\OEM1.INF");
  machine.files.WriteFile("C:\\WINDOWS\\INF\\oem0.inf", "x", {.inUse = true});
  machine.files.WriteFile("C:\\WINDOWS\\wininit.ini", "x", {.readOnly = true});
  const std::vector<RefusalCase> cases = {
      {"a missing file for reading", "C:\\WINDOWS\\INF\\oem9.inf", "r", false},
      {"a folder for reading", "C:\\WINDOWS\\INF\\oem1.inf", "r", false},
      {"a folder for appending", "C:\\WINDOWS\\INF\\OEM1.INF", "a+", false},
      {"a missing parent for appending", "C:\\NOWHERE\\wininit.ini", "a+", false},
      {"a missing parent for reading", "C:\\NOWHERE\\oem0.inf", "r", false},
      {"a file in use for reading", "C:\\WINDOWS\\INF\\OEM0.INF", "r", false},
      {"a file in use for appending", "C:\\WINDOWS\\INF\\oem0.inf", "a+", false},
      {"a read-only file for appending", "C:\\WINDOWS\\WININIT.INI", "a+", false},
      {"a read-only file for reading", "C:\\WINDOWS\\WININIT.INI", "r", true},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    const sim::Machine before(machine);
    machine.trace().Clear();
    FILE* file = fopen(c.path, c.mode);
    EXPECT_EQ(file != nullptr, c.opens);
    if (file != nullptr) {
      EXPECT_EQ(fclose(file), 0);
    }
    EXPECT_TRUE(machine.files == before.files) << "an open, refused or not, creates and changes nothing";
    ASSERT_FALSE(machine.trace().Of("fopen").empty());
    EXPECT_EQ(machine.trace().Of("fopen")[0].result, c.opens ? "file#1" : "NULL");
  }
}

TEST_F(CrtTest, UnmodelledUsesThrow) {
  machine.files.WriteFile(kPath, "x\r\n");
  for (const char* mode : {"w", "a", "r+", "rb", "ab+", "wt", "A+", ""}) {
    SCOPED_TRACE(mode);
    EXPECT_THROW(fopen(kPath, mode), sim::Unmodelled);
  }
  FILE* appending = fopen(kPath, "a+");
  ASSERT_NE(appending, nullptr);
  EXPECT_THROW(fgetc(appending), sim::Unmodelled);
  EXPECT_THROW(feof(appending), sim::Unmodelled);
  EXPECT_THROW(ftell(appending), sim::Unmodelled);
  EXPECT_THROW(fprintf(appending, "%5.2f\n", 1.0), sim::Unmodelled) << "a conversion the trace cannot show";
  EXPECT_EQ(fclose(appending), 0);
  EXPECT_THROW(fclose(appending), sim::Unmodelled) << "a file closed twice";

  FILE* reading = fopen(kPath, "r");
  ASSERT_NE(reading, nullptr);
  EXPECT_THROW(fputs("y\n", reading), sim::Unmodelled);
  EXPECT_THROW(fprintf(reading, "%s\n", "y"), sim::Unmodelled);
  EXPECT_EQ(fclose(reading), 0);
  EXPECT_THROW(fgetc(reading), sim::Unmodelled) << "a read after the close";
  EXPECT_EQ(Bytes(), "x\r\n");
}

TEST_F(CrtTest, InjectedOpenFailureCreatesNothing) {
  machine.faults().FailAll("fopen");
  machine.files.WriteFile("C:\\WINDOWS\\oem0.inf", "KB47STAT.EXE");
  EXPECT_EQ(fopen(kPath, "a+"), nullptr);
  EXPECT_EQ(fopen("C:\\WINDOWS\\oem0.inf", "r"), nullptr);
  EXPECT_FALSE(machine.files.Exists(kPath));
}

TEST_F(CrtTest, InjectedReadErrorSetsTheErrorFlagOnly) {
  machine.files.WriteFile(kPath, "ab");
  machine.faults().FailNth("fgetc", 2);
  FILE* file = fopen(kPath, "r");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(fgetc(file), 'a');
  EXPECT_EQ(fgetc(file), EOF);
  EXPECT_NE(ferror(file), 0);
  EXPECT_EQ(feof(file), 0) << "an error is not the end of the file";
  EXPECT_EQ(ftell(file), 1) << "the failed read took no byte";
  EXPECT_EQ(fgetc(file), 'b');
  EXPECT_EQ(sim::BytesRead(machine, kPath), 2u);
  machine.faults().FailNth("ftell", 2);
  EXPECT_EQ(ftell(file), -1L);
  EXPECT_EQ(ftell(file), 2);
  EXPECT_EQ(fclose(file), 0);
}

TEST_F(CrtTest, InjectedWriteFailuresWriteNothing) {
  machine.files.WriteFile(kPath, "[rename]\r\n");
  machine.faults().FailNth("fprintf", 1);
  machine.faults().FailNth("fputs", 1);
  FILE* file = fopen(kPath, "a+");
  ASSERT_NE(file, nullptr);
  EXPECT_LT(fprintf(file, "%s\n", "lost"), 0);
  EXPECT_LT(fputs("lost too\n", file), 0);
  EXPECT_NE(ferror(file), 0);
  EXPECT_EQ(fprintf(file, "%s\n", "kept"), 5);
  EXPECT_EQ(fclose(file), EOF) << "the close reports the lines lost";
  EXPECT_EQ(Bytes(), "[rename]\r\nkept\r\n");
}

TEST_F(CrtTest, InjectedCloseFailureWritesNothingOut) {
  machine.files.WriteFile(kPath, "[rename]\r\n\x1A");
  machine.faults().FailAll("fclose");
  FILE* file = fopen(kPath, "a+");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(fprintf(file, "%s\n", "NULL=x"), 7);
  EXPECT_EQ(fclose(file), EOF);
  EXPECT_EQ(Bytes(), "[rename]\r\n") << "the Ctrl-Z went at the open; the buffered line never came";
  EXPECT_THROW(fclose(file), sim::Unmodelled) << "a failed close still closes the file";
}

TEST_F(CrtTest, TraceNamesEachOpenFileAndCountsTheBytesReadPerPath) {
  machine.files.WriteFile("C:\\WINDOWS\\INF\\oem0.inf", "KB47STAT.EXE\r\nmore");
  machine.files.WriteFile("C:\\WINDOWS\\INF\\oem1.inf", "xyz");
  FILE* first = fopen("C:\\WINDOWS\\INF\\oem0.inf", "r");
  FILE* second = fopen("C:\\WINDOWS\\INF\\oem1.inf", "rt");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  for (int i = 0; i < 13; ++i) fgetc(first);  // the marker and the line feed after it
  fgetc(second);
  EXPECT_EQ(fclose(first), 0);
  FILE* third = fopen("C:\\WINDOWS\\INF\\oem0.inf", "r");
  ASSERT_NE(third, nullptr);
  fgetc(third);
  EXPECT_EQ(fclose(third), 0);
  EXPECT_EQ(fclose(second), 0);

  std::vector<std::string> opens;
  for (const sim::Call& call : machine.trace().Of("fopen")) opens.push_back(call.ToString());
  EXPECT_EQ(opens, (std::vector<std::string>{
                       "fopen(\"C:\\WINDOWS\\INF\\oem0.inf\", \"r\") = file#1",
                       "fopen(\"C:\\WINDOWS\\INF\\oem1.inf\", \"rt\") = file#2",
                       "fopen(\"C:\\WINDOWS\\INF\\oem0.inf\", \"r\") = file#1",  // a closed number is free again
                   }));
  // The reads of one file in a row are one record.
  std::vector<std::string> reads;
  for (const sim::Call& call : machine.trace().Calls()) {
    if (call.op == "fgetc") reads.push_back(call.ToString());
  }
  EXPECT_EQ(reads, (std::vector<std::string>{"fgetc(file#1) = byte (13 times)", "fgetc(file#2) = byte",
                                             "fgetc(file#1) = byte"}));
  EXPECT_EQ(machine.trace().Of("fgetc").size(), 15u);
  EXPECT_EQ(sim::BytesRead(machine, "C:\\WINDOWS\\INF\\OEM0.INF"), 14u);
  EXPECT_EQ(sim::BytesRead(machine, "C:\\WINDOWS\\INF\\oem1.inf"), 1u);
  EXPECT_EQ(sim::BytesRead(machine, "C:\\WINDOWS\\INF\\oem2.inf"), 0u);
}

}  // namespace
