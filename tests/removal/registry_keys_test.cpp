// The registry stage: the fixed keys by build, the flushes, and the instance-key walk's names.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "installed_machine.h"
#include "removal.h"
#include "removal_test_util.h"
#include "sim/machine.h"
#include "stages.h"

namespace {

std::string FullPath(int row) {
  return std::string(removal_test::kFixedKeys[row].root) + "\\" + removal_test::kFixedKeys[row].path;
}

std::vector<std::string> Args0(sim::Machine& machine, const char* op) {
  std::vector<std::string> roots;
  for (const sim::Call& call : machine.trace().Of(op)) roots.push_back(call.args[0]);
  return roots;
}

TEST(RegistryKeys, BuildGateTakesTheLow16BitsOfTheBuildNumber) {
  struct Case {
    std::uint32_t build;
    bool later;
  } cases[] = {
      {950, false},
      {951, true},
      {sim::kBuildWin95, false},
      {sim::kBuildWin95Osr2, true},
      {sim::kBuildWin98, true},
      {0xFFFF03B6, false},
      {0x7FFF0001, false},
      {0x000003B7, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "build 0x" << std::hex << c.build);
    sim::Machine machine = fixtures::InstalledMachine(sim::kBuildWin98);
    machine.buildNumber = c.build;
    machine.registry.SetCurrentUser("Anna");  // HKEY_CURRENT_USER apart from .DEFAULT
    for (int i = 11; i < 14; ++i) machine.registry.CreateKey(FullPath(i) + "\\Sub");
    sim::Activation active(machine);

    RemoveProduct();

    for (int i = 0; i < 14; ++i) EXPECT_EQ(machine.registry.KeyExists(FullPath(i)), i >= 11 && !c.later) << FullPath(i);
    const std::vector<std::string> flushes =
        c.later ? std::vector<std::string>{"HKEY_USERS", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"}
                : std::vector<std::string>{"HKEY_LOCAL_MACHINE"};
    EXPECT_EQ(Args0(machine, "RegFlushKey"), flushes);
    // The fixed keys, and instance key 0001 of each list.
    EXPECT_EQ(machine.trace().Count("RegDeleteKeyA"), (c.later ? 14u : 11u) + 2u);
    // The version first, then the fixed deletions and the flushes, before the walk's first open.
    const std::vector<std::string> ops = removal_test::Ops(removal_test::PlatformCalls(machine.trace()));
    std::size_t firstOpen = 0;
    while (firstOpen < ops.size() && ops[firstOpen] != "RegOpenKeyExA") ++firstOpen;
    ASSERT_EQ(firstOpen, 1 + (c.later ? 14u : 11u) + flushes.size());
    EXPECT_EQ(ops[0], "GetVersionExA");
    EXPECT_EQ(ops[firstOpen - 1], "RegFlushKey");
  }
}

TEST(RegistryKeys, OtherPrintersKeysStay) {
  sim::Machine clean = fixtures::CleanMachine();
  sim::Machine machine = fixtures::InstalledMachine();
  sim::Activation active(machine);
  RemoveRegistryKeys(1998);
  EXPECT_TRUE(machine.registry == clean.registry) << machine.registry.ExportRegText();
}

// One key of a walk layout: its number and the bytes of its compared value (none: no value).
struct Key {
  int number;
  std::optional<std::string> data;
};
std::optional<std::string> Sz(const std::string& text) { return text + std::string(1, '\0'); }
const std::optional<std::string> kMatch = Sz("ZANTEROVA Karsenby RK514");
// Keys first to last, each describing another printer ("a", "b", ...), then the keys in more.
std::vector<Key> OtherPrinters(int first, int last, std::vector<Key> more = {}) {
  std::vector<Key> keys;
  for (int n = first; n <= last; ++n) keys.push_back({n, Sz(std::string(1, static_cast<char>('a' + n - first)))});
  keys.insert(keys.end(), more.begin(), more.end());
  return keys;
}

// Names tried, as inclusive runs of numbers in the order they were tried.
using Runs = std::vector<std::pair<int, int>>;

struct WalkCase {
  const char* what;
  std::vector<Key> keys;
  Runs tried;
  std::set<int> deleted;
  bool deletionsFail = false;
};

std::string Number(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d", n);
  return text;
}

const WalkCase kWalkCases[] = {
    {"no keys: 0000 to 0101", {}, {{0, 101}}, {}},
    {"only 0000, not matching", {{0, Sz("HP LaserJet 4")}}, {{0, 101}}, {}},
    {"0000 to 0009, none matching", OtherPrinters(0, 9), {{0, 110}}, {}},
    {"only 0000, matching", {{0, kMatch}}, {{0, 0}, {0, 100}}, {0}},
    {"a match at 0099", {{99, kMatch}}, {{0, 99}, {99, 99}}, {99}},
    {"a match at 0100 is opened last and left", {{100, kMatch}}, {{0, 100}}, {}},
    {"a match at 0101 is opened last and left", {{101, kMatch}}, {{0, 101}}, {}},
    {"matches at 0041 and 0082", {{0, Sz("HP")}, {41, kMatch}, {82, kMatch}}, {{0, 41}, {41, 82}, {82, 97}}, {41, 82}},
    {"matches at 0049 and 0098", {{0, Sz("HP")}, {49, kMatch}, {98, kMatch}}, {{0, 49}, {49, 98}}, {49}},
    {"0000 to 0009, a gap at 0010, a match at 0011", OtherPrinters(0, 9, {{11, kMatch}}), {{0, 11}, {11, 108}}, {11}},
    {"five matches in a row",
     {{0, kMatch}, {1, kMatch}, {2, kMatch}, {3, kMatch}, {4, kMatch}},
     {{0, 0}, {0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 92}},
     {0, 1, 2, 3, 4}},
    {"a match, then a key without the value", {{0, kMatch}, {1, std::nullopt}}, {{0, 0}, {0, 99}}, {0}},
    {"a match, then a value too long to read", {{0, kMatch}, {1, Sz(std::string(300, 'x'))}}, {{0, 0}, {0, 99}}, {0}},
    {"letter case, a trailing blank, another printer",
     {{0, Sz("zanterova karsenby rk514")}, {1, Sz("ZANTEROVA Karsenby RK514 ")}, {2, Sz("HP LaserJet 4")}},
     {{0, 103}},
     {}},
    {"the name without its NUL", {{0, std::string("ZANTEROVA Karsenby RK514")}}, {{0, 101}}, {}},
    {"a deletion that does not take effect", {{0, kMatch}}, {{0, 0}, {0, 101}}, {}, true},
};

TEST(PurgeInstanceKeys, NamesTriedAndKeysDeletedInBothPasses) {
  const char* bases[2] = {"HKEY_LOCAL_MACHINE\\Enum\\Root\\printer",
                          "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Printer"};
  const char* valueNames[2] = {"DeviceDesc", "DriverDesc"};
  const char* openPrefixes[2] = {"\"Enum\\Root\\printer\\", "\"System\\CurrentControlSet\\Services\\Class\\Printer\\"};
  for (const WalkCase& c : kWalkCases) {
    SCOPED_TRACE(c.what);
    sim::Machine machine;
    for (int pass = 0; pass < 2; ++pass) {
      for (const Key& key : c.keys) {
        const std::string path = std::string(bases[pass]) + "\\" + Number(key.number);
        machine.registry.SetString(path, "Driver", "x");
        if (key.data) {
          machine.registry.SetValue(
              path, valueNames[pass],
              sim::RegValue{REG_SZ, std::vector<std::uint8_t>(key.data->begin(), key.data->end())});
        }
      }
    }
    if (c.deletionsFail) machine.faults().FailAll("RegDeleteKeyA");
    // A walk that loops is stopped here rather than hanging the suite.
    machine.trace().onCall = [&machine](const sim::Call&) {
      if (machine.trace().Calls().size() > 20000) throw sim::Unmodelled("the walk does not end");
    };
    sim::Activation active(machine);
    PurgeInstanceKeys();
    machine.trace().onCall = nullptr;

    std::vector<std::string> expected;
    for (auto [from, to] : c.tried) {
      for (int n = from; n <= to; ++n) expected.push_back(Number(n));
    }
    for (int pass = 0; pass < 2; ++pass) {
      SCOPED_TRACE(valueNames[pass]);
      const std::string prefix = openPrefixes[pass];
      std::vector<std::string> tried;
      for (const sim::Call& call : machine.trace().Of("RegOpenKeyExA")) {
        if (call.args[1].rfind(prefix, 0) == 0) tried.push_back(call.args[1].substr(prefix.size(), 4));
        EXPECT_EQ(call.args[0], "HKEY_LOCAL_MACHINE");
        EXPECT_EQ(call.args[3], "1");
      }
      EXPECT_EQ(tried, expected);
      for (const Key& key : c.keys) {
        const std::string path = std::string(bases[pass]) + "\\" + Number(key.number);
        EXPECT_EQ(machine.registry.KeyExists(path), c.deleted.count(key.number) == 0) << path;
      }
    }
    // Every key opened is closed again, the last probe's find too.
    std::size_t opened = 0;
    for (const sim::Call& call : machine.trace().Of("RegOpenKeyExA")) opened += call.result == "0";
    EXPECT_EQ(machine.trace().Count("RegCloseKey"), opened);
  }
}

}  // namespace
