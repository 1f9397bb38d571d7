// KERNEL32's files by handle on the simulated drives: what CreateFileA opens, creates and refuses
// by access, disposition and attributes; sharing between the program's own handles; reading,
// writing, seeking, the size and the end of a file; the free space; handles of the wrong kind or
// closed; the injected faults.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "sim/machine.h"
#include "win32.h"

namespace {

constexpr DWORD R = GENERIC_READ, W = GENERIC_WRITE, RW = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareBoth = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kUntouched = 12345;  // the last error before a call

class FileHandleTest : public ::testing::Test {
 protected:
  sim::Machine machine;
  sim::Activation active{machine};
  void SetUp() override {
    machine.files.WriteFile("C:\\WINDOWS\\plain.txt", "abc");
    machine.files.WriteFile("C:\\WINDOWS\\ro.txt", "read only", {.readOnly = true});
    machine.files.WriteFile("C:\\WINDOWS\\busy.txt", "busy", {.inUse = true});
  }
  HANDLE Open(const char* path, DWORD access, DWORD disposition = OPEN_EXISTING, DWORD share = kShareBoth) {
    return CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  std::string Bytes(const char* path) { return machine.files.ReadFile(path).value_or("<none>"); }
};

TEST_F(FileHandleTest, OpensCreatesAndRefusesAsWindows98Does) {
  struct Case {
    const char* what;
    const char* path;
    DWORD access, disposition;
    bool opens;
    DWORD error;       // the last error after the call
    const char* then;  // the file's bytes after it, "<none>" for no file
  };
  const Case cases[] = {
      {"open for reading", "C:\\WINDOWS\\PLAIN.TXT", R, OPEN_EXISTING, true, kUntouched, "abc"},
      {"open always, there", "C:\\WINDOWS\\plain.txt", RW, OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS, "abc"},
      {"create always, there: emptied", "C:\\WINDOWS\\plain.txt", W, CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, ""},
      {"truncate", "C:\\WINDOWS\\plain.txt", W, TRUNCATE_EXISTING, true, kUntouched, ""},
      {"truncate without write access", "C:\\WINDOWS\\plain.txt", R, TRUNCATE_EXISTING, false, ERROR_INVALID_PARAMETER,
       "abc"},
      {"create new, there", "C:\\WINDOWS\\plain.txt", W, CREATE_NEW, false, ERROR_FILE_EXISTS, "abc"},
      {"missing file", "C:\\WINDOWS\\none.txt", R, OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND, "<none>"},
      {"missing file, truncate", "C:\\WINDOWS\\none.txt", W, TRUNCATE_EXISTING, false, ERROR_FILE_NOT_FOUND, "<none>"},
      {"open always, missing: created", "C:\\WINDOWS\\none.txt", RW, OPEN_ALWAYS, true, 0, ""},
      {"create always, missing", "C:\\WINDOWS\\none.txt", W, CREATE_ALWAYS, true, 0, ""},
      {"create new, missing", "C:\\WINDOWS\\none.txt", W, CREATE_NEW, true, kUntouched, ""},
      {"missing folder", "C:\\NOPE\\x.txt", R, OPEN_EXISTING, false, ERROR_PATH_NOT_FOUND, "<none>"},
      {"missing folder, created in", "C:\\NOPE\\x.txt", RW, OPEN_ALWAYS, false, ERROR_PATH_NOT_FOUND, "<none>"},
      {"read-only, read", "C:\\WINDOWS\\ro.txt", R, OPEN_EXISTING, true, kUntouched, "read only"},
      {"read-only, write", "C:\\WINDOWS\\ro.txt", RW, OPEN_ALWAYS, false, ERROR_ACCESS_DENIED, "read only"},
      {"read-only, emptied", "C:\\WINDOWS\\ro.txt", R, CREATE_ALWAYS, false, ERROR_ACCESS_DENIED, "read only"},
      {"in use by another program", "C:\\WINDOWS\\busy.txt", R, OPEN_EXISTING, false, ERROR_SHARING_VIOLATION, "busy"},
      {"a folder", "C:\\WINDOWS\\SYSTEM", R, OPEN_EXISTING, false, ERROR_ACCESS_DENIED, "<none>"},
      {"a folder, open always", "C:\\WINDOWS\\SYSTEM", RW, OPEN_ALWAYS, false, ERROR_ACCESS_DENIED, "<none>"},
      {"a drive's root", "C:\\", R, OPEN_EXISTING, false, ERROR_ACCESS_DENIED, "<none>"},
      {"no such disposition", "C:\\WINDOWS\\plain.txt", R, 0, false, ERROR_INVALID_PARAMETER, "abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Machine fresh;
    machine = fresh;  // the state of a fresh machine; this one's handles stay
    SetUp();
    machine.lastError = kUntouched;
    HANDLE file = Open(c.path, c.access, c.disposition);
    EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.opens);
    EXPECT_EQ(machine.lastError, c.error);
    EXPECT_EQ(Bytes(c.path), c.then);
    EXPECT_EQ(machine.CountOpenHandles().files, c.opens ? 1u : 0u);
    if (c.opens) {
      EXPECT_TRUE(CloseHandle(file));
    }
  }
  // Windows 95 and 98 know no FILE_SHARE_DELETE and no template file.
  EXPECT_EQ(Open("C:\\WINDOWS\\plain.txt", R, OPEN_EXISTING, FILE_SHARE_READ | 4), INVALID_HANDLE_VALUE);
  EXPECT_EQ(machine.lastError, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  HANDLE first = Open("C:\\WINDOWS\\plain.txt", R);
  EXPECT_EQ(CreateFileA("C:\\WINDOWS\\plain.txt", R, kShareBoth, nullptr, OPEN_EXISTING, 0, first),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(machine.lastError, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_TRUE(CloseHandle(first));
  // A file created read-only is read-only.
  HANDLE created = CreateFileA("C:\\WINDOWS\\new.txt", W, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_READONLY, nullptr);
  ASSERT_NE(created, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(machine.files.Attributes("C:\\WINDOWS\\new.txt")->readOnly);
  EXPECT_TRUE(CloseHandle(created));
}

TEST_F(FileHandleTest, SharingBetweenTheProgramsOwnHandles) {
  struct Case {
    DWORD access1, share1, access2, share2;
    bool secondOpens;
  };
  const Case cases[] = {
      {R, FILE_SHARE_READ, R, FILE_SHARE_READ, true},
      {R, FILE_SHARE_READ, RW, FILE_SHARE_READ, false},  // the first does not share writing
      {R, kShareBoth, RW, kShareBoth, true},
      {W, kShareBoth, R, FILE_SHARE_WRITE, true},
      {RW, kShareBoth, R, FILE_SHARE_READ, false},  // the second does not share the first's writing
      {R, 0, R, FILE_SHARE_READ, false},
      {R, FILE_SHARE_READ, R, 0, false},
      {0, 0, R, 0, true},  // a handle without access shares with everything
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.access1) + "/" + std::to_string(c.share1) + " then " + std::to_string(c.access2) +
                 "/" + std::to_string(c.share2));
    HANDLE first = Open("C:\\WINDOWS\\plain.txt", c.access1, OPEN_EXISTING, c.share1);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    // The same file by another spelling is the same file.
    HANDLE second = Open("c:\\windows\\PLAIN.txt", c.access2, OPEN_EXISTING, c.share2);
    EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.secondOpens);
    if (!c.secondOpens) {
      EXPECT_EQ(machine.lastError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    if (second != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(CloseHandle(second));
    }
    EXPECT_TRUE(CloseHandle(first));
    // Once the first is closed, nothing stands in the way.
    second = Open("C:\\WINDOWS\\plain.txt", c.access2, OPEN_EXISTING, c.share2);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(second));
  }
  // A file held open cannot be deleted; closed, it can.
  HANDLE held = Open("C:\\WINDOWS\\plain.txt", R);
  EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\plain.txt"));
  EXPECT_EQ(machine.lastError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(CloseHandle(held));
  EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\plain.txt"));
}

// What the program's own runtime does to a text file it appends to: drop a final Ctrl-Z, then
// write at the end; and reading in chunks, seeking and the size.
TEST_F(FileHandleTest, ReadWriteSeekSizeAndEnd) {
  machine.files.WriteFile("C:\\WINDOWS\\wininit.ini", "[rename]\r\n\x1A");
  HANDLE file = Open("C:\\WINDOWS\\wininit.ini", RW, OPEN_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD high = 99, count = 99;
  EXPECT_EQ(GetFileSize(file, &high), 11u);
  EXPECT_EQ(high, 0u);
  EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_END), 10u);
  char byte = 0;
  EXPECT_TRUE(ReadFile(file, &byte, 1, &count, nullptr));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(byte, '\x1A');
  EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_END), 10u);
  EXPECT_TRUE(SetEndOfFile(file));
  EXPECT_EQ(Bytes("C:\\WINDOWS\\wininit.ini"), "[rename]\r\n");
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_END), 10u);
  EXPECT_TRUE(WriteFile(file, "NUL=x\r\n", 7, &count, nullptr));
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(Bytes("C:\\WINDOWS\\wininit.ini"), "[rename]\r\nNUL=x\r\n");

  // Reading in chunks: a short read at the end, then nothing, with success.
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), 0u);
  char chunk[8] = {};
  EXPECT_TRUE(ReadFile(file, chunk, 8, &count, nullptr));
  EXPECT_EQ(std::string(chunk, count), "[rename]");
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 8u);
  EXPECT_TRUE(ReadFile(file, chunk, 8, &count, nullptr));
  EXPECT_EQ(std::string(chunk, count), "\r\nNUL=x\r");
  EXPECT_TRUE(ReadFile(file, chunk, 8, &count, nullptr));
  EXPECT_EQ(std::string(chunk, count), "\n");
  count = 99;
  EXPECT_TRUE(ReadFile(file, chunk, 8, &count, nullptr));
  EXPECT_EQ(count, 0u);

  // Before the start: refused, the position kept. Past the end: allowed; a write there fills the gap.
  machine.lastError = 0;
  EXPECT_EQ(SetFilePointer(file, -100, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(machine.lastError, static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 17u);
  EXPECT_EQ(SetFilePointer(file, 2, nullptr, FILE_END), 19u);
  EXPECT_TRUE(WriteFile(file, "z", 1, &count, nullptr));
  EXPECT_EQ(Bytes("C:\\WINDOWS\\wininit.ini"), std::string("[rename]\r\nNUL=x\r\n\0\0z", 20));
  LONG highMove = 0;
  EXPECT_EQ(SetFilePointer(file, 3, &highMove, FILE_BEGIN), 3u);
  highMove = 1;  // 4 GiB on: past what a FAT file can hold
  EXPECT_EQ(SetFilePointer(file, 0, &highMove, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(machine.lastError, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, 3), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(machine.lastError, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // SetEndOfFile past the end lengthens the file with zeros.
  EXPECT_EQ(SetFilePointer(file, 22, nullptr, FILE_BEGIN), 22u);
  EXPECT_TRUE(SetEndOfFile(file));
  EXPECT_EQ(GetFileSize(file, nullptr), 22u);
  EXPECT_TRUE(CloseHandle(file));

  // A handle does only what it was opened for.
  HANDLE reader = Open("C:\\WINDOWS\\plain.txt", R);
  EXPECT_FALSE(WriteFile(reader, "x", 1, &count, nullptr));
  EXPECT_EQ(machine.lastError, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(SetEndOfFile(reader));
  EXPECT_EQ(machine.lastError, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  HANDLE writer = Open("C:\\WINDOWS\\plain.txt", W);
  EXPECT_FALSE(ReadFile(writer, chunk, 1, &count, nullptr));
  EXPECT_EQ(machine.lastError, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Bytes("C:\\WINDOWS\\plain.txt"), "abc");
  EXPECT_TRUE(CloseHandle(reader));
  EXPECT_TRUE(CloseHandle(writer));
}

TEST_F(FileHandleTest, AFullDiskRefusesWhatWouldNotFit) {
  machine.freeDiskBytes = 5;
  HANDLE file = Open("C:\\WINDOWS\\plain.txt", RW);
  DWORD count = 99;
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_END), 3u);
  EXPECT_FALSE(WriteFile(file, "123456", 6, &count, nullptr));
  EXPECT_EQ(machine.lastError, static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(Bytes("C:\\WINDOWS\\plain.txt"), "abc");
  EXPECT_TRUE(WriteFile(file, "12345", 5, &count, nullptr));
  EXPECT_EQ(machine.freeDiskBytes, 0u);
  // What a file gives up is free again.
  EXPECT_EQ(SetFilePointer(file, 1, nullptr, FILE_BEGIN), 1u);
  EXPECT_TRUE(SetEndOfFile(file));
  EXPECT_EQ(machine.freeDiskBytes, 7u);
  // A position far past the end does not make the disk hold the gap.
  EXPECT_EQ(SetFilePointer(file, 0x7FFFFFFF, nullptr, FILE_BEGIN), 0x7FFFFFFFu);
  EXPECT_FALSE(WriteFile(file, "x", 1, &count, nullptr));
  EXPECT_EQ(machine.lastError, static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_FALSE(SetEndOfFile(file));
  EXPECT_EQ(GetFileSize(file, nullptr), 1u);
  EXPECT_TRUE(CloseHandle(file));
}

// Every kind of handle is its own: one given to a call of another kind, or closed, is invalid.
TEST_F(FileHandleTest, HandlesOfAnotherKindOrClosedAreInvalid) {
  HANDLE file = Open("C:\\WINDOWS\\plain.txt", RW);
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA("C:\\WINDOWS\\*.txt", &data);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
  EXPECT_EQ(machine.CountOpenHandles().Total(), 3u);
  DWORD count = 0;
  char byte;
  // Each misuse gives the error it met, 0 if it succeeded.
  auto error = [&](BOOL ok) { return ok ? 0u : machine.lastError; };
  const std::vector<std::pair<const char*, std::function<DWORD()>>> misuses = {
      {"CloseHandle of a search", [&] { return error(CloseHandle(search)); }},
      {"CloseHandle of a key", [&] { return error(CloseHandle(reinterpret_cast<HANDLE>(key))); }},
      {"CloseHandle of INVALID_HANDLE_VALUE", [&] { return error(CloseHandle(INVALID_HANDLE_VALUE)); }},
      {"CloseHandle of NULL", [&] { return error(CloseHandle(nullptr)); }},
      {"CloseHandle of the heap", [&] { return error(CloseHandle(GetProcessHeap())); }},
      {"FindClose of a file", [&] { return error(FindClose(file)); }},
      {"RegCloseKey of a file", [&] { return static_cast<DWORD>(RegCloseKey(reinterpret_cast<HKEY>(file))); }},
      {"RegFlushKey of a search", [&] { return static_cast<DWORD>(RegFlushKey(reinterpret_cast<HKEY>(search))); }},
      {"ReadFile of a search", [&] { return error(ReadFile(search, &byte, 1, &count, nullptr)); }},
      {"GetFileSize of a key",
       [&] {
         return GetFileSize(reinterpret_cast<HANDLE>(key), nullptr) == INVALID_FILE_SIZE ? machine.lastError : 0;
       }},
  };
  for (const auto& [what, misuse] : misuses) {
    SCOPED_TRACE(what);
    machine.lastError = 0;
    EXPECT_EQ(misuse(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
  EXPECT_EQ(machine.CountOpenHandles().Total(), 3u) << "nothing was closed by a call of another kind";
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_TRUE(FindClose(search));
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(machine.CountOpenHandles().Total(), 0u);
  // Closed: every call on it is refused.
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(machine.lastError, static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(ReadFile(file, &byte, 1, &count, nullptr));
  EXPECT_FALSE(WriteFile(file, "x", 1, &count, nullptr));
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_FALSE(SetEndOfFile(file));
  EXPECT_EQ(machine.lastError, static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Bytes("C:\\WINDOWS\\plain.txt"), "abc");
}

TEST_F(FileHandleTest, InjectedFaultsFailAndChangeNothing) {
  struct Case {
    const char* op;
    std::function<bool(HANDLE open)> fails;  // the call, true when it reports failure
    DWORD error;
  };
  DWORD count = 99;
  char byte = 0;
  const Case cases[] = {
      {"CreateFileA", [&](HANDLE) { return Open("C:\\WINDOWS\\new.txt", RW, OPEN_ALWAYS) == INVALID_HANDLE_VALUE; },
       ERROR_ACCESS_DENIED},
      {"ReadFile", [&](HANDLE open) { return !ReadFile(open, &byte, 1, &count, nullptr) && count == 0; },
       ERROR_LOCK_VIOLATION},
      {"WriteFile", [&](HANDLE open) { return !WriteFile(open, "x", 1, &count, nullptr) && count == 0; },
       ERROR_DISK_FULL},
      {"SetFilePointer",
       [&](HANDLE open) { return SetFilePointer(open, 1, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER; },
       ERROR_ACCESS_DENIED},
      {"GetFileSize", [&](HANDLE open) { return GetFileSize(open, nullptr) == INVALID_FILE_SIZE; },
       ERROR_ACCESS_DENIED},
      {"SetEndOfFile", [&](HANDLE open) { return !SetEndOfFile(open); }, ERROR_DISK_FULL},
      {"CloseHandle", [&](HANDLE open) { return !CloseHandle(open); }, ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.op);
    HANDLE open = Open("C:\\WINDOWS\\plain.txt", RW);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    const sim::Machine before = machine;
    machine.faults().FailAll(c.op);
    EXPECT_TRUE(c.fails(open));
    EXPECT_EQ(machine.lastError, c.error);
    machine.faults().Clear();
    EXPECT_TRUE(machine.SameState(before));
    EXPECT_EQ(machine.CountOpenHandles().files, 1u);
    // The handle is as it was: at the start, open.
    EXPECT_TRUE(ReadFile(open, &byte, 1, &count, nullptr));
    EXPECT_EQ(byte, 'a');
    EXPECT_TRUE(CloseHandle(open));
  }
}

TEST_F(FileHandleTest, TraceShowsTheCallsWithTheirHandles) {
  HANDLE file = Open("C:\\WINDOWS\\plain.txt", RW, OPEN_ALWAYS);
  char chunk[4];
  DWORD count = 0;
  ReadFile(file, chunk, 4, &count, nullptr);
  WriteFile(file, "d\n", 2, &count, nullptr);
  CloseHandle(file);
  std::vector<std::string> calls;
  for (const sim::Call& call : machine.trace().Calls()) calls.push_back(call.ToString());
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "CreateFileA(\"C:\\WINDOWS\\plain.txt\", 0xC0000000, 0x00000003, NULL, 4, 0x00000080, NULL) "
                       "= hfile#33554432",
                       "ReadFile(hfile#33554432, buffer, 4, read, NULL) = 1 (3 bytes)",
                       "WriteFile(hfile#33554432, \"d\n\", 2, written, NULL) = 1",
                       "CloseHandle(hfile#33554432) = 1",
                   }));
}

}  // namespace
