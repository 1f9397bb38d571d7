// The simulated Windows profile: reading win.ini values and editing win.ini in place.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "sim/machine.h"
#include "win32.h"

namespace {

// Written in lower case: the profile finds C:\WINDOWS\WIN.INI without letter case.
const char kWinIni[] = "C:\\WINDOWS\\win.ini";

// A win.ini as a printer's setup leaves it, with mixed line ends and an untidy line or two.
const std::string kPrinterIni =
    "[windows]\r\n"
    "device=ZANTEROVA Karsenby RK514,kb47rk,LPT1:\r\n"
    "\r\n"
    "[Devices]\r\n"
    "Generic / Text Only=TTY,FILE:\r\n"
    "  ZANTEROVA Karsenby RK514 =  kb47rk,LPT1:  \r\n"
    "\r\n"
    "[PrinterPorts]\n"
    "ZANTEROVA Karsenby RK514=kb47rk,LPT1:,15,45\n"
    "\r\n"
    "[ZANTEROVA Karsenby RK514-LPT1]\r\n"
    "Resolution=600\r\n"
    "; a comment\r\n"
    "\r\n"
    "[ZANTEROVA Karsenby RK514-LPT1:]\r\n"
    "Resolution=300\r\n"
    "[fonts]\r\n"
    "Arial=ARIAL.FON";

class ProfileTest : public ::testing::Test {
 protected:
  sim::Machine machine;
  sim::Activation active{machine};

  void SetIni(const std::optional<std::string>& bytes) {
    machine.files.Delete(kWinIni);
    if (bytes) machine.files.WriteFile(kWinIni, *bytes);
  }
  std::optional<std::string> Ini() { return machine.files.ReadFile(kWinIni); }
};

struct ReadCase {
  const char* name;
  std::optional<std::string> ini;
  const char* section;
  const char* key;
  const char* defaultText;
  DWORD size;
  std::string expected;
};

TEST_F(ProfileTest, ReadsAValueOrTheDefault) {
  const std::string dup = "[Devices]\r\nA=first\r\n[other]\r\nB=x\r\n[DEVICES]\r\nA=second\r\nC=only later\r\n";
  const std::vector<ReadCase> cases = {
      {"blanks around key and value are not part of them", kPrinterIni, "Devices", "ZANTEROVA Karsenby RK514",
       "kb47rk,lpt1:", 150, "kb47rk,LPT1:"},
      {"names compare without letter case", kPrinterIni, "dEVICES", "zanterova karsenby rk514", "d", 150,
       "kb47rk,LPT1:"},
      {"a line feed alone ends a line", kPrinterIni, "PrinterPorts", "ZANTEROVA Karsenby RK514", "d", 150,
       "kb47rk,LPT1:,15,45"},
      {"a last line without a line end", kPrinterIni, "fonts", "Arial", "d", 150, "ARIAL.FON"},
      {"the value is cut to size - 1", kPrinterIni, "Devices", "ZANTEROVA Karsenby RK514", "d", 5, "kb47"},
      {"size 1 holds only the NUL", kPrinterIni, "Devices", "ZANTEROVA Karsenby RK514", "d", 1, ""},
      {"a missing key gives the default", kPrinterIni, "Devices", "ZANTEROVA Karsenby RK515", "kb47rk,lpt1:", 150,
       "kb47rk,lpt1:"},
      {"a missing section gives the default", kPrinterIni, "Device", "ZANTEROVA Karsenby RK514", "kb47rk,lpt1:", 150,
       "kb47rk,lpt1:"},
      {"a missing win.ini gives the default", std::nullopt, "Devices", "ZANTEROVA Karsenby RK514", "kb47rk,lpt1:", 150,
       "kb47rk,lpt1:"},
      {"the default is cut to size - 1 too", std::nullopt, "Devices", "X", "kb47rk,lpt1:", 7, "kb47rk"},
      {"the default loses its trailing spaces", std::nullopt, "Devices", "X", "  a b  ", 150, "  a b"},
      {"a NULL default reads as empty", std::nullopt, "Devices", "X", nullptr, 150, ""},
      {"a key in another section is not found", kPrinterIni, "windows", "Generic / Text Only", "d", 150, "d"},
      {"a key line without '=' has no value", "[S]\r\nK\r\n", "S", "K", "d", 150, "d"},
      {"an empty value is a value", "[S]\r\nK=\r\n", "S", "K", "d", 150, ""},
      {"only the first '=' ends the key", "[S]\r\nK = a=b\r\n", "S", "K", "d", 150, "a=b"},
      {"a value in quotes is read without them", "[S]\r\nK=\"a,b \"\r\n", "S", "K", "d", 150, "a,b "},
      {"lines before the first header are in no section", "K=v\r\n[S]\r\n", "S", "K", "d", 150, "d"},
      {"a header is '[' to the last ']'", "[S] x]\r\nK=v\r\n", "S] x", "K", "d", 150, "v"},
      {"duplicate sections: the first one's value", dup, "Devices", "A", "d", 150, "first"},
      {"duplicate sections: a later one is not searched", dup, "Devices", "C", "d", 150, "d"},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetIni(c.ini);
    char buffer[200];
    std::memset(buffer, '#', sizeof buffer);
    const DWORD count = GetProfileStringA(c.section, c.key, c.defaultText, buffer, c.size);
    EXPECT_EQ(count, c.expected.size());
    EXPECT_EQ(std::string(buffer), c.expected);
    for (std::size_t i = c.size; i < sizeof buffer; ++i) {
      ASSERT_EQ(buffer[i], '#') << "a byte written past the buffer's size, at " << i;
    }
    EXPECT_EQ(Ini(), c.ini) << "a read changes nothing";
  }
}

struct WriteCase {
  const char* name;
  std::optional<std::string> before;
  const char* section;
  const char* key;
  const char* value;
  std::optional<std::string> after;
};

TEST_F(ProfileTest, EditsOnlyTheLinesItMust) {
  const std::string dup = "[A]\r\nk=1\r\n[b]\r\nk=2\r\n[a]\r\nk=3\r\nj=4\r\n";
  const std::vector<WriteCase> cases = {
      {"a section goes with every line up to the next header", kPrinterIni, "ZANTEROVA Karsenby RK514-LPT1", nullptr,
       nullptr,
       "[windows]\r\ndevice=ZANTEROVA Karsenby RK514,kb47rk,LPT1:\r\n\r\n[Devices]\r\nGeneric / Text "
       "Only=TTY,FILE:\r\n  ZANTEROVA Karsenby RK514 =  kb47rk,LPT1:  \r\n\r\n[PrinterPorts]\nZANTEROVA "
       "Karsenby RK514=kb47rk,LPT1:,15,45\n\r\n[ZANTEROVA Karsenby RK514-LPT1:]\r\nResolution=300\r\n[fonts]"
       "\r\nArial=ARIAL.FON"},
      {"the last section, without a final line end", kPrinterIni, "FONTS", nullptr, nullptr,
       kPrinterIni.substr(0, kPrinterIni.find("[fonts]"))},
      {"a missing section changes nothing", kPrinterIni, "ZANTEROVA Karsenby RK514-FILE", nullptr, nullptr,
       kPrinterIni},
      {"a key goes, its neighbours stay as they were", kPrinterIni, "devices", "zanterova karsenby rk514", nullptr,
       "[windows]\r\ndevice=ZANTEROVA Karsenby RK514,kb47rk,LPT1:\r\n\r\n[Devices]\r\nGeneric / Text "
       "Only=TTY,FILE:\r\n\r\n[PrinterPorts]\nZANTEROVA Karsenby RK514=kb47rk,LPT1:,15,45\n\r\n[ZANTEROVA "
       "Karsenby RK514-LPT1]\r\nResolution=600\r\n; a comment\r\n\r\n[ZANTEROVA Karsenby "
       "RK514-LPT1:]\r\nResolution=300\r\n[fonts]\r\nArial=ARIAL.FON"},
      {"a key with a line feed alone", "[P]\nK=v\nL=w\n", "P", "K", nullptr, "[P]\nL=w\n"},
      {"a missing key changes nothing", kPrinterIni, "PrinterPorts", "Generic / Text Only", nullptr, kPrinterIni},
      {"a key of the same name elsewhere stays", "[A]\r\nk=1\r\n[B]\r\nk=2\r\n", "B", "K", nullptr,
       "[A]\r\nk=1\r\n[B]\r\n"},
      {"duplicate sections: the first one goes", dup, "a", nullptr, nullptr, "[b]\r\nk=2\r\n[a]\r\nk=3\r\nj=4\r\n"},
      {"duplicate sections: the key's first line goes", dup, "A", "k", nullptr,
       "[A]\r\n[b]\r\nk=2\r\n[a]\r\nk=3\r\nj=4\r\n"},
      {"duplicate sections: a key only in the later one", dup, "A", "J", nullptr,
       "[A]\r\nk=1\r\n[b]\r\nk=2\r\n[a]\r\nk=3\r\n"},
      {"setting a key rewrites its line only", "[S]\nK = old \nL=1\n", "s", "k", "new", "[S]\nK=new\r\nL=1\n"},
      {"setting the value it has changes nothing", "[S]\nK = v \n", "S", "K", "v", "[S]\nK = v \n"},
      {"a new key follows the section's last entry", "[S]\r\nA=1\r\n\r\n[T]\r\n", "S", "B", "2",
       "[S]\r\nA=1\r\nB=2\r\n\r\n[T]\r\n"},
      {"a new key after a last line without a line end", "[S]\r\nA=1", "S", "B", "2", "[S]\r\nA=1\r\nB=2\r\n"},
      {"a new section goes at the end", "[S]\r\nA=1", "T", "B", "2", "[S]\r\nA=1\r\n[T]\r\nB=2\r\n"},
      {"duplicate sections: a new key goes in the first", dup, "a", "m", "5",
       "[A]\r\nk=1\r\nm=5\r\n[b]\r\nk=2\r\n[a]\r\nk=3\r\nj=4\r\n"},
      {"a missing win.ini stays missing: section", std::nullopt, "Devices", nullptr, nullptr, std::nullopt},
      {"a missing win.ini stays missing: key", std::nullopt, "Devices", "K", nullptr, std::nullopt},
      {"a missing win.ini is created to set a key", std::nullopt, "Devices", "K", "v", "[Devices]\r\nK=v\r\n"},
      {"an empty win.ini stays empty", "", "Devices", "K", nullptr, ""},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetIni(c.before);
    EXPECT_EQ(WriteProfileStringA(c.section, c.key, c.value), TRUE);
    EXPECT_EQ(Ini(), c.after);
  }
}

TEST_F(ProfileTest, AnEditKeepsTheFileName) {
  SetIni(kPrinterIni);
  ASSERT_EQ(WriteProfileStringA("Devices", "ZANTEROVA Karsenby RK514", nullptr), TRUE);
  EXPECT_EQ(machine.files.LongPath(kWinIni), "C:\\WINDOWS\\win.ini");
}

TEST_F(ProfileTest, AReadOnlyWinIniRefusesEveryWrite) {
  machine.files.WriteFile(kWinIni, kPrinterIni, {.readOnly = true});
  EXPECT_EQ(WriteProfileStringA("Devices", "ZANTEROVA Karsenby RK514", nullptr), FALSE);
  EXPECT_EQ(WriteProfileStringA("fonts", nullptr, nullptr), FALSE);
  EXPECT_EQ(Ini(), kPrinterIni);
}

TEST_F(ProfileTest, InjectedFaults) {
  SetIni(kPrinterIni);
  machine.faults().FailNth("GetProfileStringA", 1);
  machine.faults().FailNth("WriteProfileStringA", 1);
  char buffer[150];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GetProfileStringA("Devices", "ZANTEROVA Karsenby RK514", "kb47rk,lpt1:", buffer, 150), 0u);
  EXPECT_STREQ(buffer, "") << "a failed read does not copy the default";
  EXPECT_EQ(WriteProfileStringA("Devices", "ZANTEROVA Karsenby RK514", nullptr), FALSE);
  EXPECT_EQ(Ini(), kPrinterIni);
  // The next calls do not fail.
  EXPECT_EQ(GetProfileStringA("Devices", "ZANTEROVA Karsenby RK514", "kb47rk,lpt1:", buffer, 150), 12u);
  EXPECT_EQ(WriteProfileStringA("Devices", "ZANTEROVA Karsenby RK514", nullptr), TRUE);
  EXPECT_NE(Ini(), kPrinterIni);

  SetIni(std::nullopt);
  machine.faults().FailAll("WriteProfileStringA");
  EXPECT_EQ(WriteProfileStringA("Devices", "K", "v"), FALSE);
  EXPECT_EQ(Ini(), std::nullopt);
}

TEST_F(ProfileTest, UnmodelledFormsThrow) {
  SetIni(kPrinterIni);
  char buffer[150];
  EXPECT_THROW(GetProfileStringA(nullptr, "K", "d", buffer, 150), sim::Unmodelled);
  EXPECT_THROW(GetProfileStringA("Devices", nullptr, "d", buffer, 150), sim::Unmodelled);
  EXPECT_THROW(WriteProfileStringA(nullptr, nullptr, nullptr), sim::Unmodelled);
  EXPECT_EQ(Ini(), kPrinterIni);
}

TEST_F(ProfileTest, TraceShowsTheArgumentsWithNulls) {
  SetIni(kPrinterIni);
  char buffer[150];
  GetProfileStringA("Devices", "ZANTEROVA Karsenby RK514", "kb47rk,lpt1:", buffer, 150);
  WriteProfileStringA("ZANTEROVA Karsenby RK514-LPT1", nullptr, nullptr);
  WriteProfileStringA("Devices", "ZANTEROVA Karsenby RK514", nullptr);
  std::vector<std::string> calls;
  for (const sim::Call& call : machine.trace().Calls()) calls.push_back(call.ToString());
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "GetProfileStringA(\"Devices\", \"ZANTEROVA Karsenby RK514\", \"kb47rk,lpt1:\", 150) = "
                       "12 \"kb47rk,LPT1:\"",
                       "WriteProfileStringA(\"ZANTEROVA Karsenby RK514-LPT1\", NULL, NULL) = 1",
                       "WriteProfileStringA(\"Devices\", \"ZANTEROVA Karsenby RK514\", NULL) = 1",
                   }));
}

}  // namespace
