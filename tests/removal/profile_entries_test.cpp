// The win.ini stage: the port sections chosen by the printer's [Devices] value, then its keys.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "removal_test_util.h"
#include "sim/machine.h"
#include "stages.h"

namespace {

const std::string kPrinter = "ZANTEROVA Karsenby RK514";
const std::vector<std::string> kPortSections = {
    "LPT1", "FILE", "LPT2", "LPT1:", "COM1", "\\\\SERVER\\QUEUE", "\\\\SERVER\\QUEUE,15"};

std::string WinIni(const char* device) {
  std::string text = "[Devices]\r\n";
  if (device != nullptr) text += kPrinter + "=" + device + "\r\n";
  text += "HP LaserJet 4=HPPCL5MS,LPT1:\r\n[PrinterPorts]\r\n" + kPrinter + "=kb47rk,LPT1:,15,45\r\n";
  for (const std::string& port : kPortSections) text += "[" + kPrinter + "-" + port + "]\r\nColorMode=1\r\n";
  return text;
}

// The section headers left in win.ini, and the keys of [Devices] and [PrinterPorts].
std::vector<std::string> Headers(const std::string& text) {
  std::vector<std::string> headers;
  std::size_t at = 0;
  while ((at = text.find("\r\n[", at)) != std::string::npos) {
    at += 3;
    headers.push_back(text.substr(at, text.find("]\r\n", at) - at));
  }
  return headers;
}

std::string Deleting(const std::string& section) { return "WriteProfileStringA(\"" + section + "\", NULL, NULL)"; }

TEST(PrinterProfileEntries, PortSectionsByDeviceValue) {
  const std::string printer = "\"" + kPrinter + "\"";
  const std::vector<std::string> local = {"LPT1", "FILE", "LPT2"};
  struct Case {
    const char* device;              // the printer's [Devices] value, or none
    std::vector<std::string> ports;  // the port sections deleted, in order
  } cases[] = {
      {nullptr, local},
      {"kb47rk,LPT1:", local},
      {"kb47rk,COM1:", local},
      {"kb47rk,\\\\SERVER\\QUEUE", {"\\\\SERVER\\QUEUE"}},
      {"kb47rk,\\\\SERVER\\QUEUE,15", {"\\\\SERVER\\QUEUE,15"}},
      {"a\\b,LPT1:", {"LPT1:"}},
      {"kb47rk\\\\SERVER\\QUEUE", {}},  // a backslash but no comma: no port to name
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device == nullptr ? "no [Devices] entry" : c.device);
    sim::Machine machine;
    machine.files.WriteFile(machine.WinIniPath(), WinIni(c.device));
    sim::Activation active(machine);

    RemovePrinterProfileEntries();

    std::vector<std::string> expected = {"GetProfileStringA(\"Devices\", " + printer + ", \"kb47rk,lpt1:\", 150)"};
    for (const std::string& port : c.ports) expected.push_back(Deleting(kPrinter + "-" + port));
    expected.push_back("WriteProfileStringA(\"Devices\", " + printer + ", NULL)");
    expected.push_back("WriteProfileStringA(\"PrinterPorts\", " + printer + ", NULL)");
    expected.push_back("GetProfileStringA(\"windows\", \"device\", \"\", 150)");
    EXPECT_EQ(removal_test::PlatformCalls(machine.trace()), expected);

    std::vector<std::string> left = {"PrinterPorts"};
    for (const std::string& port : kPortSections) {
      bool deleted = false;
      for (const std::string& gone : c.ports) deleted = deleted || gone == port;
      if (!deleted) left.push_back(kPrinter + "-" + port);
    }
    const std::string after = machine.files.ReadFile(machine.WinIniPath()).value();
    EXPECT_EQ(Headers(after), left);
    EXPECT_EQ(after.substr(0, after.find("[PrinterPorts]")), "[Devices]\r\nHP LaserJet 4=HPPCL5MS,LPT1:\r\n");
    EXPECT_EQ(after.find(kPrinter + "=kb47rk,LPT1:,15,45"), std::string::npos);
  }
}

// [windows] device= names the default printer as "printer,driver,port": it goes only when the
// text before its first comma, as a 150-byte read gives it, is the printer's name (letter case
// aside, as Windows matches printer names).
TEST(PrinterProfileEntries, DefaultPrinterByTheNameBeforeItsFirstComma) {
  const std::string longPort(200, 'p');
  struct Case {
    const char* what;
    std::string device;
    bool removed;
  } cases[] = {
      {"the printer on a local port", kPrinter + ",kb47rk,LPT1:", true},
      {"the printer on a network queue", kPrinter + ",kb47rk,\\\\SERVER\\QUEUE", true},
      {"the printer, its value longer than 149 characters", kPrinter + ",kb47rk," + longPort, true},
      {"the printer as the whole value, without a comma", kPrinter, false},
      {"another printer", "HP LaserJet 4,HPPCL5MS,LPT1:", false},
      {"the name in other letters", "zanterova karsenby rk514,kb47rk,LPT1:", true},
      {"a blank before the comma", kPrinter + " ,kb47rk,LPT1:", false},
      {"one character more", kPrinter + "0,kb47rk,LPT1:", false},
      {"a hyphen for the blank", "ZANTEROVA-Karsenby RK514,kb47rk,LPT1:", false},
      {"the name after another printer's", "HP LaserJet 4," + kPrinter + ",LPT1:", false},
      {"a comma beyond the 149 characters read", kPrinter + std::string(130, ' ') + "x,kb47rk,LPT1:", false},
  };
  const std::string before = "[windows]\r\nload=\r\n";
  const std::string after = "run=\r\n\r\n[Devices]\r\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Machine machine;
    machine.files.WriteFile(machine.WinIniPath(), before + "device=" + c.device + "\r\n" + after);
    sim::Activation active(machine);

    RemovePrinterProfileEntries();

    EXPECT_EQ(machine.files.ReadFile(machine.WinIniPath()),
              c.removed ? before + after : before + "device=" + c.device + "\r\n" + after);
    const std::vector<std::string> calls = removal_test::PlatformCalls(machine.trace());
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls.back() == "WriteProfileStringA(\"windows\", \"device\", NULL)", c.removed);
  }
}

}  // namespace
