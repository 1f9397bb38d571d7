// rk514-sandbox as a script runs it: the report of each way through the dialogs on the sample
// machines, the reasons it gives for what is still there, its errors and exit codes, and the
// input image that it leaves alone.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "sandbox_test_util.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Result {
  int exitCode = -1;
  std::string out, err;
};

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const fs::path& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }

std::string ShellQuoted(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Every file of a folder tree and its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    std::string name = fs::relative(entry.path(), dir).string();
    files[name] = entry.is_directory() ? "<folder>" : ReadAll(entry.path());
  }
  return files;
}

class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "rk514-sandbox-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the tool; env goes before it ("env -u TERM"), standard input is empty.
  Result Run(const std::vector<std::string>& args, const std::string& env = "") {
    std::string command = env + " " + ShellQuoted(RK514_SANDBOX);
    for (const std::string& arg : args) command += " " + ShellQuoted(arg);
    command += " >" + ShellQuoted((dir_ / "stdout").string()) + " 2>" + ShellQuoted((dir_ / "stderr").string()) + " </dev/null";
    int status = std::system(command.c_str());
    Result result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadAll(dir_ / "stdout");
    result.err = ReadAll(dir_ / "stderr");
    return result;
  }

  json RunJson(std::vector<std::string> args) {
    args.push_back("--json");
    args.push_back("--out");
    args.push_back(Fresh("after").string());
    Result result = Run(args);
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_EQ(result.err, "");
    return json::parse(result.out);
  }

  fs::path Fresh(const std::string& name) { return dir_ / (name + std::to_string(++made_)); }

  // A copy of a sample image to change.
  fs::path CopyOf(const std::string& sample) {
    fs::path copy = Fresh(sample);
    fs::copy(sandbox_test::SampleDir(sample), copy, fs::copy_options::recursive);
    return copy;
  }

  fs::path dir_;
  int made_ = 0;
};

bool Has(const json& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

// The reason given for something still there, "" when it is not listed.
std::string Reason(const json& report, const std::string& path) {
  for (const json& remnant : report["stillThere"]) {
    if (remnant["path"] == path) return remnant["reason"];
  }
  return "";
}

const char kGroup[] = "C:\\WINDOWS\\Start Menu\\Programs\\ZANTEROVA RK514";
const char kSystem[] = "C:\\WINDOWS\\SYSTEM\\";
const char* const kDeferred[] = {"KB47TN16.DLL", "KB47TN32.DLL", "KB47LANG.DLL", "KB47PRIN.DLL", "KB47UNIN.EXE"};

struct SampleCase {
  const char* name;
  std::vector<std::string> args;
  std::function<void(const json&)> check;
};

TEST_F(Tool, ReportsOfTheSampleRuns) {
  const SampleCase cases[] = {
      {"Windows 98, OK then No", {"--answers", "ok,no"}, [](const json& r) {
         EXPECT_EQ(r["exitCode"], 2);
         EXPECT_EQ(r["removalRan"], true);
         EXPECT_EQ(r["restartRequested"], false);
         EXPECT_EQ(r["windows"]["build"], 1998);
         const json& files = r["removed"]["files"];
         EXPECT_TRUE(Has(files, std::string(kSystem) + "KB47RK.DRV"));
         EXPECT_TRUE(Has(files, "C:\\WINDOWS\\INF\\OTHER\\KARSENBYKBRK514.INF"));
         EXPECT_TRUE(Has(files, std::string(kGroup) + "\\RK514 Uninstall program.LNK"));
         EXPECT_FALSE(Has(files, std::string(kGroup) + "\\My colour profiles.txt"));
         EXPECT_FALSE(Has(files, "C:\\WINDOWS\\INF\\oem0.inf"));
         EXPECT_EQ(files.size(), 19u);  // 14 system files, 4 shortcuts, the INF file
         const json& keys = r["removed"]["registryKeys"];
         EXPECT_TRUE(Has(keys, "HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0002"));
         EXPECT_FALSE(Has(keys, "HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0001"));
         EXPECT_TRUE(Has(keys, "HKEY_LOCAL_MACHINE\\Security\\Access\\PRINT\\ZANTEROVA Karsenby RK514"));
         EXPECT_EQ(r["removed"]["profileSections"],
                   json({"ZANTEROVA Karsenby RK514-LPT1", "ZANTEROVA Karsenby RK514-FILE"}));
         // The printer was the default one: [windows] device= goes with its own keys.
         EXPECT_EQ(r["removed"]["profileKeys"],
                   json::parse(R"([{"section":"windows","key":"device"},
                                   {"section":"Devices","key":"ZANTEROVA Karsenby RK514"},
                                   {"section":"PrinterPorts","key":"ZANTEROVA Karsenby RK514"}])"));
         EXPECT_EQ(r["removed"]["folders"], json::array());
         EXPECT_EQ(r["scheduled"]["created"], false);
         ASSERT_EQ(r["scheduled"]["lines"].size(), 5u);
         for (std::size_t i = 0; i < 5; ++i) {
           std::string line = r["scheduled"]["lines"][i];
           EXPECT_TRUE(line.ends_with(std::string("=") + kSystem + kDeferred[i])) << line;
         }
         EXPECT_EQ(Reason(r, kGroup), "not empty: it still holds My colour profiles.txt, Scan and print.LNK");
         for (const char* name : kDeferred)
           EXPECT_EQ(Reason(r, kSystem + std::string(name)), "scheduled in wininit.ini: deleted at the next start of Windows");
         EXPECT_EQ(Reason(r, "[windows] device=ZANTEROVA Karsenby RK514,kb47rk,LPT1:"), "");
         EXPECT_EQ(r["stillThere"].size(), 6u);
         EXPECT_EQ(r["otherChanges"], json::array());
       }},
      {"Windows 95, OK then Yes", {"--sample", "win95", "--answers", "ok,yes"}, [](const json& r) {
         EXPECT_EQ(r["restartRequested"], true);
         EXPECT_EQ(r["windows"]["build"], 950);
         const json& files = r["removed"]["files"];
         EXPECT_TRUE(Has(files, "C:\\WINDOWS\\INF\\oem2.inf"));  // the one that holds KB47STAT.EXE
         EXPECT_FALSE(Has(files, "C:\\WINDOWS\\INF\\oem0.inf"));
         EXPECT_FALSE(Has(files, "C:\\WINDOWS\\INF\\oem1.inf"));
         EXPECT_EQ(r["scheduled"]["lines"].size(), 5u);
         for (const json& remnant : r["stillThere"]) EXPECT_NE(remnant["kind"], "registry key") << remnant;
       }},
      {"Windows 98, Cancel", {"--answers", "cancel,ok"}, [](const json& r) {
         EXPECT_EQ(r["removalRan"], false);
         for (const char* list : {"registryKeys", "registryValues", "profileSections", "profileKeys", "files", "folders"})
           EXPECT_EQ(r["removed"][list], json::array()) << list;
         EXPECT_EQ(r["scheduled"]["lines"], json::array());
         EXPECT_EQ(r["shown"].size(), 2u);
         EXPECT_EQ(r["shown"][1]["caption"], "Disinstallation aborted");
         EXPECT_EQ(Reason(r, std::string(kSystem) + "KB47RK.DRV"), "the removal did not run");
         EXPECT_EQ(Reason(r, kGroup),
                   "the removal did not run; a confirmed run would keep it too: not empty: it still holds "
                   "My colour profiles.txt, Scan and print.LNK");
         EXPECT_EQ(Reason(r, "HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0002"), "the removal did not run");
         EXPECT_EQ(Reason(r, "[ZANTEROVA Karsenby RK514-LPT1]"), "the removal did not run");
         EXPECT_EQ(Reason(r, "[windows] device=ZANTEROVA Karsenby RK514,kb47rk,LPT1:"), "the removal did not run");
       }},
      {"Windows 98, progress dialog closed early", {"--answers", "ok,escape@10,ok"}, [](const json& r) {
         EXPECT_EQ(r["removalRan"], false);
         EXPECT_EQ(r["exitCode"], 2);
         ASSERT_EQ(r["shown"].size(), 3u);
         EXPECT_EQ(r["shown"][1]["template"], "UNINSTALL");
         EXPECT_EQ(r["shown"][1]["inputs"], json({"Escape"}));
         EXPECT_EQ(r["shown"][1]["timerMessages"], 10);
         EXPECT_EQ(r["shown"][2]["caption"], "Disinstallation aborted");
         EXPECT_EQ(r["removed"]["files"], json::array());
         EXPECT_EQ(Reason(r, std::string(kSystem) + "KB4732.DLL"), "the removal did not run");
       }},
      {"the Windows 98 sample reported as build 950", {"--release", "win95", "--answers", "ok,no"}, [](const json& r) {
         EXPECT_EQ(r["windows"]["build"], 950);
         const std::string kept = "kept on build 950: the removal deletes it on builds above 950 only";
         EXPECT_EQ(Reason(r, "HKEY_LOCAL_MACHINE\\Security\\Access\\PRINT\\ZANTEROVA Karsenby RK514"), kept);
         EXPECT_EQ(Reason(r, "HKEY_USERS\\.DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\"
                             "Start Menu\\&Programs\\ZANTEROVA RK514"),
                   kept);
         EXPECT_EQ(Reason(r, "C:\\WINDOWS\\INF\\OTHER\\KARSENBYKBRK514.INF"), "the removal does not delete it");
       }},
  };
  for (const SampleCase& c : cases) {
    SCOPED_TRACE(c.name);
    json report = RunJson(c.args);
    c.check(report);
  }
}

TEST_F(Tool, JsonShape) {
  json r = RunJson({"--answers", "ok,no"});
  for (const char* key : {"image", "output"}) EXPECT_TRUE(r[key].is_string()) << key;
  for (const char* key : {"exitCode"}) EXPECT_TRUE(r[key].is_number_integer()) << key;
  for (const char* key : {"restartRequested", "removalRan"}) EXPECT_TRUE(r[key].is_boolean()) << key;
  EXPECT_TRUE(r["windows"]["buildNumber"].is_number_unsigned());
  EXPECT_EQ(r["windows"]["name"], "Windows 98 (4.10.1998)");
  for (const json& shown : r["shown"]) {
    EXPECT_TRUE(shown["kind"] == "dialog" || shown["kind"] == "messageBox") << shown;
    EXPECT_TRUE(shown["caption"].is_string());
    EXPECT_TRUE(shown["inputs"].is_array());
  }
  EXPECT_TRUE(r["shown"][0]["result"].is_number_integer());
  EXPECT_TRUE(r["shown"][2]["text"].is_string());
  for (const char* list : {"registryKeys", "profileSections", "files", "folders"}) {
    ASSERT_TRUE(r["removed"][list].is_array()) << list;
    for (const json& item : r["removed"][list]) EXPECT_TRUE(item.is_string()) << list;
  }
  for (const json& value : r["removed"]["registryValues"]) EXPECT_TRUE(value["key"].is_string() && value["name"].is_string());
  EXPECT_TRUE(r["scheduled"]["file"].is_string());
  EXPECT_TRUE(r["otherChanges"].is_array());
  for (const json& remnant : r["stillThere"]) {
    for (const char* key : {"kind", "path", "reason"}) EXPECT_TRUE(remnant[key].is_string()) << remnant;
  }
  std::set<std::string> keys;
  for (const auto& [key, value] : r.items()) keys.insert(key);
  EXPECT_EQ(keys, (std::set<std::string>{"image", "output", "windows", "shown", "exitCode", "restartRequested",
                                          "removalRan", "removed", "scheduled", "otherChanges", "stillThere"}));
}

TEST_F(Tool, TextReport) {
  fs::path out = Fresh("after");
  Result result = Run({"--answers", "ok,no", "--out", out.string()});
  ASSERT_EQ(result.exitCode, 2) << result.err;
  for (const std::string& line :
       {std::string("The machine after the run: ") + out.string() + "\n", std::string("Exit code: 2\n"),
        std::string("Restart of Windows asked for: no\n"),
        std::string("  3. message box \"Disinstallation succeeded\": No\n"),
        std::string("  file             C:\\WINDOWS\\SYSTEM\\KB47RK.DRV\n"),
        std::string("  win.ini key      [windows] device\n"), std::string("Still there: 6\n"),
        std::string("      not empty: it still holds My colour profiles.txt, Scan and print.LNK\n")})
    EXPECT_NE(result.out.find(line), std::string::npos) << line << "in:\n" << result.out;
}

// Attributes and keys that the removal cannot get past, and the reasons the report derives.
TEST_F(Tool, ReasonsComeFromTheMachine) {
  fs::path image = CopyOf("win98");
  WriteAll(image / "attributes.txt",
           "---U C:\\WINDOWS\\SYSTEM\\KB47RK.DRV\r\n"
           "R--- C:\\WINDOWS\\SYSTEM\\KB4732.DLL\r\n"
           "R--- C:\\WINDOWS\\Start Menu\\Programs\\ZANTEROVA RK514\\RK514 Printer Monitor.LNK\r\n");
  // Past the walk's budget: after 0002 (deleted) the walk probes up to 0102.
  std::ofstream(image / "registry.reg", std::ios::binary | std::ios::app)
      << "[HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0150]\r\n\"DeviceDesc\"=\"ZANTEROVA Karsenby RK514\"\r\n\r\n";
  json r = RunJson({"--image", image.string(), "--answers", "ok,no"});
  EXPECT_EQ(Reason(r, std::string(kSystem) + "KB47RK.DRV"), "in use by another program");
  EXPECT_EQ(Reason(r, std::string(kSystem) + "KB4732.DLL"), "read-only");
  EXPECT_EQ(Reason(r, std::string(kGroup) + "\\RK514 Printer Monitor.LNK"), "read-only");
  EXPECT_EQ(Reason(r, kGroup),
            "not empty: it still holds My colour profiles.txt, RK514 Printer Monitor.LNK, Scan and print.LNK");
  EXPECT_EQ(Reason(r, "HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0150"),
            "outside the probe budget: the walk tried names up to 0102");
  EXPECT_TRUE(Has(r["removed"]["registryKeys"], "HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0002"));
}

TEST_F(Tool, TheInputImageIsLeftAlone) {
  fs::path image = CopyOf("win98");
  std::map<std::string, std::string> before = Snapshot(image);
  fs::path out = Fresh("after");
  Result result = Run({"--image", image.string(), "--answers", "ok,yes", "--out", out.string()});
  ASSERT_EQ(result.exitCode, 2) << result.err;
  EXPECT_EQ(Snapshot(image), before);
  // The machine after the run is an image of its own, with the removal in it.
  sim::Machine after = sim::Machine::LoadImage(out);
  EXPECT_FALSE(after.files.Exists("C:\\WINDOWS\\SYSTEM\\KB47RK.DRV"));
  EXPECT_TRUE(after.files.Exists("C:\\WINDOWS\\SYSTEM\\KB47UNIN.EXE"));
  EXPECT_NE(after.files.ReadFile("C:\\WINDOWS\\wininit.ini").value_or("").find("KB47UNIN.EXE"), std::string::npos);
  EXPECT_FALSE(after.registry.KeyExists("HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0002"));
  EXPECT_TRUE(sim::Machine::LoadImage(image).files.Exists("C:\\WINDOWS\\SYSTEM\\KB47RK.DRV"));
}

// Without --out the machine goes to a new folder that the report names.
TEST_F(Tool, DefaultOutputFolderIsNewAndNamed) {
  Result result = Run({"--answers", "ok,no", "--json"});
  ASSERT_EQ(result.exitCode, 2) << result.err;
  fs::path out = json::parse(result.out)["output"].get<std::string>();
  EXPECT_TRUE(fs::exists(out / "registry.reg")) << out;
  EXPECT_NE(out.string().find("rk514-sandbox-"), std::string::npos);
  fs::remove_all(out);
}

TEST_F(Tool, ErrorsNameTheFileAndHaveTheirOwnExitCodes) {
  fs::path malformed = CopyOf("win98");
  WriteAll(malformed / "registry.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\nno value here\r\n");
  fs::path notImage = Fresh("empty");
  fs::create_directories(notImage);
  fs::path full = Fresh("full");
  fs::create_directories(full);
  WriteAll(full / "keep.txt", "mine");
  fs::path unwritten = Fresh("unwritten");
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string env;
    int exitCode;
    std::vector<std::string> message;
  } cases[] = {
      {"missing image", {"--image", (dir_ / "no-such").string(), "--answers", "ok,no"}, "", 65,
       {(dir_ / "no-such").string(), "no such machine image folder"}},
      {"not an image", {"--image", notImage.string(), "--answers", "ok,no"}, "", 65, {"not a machine image"}},
      {"malformed registry", {"--image", malformed.string(), "--answers", "ok,no"}, "", 65, {"registry.reg:4"}},
      {"unknown release", {"--release", "win2000", "--answers", "ok,no"}, "", 64, {"--release", "win2000"}},
      {"unknown option", {"--fast"}, "", 64, {"--fast"}},
      {"image and sample", {"--image", malformed.string(), "--sample", "win95"}, "", 64, {"--sample"}},
      {"unknown answer", {"--answers", "ok,maybe"}, "", 66, {"answer 2 (\"maybe\")"}},
      {"too few answers", {"--answers", "ok", "--out", unwritten.string()}, "", 66, {"\"Disinstallation succeeded\""}},
      {"answers left over", {"--answers", "ok,no,yes"}, "", 66, {"unused: yes"}},
      {"output folder not empty", {"--answers", "ok,no", "--out", full.string()}, "", 73, {full.string(), "not an empty folder"}},
      {"no terminal", {}, "env -u TERM", 64, {"give --answers"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Result result = Run(c.args, c.env);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    EXPECT_EQ(result.out, "");
    for (const std::string& part : c.message) EXPECT_NE(result.err.find(part), std::string::npos) << result.err;
  }
  EXPECT_FALSE(fs::exists(unwritten)) << "an answer error still wrote the machine";
  EXPECT_EQ(ReadAll(full / "keep.txt"), "mine");
}

// Machine images that no Windows 95/98 machine could be: each is refused before anything runs,
// with exit 65 and the file and line that say why; the deepest key that Windows allows runs.
TEST_F(Tool, HostileImagesAreRefusedWithTheirFileAndLine) {
  auto keyOfDepth = [](int depth) {
    std::string path = "HKEY_LOCAL_MACHINE";
    for (int i = 0; i < depth; ++i) path += "\\K";
    return "REGEDIT4\r\n\r\n[" + path + "]\r\n\"Depth\"=dword:00000001\r\n";
  };
  auto machineIni = [](const std::string& line) {
    return [line](const fs::path& image) { WriteAll(image / "machine.ini", "[machine]\r\n" + line + "\r\n"); };
  };
  auto registry = [](const std::string& text) {
    return [text](const fs::path& image) { WriteAll(image / "registry.reg", text); };
  };
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> spoil;
    int exitCode;
    std::vector<std::string> message;
  } cases[] = {
      {"a build number without its base", machineIni("BuildNumber=950"), 65, {"machine.ini:2", "0x3B6", "4.00.950"}},
      {"a Windows directory with ..", machineIni("WindowsDirectory=C:\\WINDOWS\\..\\WIN"), 65, {"machine.ini:2"}},
      {"a Windows directory with *", machineIni("WindowsDirectory=C:\\WIN*"), 65, {"machine.ini:2"}},
      {"a system directory with ?", machineIni("SystemDirectory=C:\\WINDOWS\\SYS?EM"), 65, {"machine.ini:2"}},
      {"a system directory ending in a dot", machineIni("SystemDirectory=C:\\WINDOWS\\SYSTEM."), 65, {"machine.ini:2"}},
      {"a Windows directory on a drive the image lacks", machineIni("WindowsDirectory=E:\\WINDOWS"), 65,
       {"machine.ini:2", "drive E:"}},
      {"a key 513 levels deep", registry(keyOfDepth(513)), 65, {"registry.reg:3", "513 levels"}},
      {"a key name holding a CR", registry("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Soft\rware]\r\n"), 65,
       {"registry.reg:3", "carriage return"}},
      {"a value name holding a CR", registry("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"A\rB\"=\"x\"\r\n"), 65,
       {"registry.reg:3", "carriage return"}},
      {"a link inside drives/",
       [](const fs::path& image) { fs::create_symlink("/etc/passwd", image / "drives" / "C" / "WINDOWS" / "passwd"); }, 65,
       {"drives/C/WINDOWS/passwd", "a link"}},
      {"a drive that is a link",
       [](const fs::path& image) { fs::create_directory_symlink(image / "drives" / "C", image / "drives" / "D"); }, 65,
       {"drives/D", "a link"}},
      {"folders 129 levels deep",
       [](const fs::path& image) {
         fs::path deep = image / "drives" / "C";
         for (int i = 0; i < 129; ++i) deep /= "d";
         fs::create_directories(deep);
       },
       65, {"drives/C/d/d/d", "128 levels"}},
      {"the deepest key that Windows allows", registry(keyOfDepth(512)), 2, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path image = CopyOf("win98");
    c.spoil(image);
    const Result result = Run({"--image", image.string(), "--answers", "ok,no", "--json", "--out", Fresh("after").string()});
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    if (c.exitCode == 65) EXPECT_EQ(result.out, "");
    for (const std::string& part : c.message) EXPECT_NE(result.err.find(part), std::string::npos) << result.err;
  }
}

TEST_F(Tool, HelpListsTheExitCodes) {
  Result result = Run({"--help"});
  EXPECT_EQ(result.exitCode, 0);
  for (const char* part : {"--image", "--release", "--answers", "--json", "--out", "64", "65", "66", "73"})
    EXPECT_NE(result.out.find(part), std::string::npos) << part;
}

}  // namespace
