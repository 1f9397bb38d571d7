// The host side of the Wine suite: the scenario format, the expected-state rules, the one table of
// Wine's differences, the next start's work on wininit.ini, and every case of cases.txt run on
// the simulated machine against its written-down expected state.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "sim_case.h"
#include "simulated_machine.h"

namespace {

using machines::StateDump;

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

TEST(ScenarioFormat, ReadsEveryKindOfItem) {
  const std::string text =
      "# a comment\n"
      "release win95\n"
      "key    HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\n"
      "sz     HKCR\\CLSID\\{x} | @ | Shell%20Extension\n"
      "dword  HKLM\\A | Version | 0x00000400\n"
      "binary HKCU\\B | Order | 08 00 ff\n"
      "sz     HKLM\\C | Empty |\n"
      "profile ZANTEROVA Karsenby RK514-LPT1: | Resolution | 600\n"
      "dir    $PROGRAMS\\ZANTEROVA RK514\n"
      "file   $WINDIR\\wininit.ini | [Rename]%0D%0ANUL=$WINDIR\\X%1A\n"
      "include more.inc\n";
  machines::IncludeReader include = [](const std::string& name, std::string& included) {
    if (name != "more.inc") return false;
    included = "release win98\nfile $SYSDIR\\KB47RK.DRV | MZ\n";
    return true;
  };
  machines::Scenario scenario;
  std::string error;
  ASSERT_TRUE(machines::ParseScenario(text, "t.scn", scenario, error, include)) << error;

  EXPECT_EQ(scenario.release, "win95");  // an included file does not change the release
  ASSERT_EQ(scenario.registry.size(), 5u);
  EXPECT_EQ(scenario.registry[0].root, "HKLM");
  EXPECT_EQ(scenario.registry[0].kind, machines::RegistryEntry::Key);
  EXPECT_EQ(scenario.registry[1].root, "HKCR");
  EXPECT_EQ(scenario.registry[1].name, "");  // @ is the default value
  EXPECT_EQ(std::string(scenario.registry[1].data.begin(), scenario.registry[1].data.end()),
            std::string("Shell Extension\0", 16));
  EXPECT_EQ(scenario.registry[2].data, (std::vector<std::uint8_t>{0x00, 0x04, 0x00, 0x00}));
  EXPECT_EQ(scenario.registry[3].data, (std::vector<std::uint8_t>{0x08, 0x00, 0xff}));
  EXPECT_EQ(scenario.registry[4].data, (std::vector<std::uint8_t>{0}));  // an empty string
  ASSERT_EQ(scenario.profile.size(), 1u);
  EXPECT_EQ(scenario.profile[0].section, "ZANTEROVA Karsenby RK514-LPT1:");
  ASSERT_EQ(scenario.files.size(), 3u);
  EXPECT_TRUE(scenario.files[0].isDirectory);
  EXPECT_EQ(scenario.files[1].bytes, "[Rename]\r\nNUL=$WINDIR\\X\x1A");
  EXPECT_EQ(scenario.files[2].path, "$SYSDIR\\KB47RK.DRV");
}

// A file included from another folder names its own includes from its folder, not the first
// file's: the samples and the Wine scenarios both include ../machines' description this way.
TEST(ScenarioFormat, NestedIncludesAreRelativeToTheirOwnFile) {
  std::vector<std::string> asked;
  machines::IncludeReader include = [&](const std::string& name, std::string& included) {
    asked.push_back(name);
    if (name == "../shared/setup.inc") included = "include parts/keys.inc\nprofile Devices | P | x\n";
    else if (name == "../shared/parts/keys.inc") included = "key HKLM\\A\n";
    else return false;
    return true;
  };
  machines::Scenario scenario;
  std::string error;
  ASSERT_TRUE(machines::ParseScenario("include ../shared/setup.inc\n", "t.scn", scenario, error, include)) << error;
  EXPECT_EQ(asked, (std::vector<std::string>{"../shared/setup.inc", "../shared/parts/keys.inc"}));
  EXPECT_EQ(scenario.registry.size(), 1u);
  EXPECT_EQ(scenario.profile.size(), 1u);
}

TEST(ScenarioFormat, NamesTheBadLine) {
  const struct {
    const char* line;
    const char* error;
  } cases[] = {
      {"release win2000", "t.scn:2: release is win95 or win98"},
      {"sz HKLM\\A | name", "t.scn:2: sz takes PATH | NAME | DATA"},
      {"sz HKXX\\A | n | v", "t.scn:2: not a key path under HKLM, HKCU, HKU, HKCR or HKCC: HKXX\\A"},
      {"key HKLM", "t.scn:2: not a key path under HKLM, HKCU, HKU, HKCR or HKCC: HKLM"},
      {"dword HKLM\\A | n | 0x100000000", "t.scn:2: bad number: 0x100000000"},
      {"binary HKLM\\A | n | 0g", "t.scn:2: bad hex bytes"},
      {"file C:\\X | bytes", "t.scn:2: a path starts with $WINDIR, $SYSDIR or $PROGRAMS: C:\\X"},
      {"file $WINDIR\\X | 50%", "t.scn:2: bad %XX escape"},
      {"file $WINDIR\\X", "t.scn:2: file takes PATH | BYTES"},
      {"profile Devices | | x", "t.scn:2: profile takes SECTION | KEY | VALUE"},
      {"include other.inc", "t.scn:2: cannot include other.inc"},
      {"copy $WINDIR\\X", "t.scn:2: unknown directive: copy"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    machines::Scenario scenario;
    std::string error;
    EXPECT_FALSE(machines::ParseScenario(std::string("# first\n") + c.line + "\n", "t.scn", scenario, error));
    EXPECT_EQ(error, c.error);
  }
}

TEST(ScenarioFormat, BytesSurviveEncoding) {
  const std::string samples[] = {
      std::string("[rename]\r\nNUL=C:\\WINDOWS\\SYSTEM\\KB47TN16.DLL\r\n"),
      std::string("50% | piped\x1A"),
      std::string("trailing blank "),
      std::string("\0\x01\xff", 3),
  };
  for (const std::string& bytes : samples) {
    SCOPED_TRACE(bytes);
    const std::string text = machines::EncodeBytes(bytes);
    // One line of a dump: no line end, no field separator, no invisible blank at the end.
    EXPECT_EQ(text.find_first_of("\r\n|"), std::string::npos);
    EXPECT_NE(text.back(), ' ');
    std::string decoded;
    ASSERT_TRUE(machines::DecodeBytes(text, decoded));
    EXPECT_EQ(decoded, bytes);
  }
}

TEST(ExpectedState, RemovesKeysAndFoldersWithWhatIsBeneath) {
  StateDump seeded;
  std::string parseError;
  ASSERT_TRUE(
      machines::ParseDump("key HKLM\\A\nvalue HKLM\\A | v => sz:1\nkey HKLM\\A\\B\nvalue HKLM\\A\\B | w => sz:2\n"
                          "key HKLM\\AB\nvalue HKLM\\AB | v => sz:3\ndir $PROGRAMS\\G\nfile $PROGRAMS\\G\\x.LNK => L\n"
                          "file $PROGRAMS\\Gx => y\nprofile Devices | P => kb47rk,LPT1:\n",
                          "seeded", seeded, parseError))
      << parseError;
  machines::BaseResolver resolve = [&](const std::string& name, StateDump& base, std::string& error) {
    if (name != "seeded") {
      error = "no base " + name;
      return false;
    }
    base = seeded;
    return true;
  };
  StateDump expected;
  std::string error;
  ASSERT_TRUE(
      machines::ReadExpected("from seeded\n- key HKLM\\A\n- dir $PROGRAMS\\G\n"
                             "- profile Devices | P\n+ exit => 2\n",
                             "e", resolve, expected, error))
      << error;
  // HKLM\AB and $PROGRAMS\Gx only share a prefix with what went: they stay.
  EXPECT_EQ(expected.Text(), "exit => 2\nfile $PROGRAMS\\Gx => y\nkey HKLM\\AB\nvalue HKLM\\AB | v => sz:3\n");

  // A line that removes nothing is a mistake in the expected state, not a pass.
  EXPECT_FALSE(machines::ReadExpected("from seeded\n- key HKLM\\C\n", "e", resolve, expected, error));
  EXPECT_EQ(error, "e:2: removes nothing: key HKLM\\C");
}

TEST(WineDifferences, OneKeyOnWindows98ShowsUnderBothNames) {
  const std::string cu =
      "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs\\ZANTEROVA RK514";
  const std::string du =
      "HKU\\.DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs\\ZANTEROVA RK514";
  const std::string cc = "HKCC\\System\\CurrentControlSet\\control\\Print\\Printers\\ZANTEROVA Karsenby RK514";
  const std::string config =
      "HKLM\\Config\\0001\\System\\CurrentControlSet\\control\\Print\\Printers\\ZANTEROVA Karsenby RK514";
  StateDump wineDump;
  wineDump.Set("key " + cu);
  wineDump.Set("value " + cu + " | Order", "hex(3):08");
  wineDump.Set("key " + config + "\\Sub");
  wineDump.Set("key HKCU\\Software\\Other");
  StateDump seen = machines::AsWindows98Would(wineDump);
  EXPECT_EQ(seen.fields.count("key " + du), 1u);
  EXPECT_EQ(seen.fields["value " + du + " | Order"], "hex(3):08");
  EXPECT_EQ(seen.fields.count("key " + cc + "\\Sub"), 1u);
  // Only the named pairs: any other HKCU key is the same key on both.
  EXPECT_EQ(seen.fields.count("key HKU\\.DEFAULT\\Software\\Other"), 0u);
  EXPECT_EQ(seen.fields.size(), wineDump.fields.size() + 3);
}

// The next start of Windows: what wininit.ini's lines do to the files they name.
TEST(NextStart, WorksThroughTheRenameSectionOnly) {
  const struct {
    const char* name;
    std::string wininit;
    std::vector<std::string> gone, kept;
    std::string movedTo;  // a file that a rename line creates, with A.DLL's contents
  } cases[] = {
      {"NUL= deletes", "[rename]\r\nNUL=C:\\WINDOWS\\SYSTEM\\A.DLL\r\n", {"A.DLL"}, {"B.DLL"}, ""},
      {"the keyword and the section in any case",
       "[Rename]\r\nnul=C:\\WINDOWS\\SYSTEM\\A.DLL\r\n",
       {"A.DLL"},
       {"B.DLL"},
       ""},
      {"NULL= is a rename to a file called NULL",
       "[rename]\r\nNULL=C:\\WINDOWS\\SYSTEM\\A.DLL\r\n",
       {"A.DLL"},
       {"B.DLL"},
       "C:\\WINDOWS\\NULL"},
      {"another section is passed over", "[other]\r\nNUL=C:\\WINDOWS\\SYSTEM\\A.DLL\r\n", {}, {"A.DLL", "B.DLL"}, ""},
      {"comments are passed over", "[rename]\r\n;NUL=C:\\WINDOWS\\SYSTEM\\A.DLL\r\n", {}, {"A.DLL", "B.DLL"}, ""},
      {"a rename with a folder",
       "[rename]\r\nC:\\WINDOWS\\C.DLL=C:\\WINDOWS\\SYSTEM\\A.DLL\r\n",
       {"A.DLL"},
       {"B.DLL"},
       "C:\\WINDOWS\\C.DLL"},
      {"lines after a Ctrl-Z are not read",
       "[rename]\r\n\x1ANUL=C:\\WINDOWS\\SYSTEM\\A.DLL\r\n",
       {},
       {"A.DLL", "B.DLL"},
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine machine;
    machine.files.WriteFile("C:\\WINDOWS\\SYSTEM\\A.DLL", "a");
    machine.files.WriteFile("C:\\WINDOWS\\SYSTEM\\B.DLL", "b");
    machine.files.WriteFile("C:\\WINDOWS\\wininit.ini", c.wininit);
    machines::StartWindowsAgain(machine);
    for (const std::string& name : c.gone) EXPECT_FALSE(machine.files.Exists("C:\\WINDOWS\\SYSTEM\\" + name)) << name;
    for (const std::string& name : c.kept) EXPECT_TRUE(machine.files.Exists("C:\\WINDOWS\\SYSTEM\\" + name)) << name;
    if (!c.movedTo.empty()) {
      EXPECT_EQ(machine.files.ReadFile(c.movedTo), std::optional<std::string>("a"));
    }
    EXPECT_FALSE(machine.files.Exists("C:\\WINDOWS\\wininit.ini"));
    EXPECT_EQ(machine.files.ReadFile("C:\\WINDOWS\\wininit.bak"), std::optional<std::string>(c.wininit));
  }
}

TEST(NextStart, WithoutWininitNothingHappens) {
  sim::Machine machine;
  machine.files.WriteFile("C:\\WINDOWS\\SYSTEM\\A.DLL", "a");
  const sim::Machine before = machine;
  machines::StartWindowsAgain(machine);
  EXPECT_TRUE(machine.SameState(before));
}

// Every case of cases.txt, run on the simulated machine, gives its written-down expected state.
struct Case {
  std::string name, scenario, flow;
  std::string next;  // "next", "wine" (Wine's next start alone) or "-"
};

std::vector<Case> ReadCases() {
  std::ifstream in(std::string(RK514_WINE_DIR) + "/cases.txt");
  std::vector<Case> cases;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Case c;
    fields >> c.name >> c.scenario >> c.flow >> c.next;
    cases.push_back(c);
  }
  return cases;
}

class SimulatedCase : public ::testing::TestWithParam<Case> {};

TEST_P(SimulatedCase, GivesTheExpectedState) {
  const Case& c = GetParam();
  const std::string dir = RK514_WINE_DIR;
  machines::Scenario scenario;
  std::string error;
  ASSERT_TRUE(machines::LoadScenarioFile(dir + "/scenarios/" + c.scenario, scenario, error)) << error;
  wine::SimRun run = wine::RunInSimulator(scenario, c.flow);

  StateDump expected;
  ASSERT_TRUE(wine::LoadExpected(dir + "/expected", c.name + ".expected", run.seeded, expected, error)) << error;
  EXPECT_EQ(Joined(machines::CompareDumps(expected, run.after)), "");
  ASSERT_TRUE(c.next == "next" || c.next == "wine" || c.next == "-") << "NEXT START " << c.next;
  if (c.next != "-") {
    StateDump expectedNext;
    ASSERT_TRUE(wine::LoadExpected(dir + "/expected", c.name + ".next.expected", run.seeded, expectedNext, error))
        << error;
    // Only Wine's next start is compared where the simulated one differs from it by design.
    if (c.next == "next") {
      EXPECT_EQ(Joined(machines::CompareDumps(expectedNext, run.next)), "");
    } else {
      EXPECT_NE(Joined(machines::CompareDumps(expectedNext, run.next)), "")
          << "the simulated next start is Wine's here: the case can compare both (NEXT START next)";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SimulatedCase, ::testing::ValuesIn(ReadCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name = info.param.name;
                           for (char& ch : name) {
                             if (ch == '-') ch = '_';
                           }
                           return name;
                         });

// The seeded state holds every item of the scenario: a scenario line that the loader dropped
// would make "from seeded" expectations pass without testing anything.
TEST(SimulatedSeeding, EveryScenarioItemIsInTheDump) {
  machines::Scenario scenario;
  std::string error;
  ASSERT_TRUE(machines::LoadScenarioFile(std::string(RK514_WINE_DIR) + "/scenarios/installed98.scn", scenario, error))
      << error;
  sim::Machine machine = machines::MachineFor(scenario);
  StateDump dump = machines::DumpMachine(machine, machines::WatchFor(scenario));
  EXPECT_EQ(dump.fields["build"], "2222");
  for (const machines::RegistryEntry& entry : scenario.registry) {
    const std::string key = entry.root + "\\" + entry.path;
    SCOPED_TRACE(key);
    EXPECT_EQ(dump.fields.count("key " + key), 1u);
    if (entry.kind != machines::RegistryEntry::Key) {
      EXPECT_EQ(dump.fields.count("value " + key + " | " + (entry.name.empty() ? "@" : entry.name)), 1u);
    }
  }
  for (const machines::ProfileEntry& entry : scenario.profile)
    EXPECT_EQ(dump.fields["profile " + entry.section + " | " + entry.key], entry.value) << entry.key;
  for (const machines::FileEntry& entry : scenario.files) {
    SCOPED_TRACE(entry.path);
    if (entry.isDirectory) {
      EXPECT_EQ(dump.fields.count("dir " + entry.path), 1u);
    } else {
      EXPECT_EQ(dump.fields["file " + entry.path], machines::EncodeBytes(entry.bytes));
    }
  }
}

}  // namespace
