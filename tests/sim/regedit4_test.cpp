// REGEDIT4 files: what Windows 98's regedit writes loads, every value survives an export and a
// load byte for byte, and a malformed file names its line and loads nothing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/errors.h"
#include "sim/registry.h"

namespace {

using sim::Registry;
using sim::RegValue;

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

// A registry with a value of every form that an export has to get right.
Registry EveryValueForm() {
  Registry registry;
  const std::string key = "HKLM\\SOFTWARE\\Forms";
  registry.SetString(key, "", "the default value");
  registry.SetString(key, "Path", "C:\\WINDOWS\\SYSTEM\\KB47MON.DLL");
  registry.SetString(key, "Quoted \"name\" \\ too", "say \"hi\" \\ bye");
  registry.SetString(key, "Empty", "");
  registry.SetString(key, "Ansi", "\xC4rger \xA9");
  registry.SetDword(key, "Count", 10);
  registry.SetDword(key, "Max", 0xFFFFFFFF);
  registry.SetValue(key, "Short dword", {4, {1, 2}});
  registry.SetValue(key, "Binary", {3, {0x00, 0xFF, 0x7F}});
  registry.SetValue(key, "Empty binary", {3, {}});
  std::vector<std::uint8_t> longData;
  for (int i = 0; i < 200; ++i) longData.push_back(static_cast<std::uint8_t>(i * 7));
  registry.SetValue(key, "Long binary", {3, longData});
  registry.SetValue(key, "Expand", {2, Bytes(std::string("%windir%\\x", 11))});
  registry.SetValue(key, "Multi", {7, Bytes(std::string("a\0b\0\0", 5))});
  registry.SetValue(key, "No NUL", {1, Bytes("RK514")});
  registry.SetValue(key, "After NUL",
                    {1, Bytes(std::string("RK\0"
                                          "514\0",
                                          7))});
  registry.SetValue(key, "Line break", {1, Bytes(std::string("two\r\nlines\0", 11))});
  registry.SetValue(key, "Empty REG_SZ", {1, {}});
  registry.SetValue(key, "None", {0, {}});
  registry.SetValue(key, "Odd type", {0x2b, {9}});
  registry.CreateKey("HKLM\\SOFTWARE\\Forms\\Empty key");
  registry.SetString("HKEY_USERS\\.DEFAULT\\Software\\Microsoft", "User", "default");
  return registry;
}

TEST(Regedit4, EveryValueFormSurvivesExportAndLoad) {
  const Registry original = EveryValueForm();
  const std::string text = original.ExportRegText();
  Registry loaded;
  loaded.DeleteKey("HKLM\\Config");  // nothing of the bare registry may hide a missing key
  loaded.LoadRegText(text);
  for (const char* name : {"Path", "Quoted \"name\" \\ too", "Ansi", "Count", "Short dword", "Long binary", "Multi",
                           "No NUL", "After NUL", "Line break", "Empty REG_SZ", "None", "Odd type", ""}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(loaded.GetValue("HKLM\\SOFTWARE\\Forms", name), original.GetValue("HKLM\\SOFTWARE\\Forms", name));
  }
  EXPECT_TRUE(loaded == original);
  EXPECT_EQ(loaded.ExportRegText(), text);
}

TEST(Regedit4, ExportWritesTheLinesRegeditWrites) {
  const std::string text = EveryValueForm().ExportRegText();
  EXPECT_EQ(text.substr(0, 12), "REGEDIT4\r\n\r\n");
  const char* lines[] = {
      "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Forms]\r\n@=\"the default value\"\r\n",
      "\r\n\"Path\"=\"C:\\\\WINDOWS\\\\SYSTEM\\\\KB47MON.DLL\"\r\n",
      "\r\n\"Quoted \\\"name\\\" \\\\ too\"=\"say \\\"hi\\\" \\\\ bye\"\r\n",
      "\r\n\"Empty\"=\"\"\r\n",
      "\r\n\"Count\"=dword:0000000a\r\n",
      "\r\n\"Max\"=dword:ffffffff\r\n",
      "\r\n\"Short dword\"=hex(4):01,02\r\n",
      "\r\n\"Binary\"=hex:00,ff,7f\r\n",
      "\r\n\"Empty binary\"=hex:\r\n",
      "\r\n\"Expand\"=hex(2):25,77,69,6e,64,69,72,25,5c,78,00\r\n",
      "\r\n\"No NUL\"=hex(1):52,4b,35,31,34\r\n",
      "\r\n\"After NUL\"=hex(1):52,4b,00,35,31,34,00\r\n",
      "\r\n\"None\"=hex(0):\r\n",
      "\r\n\"Odd type\"=hex(2b):09\r\n",
      "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Forms\\Empty key]\r\n\r\n",
      "\r\n[HKEY_USERS\\.DEFAULT\\Software\\Microsoft]\r\n\"User\"=\"default\"\r\n",
  };
  for (const char* line : lines) EXPECT_NE(text.find(line), std::string::npos) << "missing: " << line;
  // Long lists are broken with a backslash, and no line grows past 80 columns.
  EXPECT_NE(text.find("\"Long binary\"=hex:00,07,0e,"), std::string::npos);
  std::size_t start = 0, continued = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "every line ends with CR LF";
    std::string line = text.substr(start, end - start);
    EXPECT_LE(line.size(), 80u) << line;
    if (!line.empty() && line.back() == '\\') ++continued;
    start = end + 2;
  }
  EXPECT_GE(continued, 8u);
}

TEST(Regedit4, LoadsWhatWindows98RegeditWrites) {
  // LF-only lines, a comment, upper-case hex, aliases as section roots, a continued list.
  const std::string text =
      "REGEDIT4\n"
      "\n"
      "; the driver's shell extension\n"
      "[HKEY_CLASSES_ROOT\\CLSID\\{5b1e7d20-4a9c-11d1-8f3a-2c61d0e4b795}]\n"
      "@=\"ZANTEROVA RK514 Shell Extension\"\n"
      "\n"
      "[HKEY_CURRENT_CONFIG\\System\\CurrentControlSet\\control\\Print\\Printers\\ZANTEROVA Karsenby RK514]\n"
      "\"Attributes\"=dword:00000A00\n"
      "\"Data\"=hex:01,02,\\\n"
      "  03,FF\n"
      "[HKEY_CURRENT_USER\\Software]\n"
      "[HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0000]\n"
      "\"DeviceDesc\"=\"first\"\n"
      "\"devicedesc\"=\"the later line wins\"\n";
  Registry registry;
  registry.LoadRegText(text);
  EXPECT_EQ(registry.GetValue("HKLM\\SOFTWARE\\Classes\\CLSID\\{5b1e7d20-4a9c-11d1-8f3a-2c61d0e4b795}", ""),
            (RegValue{1, Bytes(std::string("ZANTEROVA RK514 Shell Extension", 32))}));
  const std::string printer =
      "HKLM\\Config\\0001\\System\\CurrentControlSet\\control\\Print\\Printers\\ZANTEROVA Karsenby RK514";
  EXPECT_EQ(registry.GetValue(printer, "Attributes"), (RegValue{4, {0x00, 0x0A, 0, 0}}));
  EXPECT_EQ(registry.GetValue(printer, "Data"), (RegValue{3, {1, 2, 3, 0xFF}}));
  EXPECT_TRUE(registry.KeyExists("HKEY_USERS\\.DEFAULT\\Software"));
  EXPECT_EQ(registry.GetValue("HKLM\\Enum\\Root\\printer\\0000", "DeviceDesc"),
            (RegValue{1, Bytes(std::string("the later line wins", 20))}));
  EXPECT_EQ(registry.ValueNames("HKLM\\Enum\\Root\\printer\\0000"), std::vector<std::string>{"DeviceDesc"});
}

TEST(Regedit4, AMalformedFileNamesItsLineAndLoadsNothing) {
  struct Case {
    const char* what;
    std::string text;
    int line;
  };
  const std::string head = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Loaded]\r\n\"Kept\"=\"no\"\r\n";  // lines 1-4
  const Case cases[] = {
      {"empty file", "", 1},
      {"no header", "[HKEY_LOCAL_MACHINE\\A]\r\n", 1},
      {"a later header", "REGEDIT5\r\n", 1},
      {"value before any key", "REGEDIT4\r\n\r\n\"Name\"=\"x\"\r\n", 3},
      {"unknown root", head + "[HKEY_DYN_DATA\\PerfStats]\r\n", 5},
      {"no closing bracket", head + "[HKEY_LOCAL_MACHINE\\A\r\n", 5},
      {"text after the bracket", head + "[HKEY_LOCAL_MACHINE\\A] x\r\n", 5},
      {"key deletion", head + "[-HKEY_LOCAL_MACHINE\\Loaded]\r\n", 5},
      {"empty key name", head + "[HKEY_LOCAL_MACHINE\\A\\\\B]\r\n", 5},
      {"neither key nor value", head + "DeviceDesc=x\r\n", 5},
      {"name without =", head + "\"Name\" \"x\"\r\n", 5},
      {"name without closing quote", head + "\"Name=\"x\r\n", 5},
      {"string without closing quote", head + "\"Name\"=\"x\r\n", 5},
      {"unknown escape", head + "\"Name\"=\"a\\nb\"\r\n", 5},
      {"text after a string", head + "\"Name\"=\"a\" b\r\n", 5},
      {"unknown data", head + "\"Name\"=word:1\r\n", 5},
      {"value deletion", head + "\"Kept\"=-\r\n", 5},
      {"dword too long", head + "\"N\"=dword:123456789\r\n", 5},
      {"dword not hex", head + "\"N\"=dword:0000000g\r\n", 5},
      {"dword empty", head + "\"N\"=dword:\r\n", 5},
      {"byte not hex", head + "\"N\"=hex:01,0g\r\n", 5},
      {"byte of three digits", head + "\"N\"=hex:001\r\n", 5},
      {"trailing comma", head + "\"N\"=hex:01,02,\r\n", 5},
      {"double comma", head + "\"N\"=hex:01,,02\r\n", 5},
      {"bad type number", head + "\"N\"=hex(z):01\r\n", 5},
      {"type without )", head + "\"N\"=hex(2:01\r\n", 5},
      {"bad byte on a continued line", head + "\"N\"=hex:01,\\\r\n  02,\\\r\n  0x\r\n", 7},
      {"continued past the end", head + "\"N\"=hex:01,\\\r\n", 5},
      {"continued on an empty line", head + "\"N\"=hex:01,\\\r\n\r\n", 6},
      {"continued without a comma", head + "\"N\"=hex:01\\\r\n  02\r\n", 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Registry registry;
    registry.SetString("HKLM\\Before", "Name", "value");
    const Registry before = registry;
    try {
      registry.LoadRegText(c.text);
      ADD_FAILURE() << "loaded without an error";
    } catch (const sim::ImageError& error) {
      const std::string prefix = "registry.reg:" + std::to_string(c.line) + ": ";
      EXPECT_EQ(std::string(error.what()).substr(0, prefix.size()), prefix) << error.what();
      EXPECT_GT(std::string(error.what()).size(), prefix.size()) << "says what is wrong";
    }
    EXPECT_TRUE(registry == before);
  }
}

TEST(Regedit4, LoadRegFileNamesTheFile) {
  const auto dir = std::filesystem::temp_directory_path() / ("regedit4_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  {
    std::ofstream(dir / "machine.reg", std::ios::binary)
        << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"B\"=dword:1\r\n";
    std::ofstream(dir / "bad.reg", std::ios::binary) << "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"B\"=dword:\r\n";
  }
  Registry registry;
  registry.LoadRegFile(dir / "machine.reg");
  EXPECT_EQ(registry.GetValue("HKLM\\A", "B"), (RegValue{4, {1, 0, 0, 0}}));
  EXPECT_THROW(
      {
        try {
          registry.LoadRegFile(dir / "bad.reg");
        } catch (const sim::ImageError& error) {
          EXPECT_EQ(std::string(error.what()).substr(0, 10), "bad.reg:3:");
          throw;
        }
      },
      sim::ImageError);
  EXPECT_THROW(registry.LoadRegFile(dir / "missing.reg"), sim::ImageError);
  std::filesystem::remove_all(dir);
}

// A file is read a block at a time: lines, a continued hex list and a line of CR-only ends that
// run across the ends of the blocks load as the same text given whole does, errors included.
TEST(Regedit4, AFileLoadsAsItsTextWhateverTheBlocksItIsReadIn) {
  const auto dir = std::filesystem::temp_directory_path() / ("regedit4_blocks_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string large = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Big]\r\n";
  for (int i = 0; large.size() < 200000; ++i) {
    large += "\"Value " + std::to_string(i) + "\"=hex:01,02,03,\\\r\n  04,05\r\n";
    large += "\"Text " + std::to_string(i) + "\"=\"" + std::string(static_cast<std::size_t>(i % 97), 'x') + "\"\n";
  }
  std::string crOnly = large;
  for (char& c : crOnly) c = c == '\n' ? '\r' : c;
  const std::vector<std::string> texts = {large, large + "\"Broken\"=hex:0\r\n", crOnly};
  for (const std::string& text : texts) {
    std::ofstream(dir / "registry.reg", std::ios::binary) << text;
    Registry whole, read;
    std::string wholeError, readError;
    try {
      whole.LoadRegText(text);
    } catch (const sim::ImageError& error) {
      wholeError = error.what();
    }
    try {
      read.LoadRegFile(dir / "registry.reg");
    } catch (const sim::ImageError& error) {
      readError = error.what();
    }
    EXPECT_EQ(readError, wholeError);
    EXPECT_TRUE(read == whole);
  }
  Registry registry;
  std::ofstream(dir / "registry.reg", std::ios::binary) << large;
  registry.LoadRegFile(dir / "registry.reg");
  EXPECT_EQ(registry.GetValue("HKLM\\Big", "Value 0"), (RegValue{3, {1, 2, 3, 4, 5}}));
  EXPECT_EQ(registry.ValueNames("HKLM\\Big").size() % 2, 0u);
  EXPECT_GT(registry.ValueNames("HKLM\\Big").size(), 2000u);
  std::filesystem::remove_all(dir);
}

}  // namespace
