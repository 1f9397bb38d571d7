// The call trace and injected faults: the text of each traced call, and which call each kind of
// fault makes fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "sim/machine.h"
#include "win32.h"

namespace {

using sim::Call;
using sim::Machine;

std::vector<std::string> Texts(const sim::Trace& trace) {
  std::vector<std::string> texts;
  for (const Call& call : trace.Calls()) texts.push_back(call.ToString());
  return texts;
}

TEST(Call, ToStringJoinsTheArgumentsAndTheResult) {
  struct Case {
    Call call;
    const char* text;
  };
  const Case cases[] = {
      {{"RegFlushKey", {"HKEY_USERS"}, "0"}, "RegFlushKey(HKEY_USERS) = 0"},
      {{"RegOpenKeyExA", {"HKEY_LOCAL_MACHINE", "\"Enum\"", "0", "1"}, "2"},
       "RegOpenKeyExA(HKEY_LOCAL_MACHINE, \"Enum\", 0, 1) = 2"},
      {{"GetLastError", {}, "5"}, "GetLastError() = 5"},
      {{"InitCommonControls", {}, ""}, "InitCommonControls()"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.call.ToString(), c.text);
}

// Every registry, version and directory call, as the trace shows it.
TEST(Trace, RecordsEachCallWithItsArgumentsAndResult) {
  Machine machine;
  sim::Activation active(machine);
  machine.registry.SetString("HKLM\\Enum\\Root\\printer\\0000", "DeviceDesc", "RK514");
  HKEY key = nullptr;
  char text[260];
  DWORD size = sizeof text;
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;

  RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root\\printer\\0001", 0, KEY_QUERY_VALUE, &key);
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root\\printer\\0000", 0, KEY_QUERY_VALUE, &key);
  RegQueryValueExA(key, "DeviceDesc", nullptr, nullptr, reinterpret_cast<LPBYTE>(text), &size);
  RegQueryValueExA(key, "DriverDesc", nullptr, nullptr, nullptr, nullptr);
  HKEY same = nullptr;
  RegOpenKeyExA(key, nullptr, 0, KEY_QUERY_VALUE, &same);
  RegCloseKey(same);
  RegCloseKey(key);
  RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{5b1e7d20-4a9c-11d1-8f3a-2c61d0e4b795}");
  RegFlushKey(HKEY_CURRENT_USER);
  RegFlushKey(HKEY_CURRENT_CONFIG);
  GetVersionExA(&info);
  GetSystemDirectoryA(text, sizeof text);
  GetWindowsDirectoryA(nullptr, 0);
  GetLastError();

  EXPECT_EQ(Texts(machine.trace()),
            (std::vector<std::string>{
                "RegOpenKeyExA(HKEY_LOCAL_MACHINE, \"Enum\\Root\\printer\\0001\", 0, 1) = 2",
                "RegOpenKeyExA(HKEY_LOCAL_MACHINE, \"Enum\\Root\\printer\\0000\", 0, 1) = 0",
                "RegQueryValueExA(hkey#4096, \"DeviceDesc\", NULL, NULL, data, 260) = 0",
                "RegQueryValueExA(hkey#4096, \"DriverDesc\", NULL, NULL, NULL, NULL) = 2",
                "RegOpenKeyExA(hkey#4096, NULL, 0, 1) = 0",
                "RegCloseKey(hkey#4097) = 0",
                "RegCloseKey(hkey#4096) = 0",
                "RegDeleteKeyA(HKEY_CLASSES_ROOT, \"CLSID\\{5b1e7d20-4a9c-11d1-8f3a-2c61d0e4b795}\") = 2",
                "RegFlushKey(HKEY_CURRENT_USER) = 0",
                "RegFlushKey(HKEY_CURRENT_CONFIG) = 0",
                "GetVersionExA(148) = 1",
                "GetSystemDirectoryA(buffer, 260) = 17",
                "GetWindowsDirectoryA(NULL, 0) = 11",
                "GetLastError() = 0",
            }));
  EXPECT_EQ(machine.trace().Count("RegOpenKeyExA"), 3u);
  ASSERT_EQ(machine.trace().Of("RegFlushKey").size(), 2u);
  EXPECT_EQ(machine.trace().Of("RegFlushKey")[1].args, std::vector<std::string>{"HKEY_CURRENT_CONFIG"});
  EXPECT_EQ(machine.trace().Ops().front(), "RegOpenKeyExA");
  EXPECT_EQ(machine.trace().Ops().back(), "GetLastError");
}

// Identical calls in a row are one record with their count; the calls one by one stay what
// Size, Count, Of, Ops and fault injection by index count.
TEST(Trace, FoldsRunsOfIdenticalCallsAndStillCountsEachCall) {
  Machine machine;
  sim::Activation active(machine);
  machine.faults().FailCallIndex(3);  // the third of the four flushes of HKEY_LOCAL_MACHINE
  std::vector<std::string> seen;
  machine.trace().onCall = [&](const Call& call) { seen.push_back(call.ToString()); };
  RegFlushKey(HKEY_USERS);
  for (int i = 0; i < 4; ++i) RegFlushKey(HKEY_LOCAL_MACHINE);
  RegFlushKey(HKEY_LOCAL_MACHINE);
  RegFlushKey(HKEY_USERS);

  EXPECT_EQ(Texts(machine.trace()), (std::vector<std::string>{
                                        "RegFlushKey(HKEY_USERS) = 0",
                                        "RegFlushKey(HKEY_LOCAL_MACHINE) = 0 (2 times)",
                                        "RegFlushKey(HKEY_LOCAL_MACHINE) = 5",
                                        "RegFlushKey(HKEY_LOCAL_MACHINE) = 0 (2 times)",
                                        "RegFlushKey(HKEY_USERS) = 0",
                                    }));
  EXPECT_EQ(machine.trace().Size(), 7u);
  EXPECT_EQ(machine.trace().Count("RegFlushKey"), 7u);
  EXPECT_EQ(machine.trace().Of("RegFlushKey").size(), 7u);
  EXPECT_EQ(machine.trace().Of("RegFlushKey")[3].ToString(), "RegFlushKey(HKEY_LOCAL_MACHINE) = 5");
  EXPECT_EQ(machine.trace().Unfolded().size(), 7u);
  EXPECT_EQ(machine.trace().Ops().size(), 7u);
  ASSERT_EQ(seen.size(), 7u) << "the observer sees every call, folded or not";
  EXPECT_EQ(seen[2], "RegFlushKey(HKEY_LOCAL_MACHINE) = 0");
  machine.trace().Clear();
  EXPECT_EQ(machine.trace().Size(), 0u);
  RegFlushKey(HKEY_USERS);
  EXPECT_EQ(Texts(machine.trace()), std::vector<std::string>{"RegFlushKey(HKEY_USERS) = 0"});
}

// Records past the first chunks of storage, texts longer than a chunk, texts that come back and
// a prepared call read back as they were recorded; a prepared call folds with the same call
// recorded from its texts.
TEST(Trace, KeepsEveryTextAcrossItsChunks) {
  sim::Trace trace;
  const std::string big(3 << 20, 'b');  // longer than a chunk of the trace's bytes
  trace.Record("Big", {big}, "0");
  sim::Trace::Prepared read = trace.Prepare("fgetc", {"file#1"}, "byte");
  for (int i = 0; i < 100000; ++i) {
    trace.Record(read);
    trace.Record(read);
    trace.Record("lstrcmpA", {"\"word" + std::to_string(i) + "\"", "\"KB47STAT.EXE\""}, i % 3 == 0 ? "0" : "-1");
  }
  trace.Record("fgetc", {"file#1"}, "byte");
  trace.Record(read);
  trace.Record("Big", {big}, "0");

  ASSERT_EQ(trace.Size(), 300004u);
  ASSERT_EQ(trace.Calls().size(), 200003u);
  EXPECT_EQ(trace.Calls()[0].args, std::vector<std::string>{big});
  EXPECT_EQ(trace.Calls()[1].ToString(), "fgetc(file#1) = byte (2 times)");
  EXPECT_EQ(trace.Calls()[200000].ToString(), "lstrcmpA(\"word99999\", \"KB47STAT.EXE\") = 0");
  EXPECT_EQ(trace.Calls()[200001].ToString(), "fgetc(file#1) = byte (2 times)");
  EXPECT_EQ(trace.Calls().back().args, std::vector<std::string>{big});
  std::size_t index = 0, words = 0;
  for (const Call& call : trace.Calls()) {
    if (call.op == "lstrcmpA") {
      ASSERT_EQ(call.args[0], "\"word" + std::to_string(words) + "\"") << index;
      ASSERT_EQ(call.result, words % 3 == 0 ? "0" : "-1") << index;
      ++words;
    }
    ++index;
  }
  EXPECT_EQ(words, 100000u);
  EXPECT_EQ(trace.Count("fgetc"), 200002u);
  trace.Clear();
  EXPECT_FALSE(trace.Holds(read));
  EXPECT_THROW(trace.Record(read), sim::Unmodelled);
}

TEST(Trace, OnCallSeesTheMachineRightAfterEachCall) {
  Machine machine;
  sim::Activation active(machine);
  machine.registry.CreateKey("HKLM\\Enum\\LPTENUM\\KARSENBYRK_514_(COLO9F98");
  std::vector<std::string> seen;
  machine.trace().onCall = [&](const Call& call) {
    seen.push_back(call.op + (machine.registry.KeyExists("HKLM\\Enum\\LPTENUM") ? " LPTENUM" : " gone"));
  };
  RegFlushKey(HKEY_LOCAL_MACHINE);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\LPTENUM");
  EXPECT_EQ(seen, (std::vector<std::string>{"RegFlushKey LPTENUM", "RegDeleteKeyA gone"}));
}

// One fixed run of calls; each kind of fault picks which of them fail.
TEST(Faults, EachKindFailsTheCallsItNames) {
  struct Case {
    const char* what;
    std::function<void(sim::Faults&)> set;
    std::vector<int> failing;  // positions in the run, 0-based
  };
  const Case cases[] = {
      {"none", [](sim::Faults&) {}, {}},
      {"every RegOpenKeyExA", [](sim::Faults& f) { f.FailAll("RegOpenKeyExA"); }, {0, 2, 4}},
      {"the second RegOpenKeyExA", [](sim::Faults& f) { f.FailNth("RegOpenKeyExA", 2); }, {2}},
      {"the first and third RegOpenKeyExA",
       [](sim::Faults& f) {
         f.FailNth("RegOpenKeyExA", 1);
         f.FailNth("RegOpenKeyExA", 3);
       },
       {0, 4}},
      {"a fourth RegOpenKeyExA that never comes", [](sim::Faults& f) { f.FailNth("RegOpenKeyExA", 4); }, {}},
      {"trace entry 3", [](sim::Faults& f) { f.FailCallIndex(3); }, {3}},
      {"trace entries 0 and 5",
       [](sim::Faults& f) {
         f.FailCallIndex(0);
         f.FailCallIndex(5);
       },
       {0, 5}},
      {"kinds together",
       [](sim::Faults& f) {
         f.FailAll("RegFlushKey");
         f.FailNth("RegOpenKeyExA", 3);
         f.FailCallIndex(3);
       },
       {1, 3, 4, 5}},
      {"cleared",
       [](sim::Faults& f) {
         f.FailAll("RegOpenKeyExA");
         f.FailCallIndex(1);
         f.Clear();
       },
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Machine machine;
    sim::Activation active(machine);
    machine.registry.CreateKey("HKLM\\A");
    c.set(machine.faults());
    HKEY key = nullptr;
    const LONG results[] = {
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "A", 0, KEY_QUERY_VALUE, &key), RegFlushKey(HKEY_LOCAL_MACHINE),
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "A", 0, KEY_QUERY_VALUE, &key), RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Missing"),
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "A", 0, KEY_QUERY_VALUE, &key), RegFlushKey(HKEY_USERS),
    };
    const LONG expected[] = {0, 0, 0, ERROR_FILE_NOT_FOUND, 0, 0};
    for (int i = 0; i < 6; ++i) {
      bool fails = std::find(c.failing.begin(), c.failing.end(), i) != c.failing.end();
      EXPECT_EQ(results[i], fails ? ERROR_ACCESS_DENIED : expected[i]) << "call " << i;
    }
    ASSERT_EQ(machine.trace().Calls().size(), 6u) << "a failed call is traced too";
    EXPECT_EQ(machine.trace().Calls()[0].result, results[0] == 0 ? "0" : "5");
  }
}

TEST(Faults, CallsAreCountedFromTheFirstEvenBeforeAFaultIsSet) {
  Machine machine;
  sim::Activation active(machine);
  RegFlushKey(HKEY_LOCAL_MACHINE);
  machine.faults().FailNth("RegFlushKey", 2);
  EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_THROW(machine.faults().FailNth("RegFlushKey", 0), sim::Unmodelled);
}

TEST(Faults, TheSystemCallsFailWithoutTouchingTheirOutput) {
  Machine machine;
  sim::Activation active(machine);
  machine.faults().FailAll("GetVersionExA");
  machine.faults().FailAll("GetSystemDirectoryA");
  machine.faults().FailAll("GetWindowsDirectoryA");
  OSVERSIONINFOA info;
  std::memset(&info, 0xCC, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  EXPECT_EQ(GetVersionExA(&info), FALSE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(info.dwBuildNumber, 0xCCCCCCCCu);
  EXPECT_EQ(info.dwOSVersionInfoSize, sizeof info);
  char buffer[260];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(GetSystemDirectoryA(buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 0u);
  for (char c : buffer) ASSERT_EQ(c, 'x');
}

TEST(Current, ThrowsWithoutAnActiveMachineAndNestsActivations) {
  EXPECT_THROW(sim::Current(), sim::Unmodelled);
  EXPECT_THROW(RegFlushKey(HKEY_LOCAL_MACHINE), sim::Unmodelled);
  Machine outer, inner;
  {
    sim::Activation first(outer);
    EXPECT_EQ(&sim::Current(), &outer);
    {
      sim::Activation second(inner);
      EXPECT_EQ(&sim::Current(), &inner);
      RegFlushKey(HKEY_LOCAL_MACHINE);
    }
    EXPECT_EQ(&sim::Current(), &outer);
  }
  EXPECT_THROW(sim::Current(), sim::Unmodelled);
  EXPECT_EQ(outer.trace().Calls().size(), 0u);
  EXPECT_EQ(inner.trace().Calls().size(), 1u);
}

}  // namespace
