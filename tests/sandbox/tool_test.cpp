// rk514-sandbox as a script runs it: the report of each way through the dialogs on the sample
// machines, the reasons it gives for what is still there, its errors and exit codes, and the
// input image that it leaves alone.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "disk.h"
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

// Replaces the first `from` in a file of an image with `to`; fails, changing nothing, where the
// file holds no `from`.
::testing::AssertionResult EditFile(const fs::path& file, const std::string& from, const std::string& to) {
  std::string text = ReadAll(file);
  const std::size_t at = text.find(from);
  if (at == std::string::npos) return ::testing::AssertionFailure() << file << " holds no " << from;
  WriteAll(file, text.replace(at, from.size(), to));
  return ::testing::AssertionSuccess();
}

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

  // The shell command that runs the tool; env goes before it ("env -u TERM"), standard input is
  // empty, stdout is where standard output goes ("" for a file that Run reads back; ">&-" closes
  // it). Within 120 s unless it is to be signalled, so that a tool that hangs fails the test
  // instead of stopping it.
  std::string Command(const std::vector<std::string>& args, const std::string& env, const std::string& stdout,
                      bool timed = true) {
    std::string command = "exec " + env + (timed ? " timeout 120 " : " ") + ShellQuoted(RK514_SANDBOX);
    for (const std::string& arg : args) command += " " + ShellQuoted(arg);
    fs::remove(dir_ / "stdout");
    return command + (stdout.empty() ? " >" + ShellQuoted((dir_ / "stdout").string()) : " " + stdout) + " 2>" +
           ShellQuoted((dir_ / "stderr").string()) + " </dev/null";
  }

  Result Finished(int status) {
    Result result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadAll(dir_ / "stdout");
    result.err = ReadAll(dir_ / "stderr");
    return result;
  }

  Result Run(const std::vector<std::string>& args, const std::string& env = "", const std::string& stdout = "") {
    return Finished(std::system(Command(args, env, stdout).c_str()));
  }

  // Runs the tool and sends it the signal once ready() holds (within 60 s). In a terminal, the
  // tool runs under script(1), and is ready once its first dialog is drawn.
  Result RunSignalled(const std::vector<std::string>& args, int signalNumber, bool inTerminal,
                      const std::function<bool()>& ready) {
    const fs::path pidFile = dir_ / "pid", screen = dir_ / "screen";
    fs::remove(pidFile);
    std::string command = "echo $$ >" + ShellQuoted(pidFile.string()) + "; " + Command(args, "", "", false);
    if (inTerminal)
      command = "TERM=xterm script -qec " + ShellQuoted(command) + " /dev/null >" + ShellQuoted(screen.string());
    const pid_t child = fork();
    if (child == 0) {
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    pid_t tool = 0;
    for (int waited = 0; waited < 60000; waited += 2) {
      if (tool == 0 && fs::exists(pidFile)) tool = std::atoi(ReadAll(pidFile).c_str());
      if (tool != 0 && (inTerminal ? ReadAll(screen).find("Cancel") != std::string::npos : ready())) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (tool > 0) kill(tool, signalNumber);
    int status = 0;
    waitpid(child, &status, 0);
    return Finished(status);
  }

  // Runs the tool for its JSON report; fails where it does not exit 0 with a report and nothing
  // on standard error.
  ::testing::AssertionResult RunJson(std::vector<std::string> args, json& report) {
    args.push_back("--json");
    args.push_back("--out");
    args.push_back(Fresh("after").string());
    const Result result = Run(args);
    if (result.exitCode != 0 || !result.err.empty())
      return ::testing::AssertionFailure() << "exit code " << result.exitCode << ", standard error: " << result.err;
    report = json::parse(result.out, nullptr, false);
    if (report.is_discarded()) return ::testing::AssertionFailure() << "no JSON report: " << result.out;
    return ::testing::AssertionSuccess();
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

// An item of the report as the text report names it: "[Devices] NAME", "KEY | value", a path.
std::string Text(const json& item) {
  const std::string path = item["path"];
  if (item["kind"] == "registry value") return path + " | " + item["name"].get<std::string>();
  if (item["kind"] == "win.ini section") return "[" + path + "]";
  if (item["kind"] == "win.ini key")
    return "[" + path + "] " + item["name"].get<std::string>() +
           (item.contains("value") ? "=" + item["value"].get<std::string>() : "");
  return path;
}

// The texts of the items of one kind in a list of the report.
std::vector<std::string> Texts(const json& list, const std::string& kind) {
  std::vector<std::string> texts;
  for (const json& item : list) {
    if (item["kind"] == kind) texts.push_back(Text(item));
  }
  return texts;
}

bool Has(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

// The reason (or its code) given for something still there, "" when it is not listed.
std::string Reason(const json& report, const std::string& text, const char* field = "reason") {
  for (const json& remnant : report["stillThere"]) {
    if (Text(remnant) == text) return remnant[field];
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
      {"Windows 98, OK then No",
       {"--answers", "ok,no"},
       [](const json& r) {
         EXPECT_EQ(r["exitCode"], 2);
         EXPECT_EQ(r["removalRan"], true);
         EXPECT_EQ(r["restartRequested"], false);
         EXPECT_EQ(r["windows"]["build"], 1998);
         const std::vector<std::string> files = Texts(r["removed"], "file");
         EXPECT_TRUE(Has(files, std::string(kSystem) + "KB47RK.DRV"));
         EXPECT_TRUE(Has(files, "C:\\WINDOWS\\INF\\OTHER\\KARSENBYKBRK514.INF"));
         EXPECT_TRUE(Has(files, std::string(kGroup) + "\\RK514 Uninstall program.LNK"));
         EXPECT_FALSE(Has(files, std::string(kGroup) + "\\My colour profiles.txt"));
         EXPECT_FALSE(Has(files, "C:\\WINDOWS\\INF\\oem0.inf"));
         EXPECT_EQ(files.size(), 19u);  // 14 system files, 4 shortcuts, the INF file
         const std::vector<std::string> keys = Texts(r["removed"], "registry key");
         EXPECT_TRUE(Has(keys, "HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0002"));
         EXPECT_FALSE(Has(keys, "HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0001"));
         EXPECT_TRUE(Has(keys, "HKEY_LOCAL_MACHINE\\Security\\Access\\PRINT\\ZANTEROVA Karsenby RK514"));
         EXPECT_EQ(Texts(r["removed"], "win.ini section"),
                   (std::vector<std::string>{"[ZANTEROVA Karsenby RK514-LPT1]", "[ZANTEROVA Karsenby RK514-FILE]"}));
         // The printer was the default one: [windows] device= goes with its own keys.
         EXPECT_EQ(Texts(r["removed"], "win.ini key"),
                   (std::vector<std::string>{"[windows] device", "[Devices] ZANTEROVA Karsenby RK514",
                                             "[PrinterPorts] ZANTEROVA Karsenby RK514"}));
         EXPECT_EQ(Texts(r["removed"], "folder"), std::vector<std::string>());
         EXPECT_EQ(r["wininit"]["created"], false);
         ASSERT_EQ(r["wininit"]["linesAdded"].size(), 5u);
         for (std::size_t i = 0; i < 5; ++i) {
           std::string line = r["wininit"]["linesAdded"][i];
           EXPECT_TRUE(line.ends_with(std::string("=") + kSystem + kDeferred[i])) << line;
         }
         EXPECT_EQ(Reason(r, kGroup), "not empty: it still holds My colour profiles.txt, Scan and print.LNK");
         // The five deferred files wait for the next start; they are not "still there".
         const std::vector<std::string> waiting = Texts(r["waiting"], "file");
         for (const char* name : kDeferred) {
           EXPECT_TRUE(Has(waiting, kSystem + std::string(name))) << name;
           EXPECT_EQ(Reason(r, kSystem + std::string(name)), "");
         }
         EXPECT_EQ(Reason(r, "[windows] device=ZANTEROVA Karsenby RK514,kb47rk,LPT1:"), "");
         EXPECT_EQ(r["stillThere"].size(), 1u);
         EXPECT_EQ(r["otherChanges"], json::array());
         EXPECT_EQ(r["afterNextStart"].size(), 1u);
         // The 42 pieces of the product before the run, each counted once.
         EXPECT_EQ(r["summary"],
                   json::parse(R"({"beforeRun":42,"removed":36,"waiting":5,"stillThere":1,"otherChanges":0})"));
         EXPECT_EQ(r["inventory"]["beforeRun"].size(), 42u);
         EXPECT_EQ(r["inventory"]["afterRun"].size(), 6u);
       }},
      {"Windows 95, OK then Yes",
       {"--sample", "win95", "--answers", "ok,yes"},
       [](const json& r) {
         EXPECT_EQ(r["restartRequested"], true);
         EXPECT_EQ(r["windows"]["build"], 950);
         const std::vector<std::string> files = Texts(r["removed"], "file");
         EXPECT_TRUE(Has(files, "C:\\WINDOWS\\INF\\oem2.inf"));  // the one that holds KB47STAT.EXE
         EXPECT_FALSE(Has(files, "C:\\WINDOWS\\INF\\oem0.inf"));
         EXPECT_FALSE(Has(files, "C:\\WINDOWS\\INF\\oem1.inf"));
         EXPECT_EQ(r["wininit"]["linesAdded"].size(), 5u);
         for (const json& remnant : r["stillThere"]) EXPECT_NE(remnant["kind"], "registry key") << remnant;
       }},
      {"Windows 98, Cancel",
       {"--answers", "cancel,ok"},
       [](const json& r) {
         EXPECT_EQ(r["removalRan"], false);
         EXPECT_EQ(r["removed"], json::array());
         EXPECT_EQ(r["wininit"]["linesAdded"], json::array());
         EXPECT_EQ(r["shown"].size(), 2u);
         EXPECT_EQ(r["shown"][1]["caption"], "Disinstallation aborted");
         EXPECT_EQ(Reason(r, std::string(kSystem) + "KB47RK.DRV"), "the removal did not run");
         EXPECT_EQ(Reason(r, std::string(kSystem) + "KB47UNIN.EXE"), "the removal did not run");
         EXPECT_EQ(Reason(r, kGroup),
                   "the removal did not run; a confirmed run would keep it too: not empty: it still holds "
                   "My colour profiles.txt, Scan and print.LNK");
         EXPECT_EQ(Reason(r, kGroup, "reasonCode"), "notEmpty");
         EXPECT_EQ(Reason(r, "HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0002"), "the removal did not run");
         EXPECT_EQ(Reason(r, "HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0002", "reasonCode"), "removalDidNotRun");
         EXPECT_EQ(Reason(r, "[ZANTEROVA Karsenby RK514-LPT1]"), "the removal did not run");
         EXPECT_EQ(Reason(r, "[windows] device=ZANTEROVA Karsenby RK514,kb47rk,LPT1:"), "the removal did not run");
         // Counted as a confirmed run counts: the same 42 pieces, all of them still there.
         EXPECT_EQ(r["summary"],
                   json::parse(R"({"beforeRun":42,"removed":0,"waiting":0,"stillThere":42,"otherChanges":0})"));
       }},
      {"Windows 98, progress dialog closed early",
       {"--answers", "ok,escape@10,ok"},
       [](const json& r) {
         EXPECT_EQ(r["removalRan"], false);
         EXPECT_EQ(r["exitCode"], 2);
         ASSERT_EQ(r["shown"].size(), 3u);
         EXPECT_EQ(r["shown"][1]["template"], "UNINSTALL");
         EXPECT_EQ(r["shown"][1]["inputs"], json({"Escape"}));
         EXPECT_EQ(r["shown"][1]["timerMessages"], 10);
         EXPECT_EQ(r["shown"][2]["caption"], "Disinstallation aborted");
         EXPECT_EQ(r["removed"], json::array());
         EXPECT_EQ(Reason(r, std::string(kSystem) + "KB4732.DLL"), "the removal did not run");
       }},
      {"the Windows 98 sample reported as build 950",
       {"--release", "win95", "--answers", "ok,no"},
       [](const json& r) {
         EXPECT_EQ(r["windows"]["build"], 950);
         const std::string kept = "kept on build 950: the removal deletes it on builds above 950 only";
         EXPECT_EQ(Reason(r, "HKEY_LOCAL_MACHINE\\Security\\Access\\PRINT\\ZANTEROVA Karsenby RK514"), kept);
         EXPECT_EQ(Reason(r,
                          "HKEY_USERS\\.DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\"
                          "Start Menu\\&Programs\\ZANTEROVA RK514"),
                   kept);
         // Not "the removal does not delete it": on this build it looks elsewhere for its INF file.
         EXPECT_EQ(Reason(r, "C:\\WINDOWS\\INF\\OTHER\\KARSENBYKBRK514.INF"),
                   "not tried on build 950: on this build the removal looks for setup information files only among "
                   "C:\\WINDOWS\\INF\\oem*.inf");
       }},
  };
  for (const SampleCase& c : cases) {
    SCOPED_TRACE(c.name);
    json report;
    ASSERT_TRUE(RunJson(c.args, report));
    c.check(report);
  }
}

TEST_F(Tool, JsonShape) {
  json r;
  ASSERT_TRUE(RunJson({"--answers", "ok,no"}, r));
  EXPECT_EQ(r["formatVersion"], 3);
  EXPECT_TRUE(r["disk"].is_null());  // a machine image, not a disk
  EXPECT_TRUE(r["program"].is_null()) << "the built-in program ran";
  for (const char* key : {"image", "output"}) EXPECT_TRUE(r[key].is_string()) << key;
  EXPECT_TRUE(r["error"].is_null());  // the run went as answered
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
  // One shape for every piece of a machine, wherever it is listed.
  for (const json* list : {&r["removed"], &r["waiting"], &r["otherChanges"], &r["stillThere"], &r["afterNextStart"],
                           &r["inventory"]["beforeRun"], &r["inventory"]["afterRun"],
                           &r["inventory"]["afterNextStart"]}) {
    ASSERT_TRUE(list->is_array()) << *list;
    for (const json& item : *list) {
      EXPECT_TRUE(item["kind"].is_string() && item["path"].is_string()) << item;
      const bool named = item["kind"] == "registry value" || item["kind"] == "win.ini key";
      EXPECT_EQ(item.contains("name"), named) << item;
    }
  }
  for (const json& remnant : r["stillThere"]) {
    for (const char* key : {"reason", "reasonCode"}) EXPECT_TRUE(remnant[key].is_string()) << remnant;
  }
  EXPECT_TRUE(r["wininit"]["file"].is_string());
  std::set<std::string> keys;
  for (const auto& [key, value] : r.items()) keys.insert(key);
  EXPECT_EQ(keys, (std::set<std::string>{"formatVersion", "image", "disk", "program", "output", "windows", "shown", "exitCode",
                                         "restartRequested", "removalRan", "error", "removed", "wininit", "waiting",
                                         "otherChanges", "stillThere", "afterNextStart", "inventory", "summary"}));
}

TEST_F(Tool, TextReport) {
  fs::path out = Fresh("after");
  Result result = Run({"--answers", "ok,no", "--out", out.string()});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  for (const std::string& line :
       {std::string("The machine after the run: ") + out.string() + "\n", std::string("Exit code: 2\n"),
        std::string("Restart of Windows asked for: no\n"),
        std::string("  3. message box \"Disinstallation succeeded\": No\n"),
        std::string("  file             C:\\WINDOWS\\SYSTEM\\KB47RK.DRV\n"), std::string("Still there: 1\n"),
        std::string("  not empty: it still holds My colour profiles.txt, Scan and print.LNK\n"
                    "    folder           C:\\WINDOWS\\Start Menu\\Programs\\ZANTEROVA RK514\n"),
        std::string("Waiting for the next start of Windows: 5,"),
        std::string("Other changes: none, nothing else on the machine changed\n"),
        std::string("After the next start of Windows: the 1 still there above is left\n"),
        std::string("The product on the machine before the run: 42 (12 registry keys, 3 win.ini keys, 2 win.ini "
                    "sections, 1 folder, 24 files)\n"),
        std::string("After the run: 6 of it (5 waiting for the next start of Windows, 1 still there)\n"),
        std::string("Summary: 36 removed, 5 waiting for the restart, 1 still there, no other changes\n")})
    EXPECT_NE(result.out.find(line), std::string::npos) << line << "in:\n" << result.out;
}

// A cancelled run gives one reason for 43 pieces: it stands once, the pieces below it. Control
// characters in names are shown escaped, never sent to the terminal.
TEST_F(Tool, TextReportFoldsReasonsAndEscapesControls) {
  fs::path image = CopyOf("win98");
  std::ofstream(image / "registry.reg", std::ios::binary | std::ios::app)
      << "[HKEY_LOCAL_MACHINE\\Software\\ZANTEROVA RK514\x1b[2J\x07]\r\n\"Path\"=\"C:\\\\RK514\"\r\n\r\n";
  Result result = Run({"--image", image.string(), "--answers", "cancel,ok"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  auto count = [&](const std::string& text) {
    std::size_t n = 0;
    for (std::size_t at = result.out.find(text); at != std::string::npos; at = result.out.find(text, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("  the removal did not run\n"), 1u) << result.out;
  EXPECT_EQ(count("\x1b"), 0u);
  EXPECT_EQ(count("\x07"), 0u);
  // Escaped where it stands: among the product before the run, and under its reason.
  EXPECT_EQ(count("HKEY_LOCAL_MACHINE\\SOFTWARE\\ZANTEROVA RK514\\x1b[2J\\x07"), 2u) << result.out;
}

// The reasons of a run that met trouble come from the calls it made: each machine below has one
// obstacle, and the reason names what the run did against it.
TEST_F(Tool, ReasonsComeFromTheRun) {
  const std::string deviceDesc = "HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0002";
  struct Case {
    const char* name;
    const char* sample;
    std::function<void(const fs::path&)> change;
    std::vector<std::string> args;
    std::vector<std::array<std::string, 3>> expected;  // piece, reason code, a part of the reason
    std::vector<std::string> removed;                  // pieces the removal took
    int profileRemovals = -1;                          // win.ini sections and keys removed, if checked
  } cases[] = {
      {"a read-only wininit.ini",
       "win98",
       [](const fs::path& image) {
         std::ofstream(image / "attributes.txt", std::ios::app) << "R--- C:\\WINDOWS\\wininit.ini\r\n";
       },
       {},
       {{std::string(kSystem) + "KB47TN16.DLL", "notScheduled",
         "wininit.ini could not be opened for appending: it is read-only"},
        {std::string(kSystem) + "KB47UNIN.EXE", "notScheduled", "could not be opened for appending"}},
       {}},
      {"a read-only deferred file",
       "win98",
       [](const fs::path& image) {
         std::ofstream(image / "attributes.txt", std::ios::app) << "R--- C:\\WINDOWS\\SYSTEM\\KB47UNIN.EXE\r\n";
       },
       {},
       {{std::string(kSystem) + "KB47UNIN.EXE", "readOnly",
         "and the next start of Windows could not delete it: it is read-only"}},
       {}},
      {"an instance key name that the walk never forms",
       "win98",
       [](const fs::path& image) {
         std::ofstream(image / "registry.reg", std::ios::binary | std::ios::app)
             << "[HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\00001]\r\n\"DeviceDesc\"=\"ZANTEROVA Karsenby RK514\"\r\n\r\n";
       },
       {},
       {{"HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\00001", "nameNotWalked", "never the name \"00001\""}},
       {}},
      {"a port section of another port",
       "win98",
       [](const fs::path& image) {
         std::ofstream(image / "drives" / "C" / "WINDOWS" / "WIN.INI", std::ios::binary | std::ios::app)
             << "[ZANTEROVA Karsenby RK514-COM1]\r\nResolution=600\r\n";
       },
       {},
       {{"[ZANTEROVA Karsenby RK514-COM1]", "notLookedFor", "the removal deleted the sections [ZANTEROVA Karsenby "
                                                             "RK514-LPT1], [ZANTEROVA Karsenby RK514-FILE], "
                                                             "[ZANTEROVA Karsenby RK514-LPT2] only"}},
       {}},
      {"a description without its NUL",
       "win98",
       [](const fs::path& image) {
         EXPECT_TRUE(
             EditFile(image / "registry.reg",
                      "printer\\0002]\r\n\"Class\"=\"Printer\"\r\n\"DeviceDesc\"=\"ZANTEROVA Karsenby RK514\"",
                      "printer\\0002]\r\n\"Class\"=\"Printer\"\r\n"
                      "\"DeviceDesc\"=hex(1):5a,41,4e,54,45,52,4f,56,41,20,4b,61,72,73,65,6e,62,79,20,52,4b,35,31,34"));
       },
       {},
       {{deviceDesc, "descriptionNotNulEnded", "its DeviceDesc was read but not compared"}},
       {}},
      {"a marked INF file in use",
       "win95",
       [](const fs::path& image) {
         std::ofstream(image / "attributes.txt", std::ios::app) << "---U C:\\WINDOWS\\INF\\oem2.inf\r\n";
       },
       {},
       {{"C:\\WINDOWS\\INF\\oem2.inf", "notOpened",
         "could not open it to look for KB47STAT.EXE: in use by another program"}},
       {}},
      {"a marked INF file on a later build",
       "win95",
       [](const fs::path&) {},
       {"--release", "win98"},
       {{"C:\\WINDOWS\\INF\\oem2.inf", "notSearched", "on this build the removal searches no folder"}},
       {}},
      {"a read-only win.ini",
       "win98",
       [](const fs::path& image) {
         std::ofstream(image / "attributes.txt", std::ios::app) << "R--- C:\\WINDOWS\\WIN.INI\r\n";
       },
       {},
       {{"[ZANTEROVA Karsenby RK514-LPT1]", "readOnly", "win.ini is read-only"},
        {"[Devices] ZANTEROVA Karsenby RK514=kb47rk,LPT1:", "readOnly", "its deletion was tried and failed"}},
       {}},
      // win.ini as the profile functions read it: a 0x1A line, a key without '=' and a section
      // given twice, each of which a reader of its own would take otherwise.
      {"win.ini read as the profile functions read it",
       "win98",
       [](const fs::path& image) {
         const fs::path ini = image / "drives" / "C" / "WINDOWS" / "WIN.INI";
         WriteAll(ini, "\x1a\r\n" + ReadAll(ini) + "[ZANTEROVA Karsenby RK514-LPT1]\r\nResolution=1200\r\n");
         EXPECT_TRUE(EditFile(ini, "ZANTEROVA Karsenby RK514=kb47rk,LPT1:,15,45", "ZANTEROVA Karsenby RK514"));
       },
       {},
       {{"[ZANTEROVA Karsenby RK514-LPT1]", "laterDuplicate", "deleting it removes the first of them only"}},
       {"[PrinterPorts] ZANTEROVA Karsenby RK514", "[Devices] ZANTEROVA Karsenby RK514",
        "[ZANTEROVA Karsenby RK514-FILE]", "[windows] device"},
       4},  // the section given twice is one piece, still there
      // CR-only line ends: one line to the profile functions, which find nothing to delete in it.
      {"win.ini with CR-only line ends",
       "win98",
       [](const fs::path& image) {
         const fs::path ini = image / "drives" / "C" / "WINDOWS" / "WIN.INI";
         std::string text = ReadAll(ini);
         std::erase(text, '\n');
         WriteAll(ini, text);
       },
       {},
       {},
       {},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::path image = CopyOf(c.sample);
    c.change(image);
    std::vector<std::string> args = {"--image", image.string(), "--answers", "ok,no"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    json r;
    ASSERT_TRUE(RunJson(args, r));
    for (const auto& [piece, code, reason] : c.expected) {
      EXPECT_EQ(Reason(r, piece, "reasonCode"), code) << piece;
      EXPECT_NE(Reason(r, piece).find(reason), std::string::npos) << piece << ": " << Reason(r, piece);
    }
    std::vector<std::string> removed;
    for (const json& item : r["removed"]) removed.push_back(Text(item));
    for (const std::string& piece : c.removed) EXPECT_TRUE(Has(removed, piece)) << piece;
    if (c.profileRemovals >= 0) {
      EXPECT_EQ(Texts(r["removed"], "win.ini section").size() + Texts(r["removed"], "win.ini key").size(),
                static_cast<std::size_t>(c.profileRemovals));
      for (const json& change : r["otherChanges"]) EXPECT_NE(change["path"], "C:\\WINDOWS\\WIN.INI") << change;
    }
  }
}

// The cases in which the report once said that nothing of the product was left while some of it
// stood on the machine, each on a small image made here: the report's inventory finds the piece
// wherever the run did not look, and the reason says where the run looked instead.
TEST_F(Tool, TheInventoryFindsWhatTheRunDidNotLookFor) {
  const std::string shellFolders =
      "[HKEY_USERS\\.DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders]\r\n"
      "\"Programs\"=\"C:\\\\WINDOWS\\\\Start Menu\\\\Programs\"\r\n\r\n";
  const std::string groupFolder = "C/WINDOWS/Start Menu/Programs/ZANTEROVA RK514/";
  std::map<std::string, std::string> group = {{"C/WINDOWS/WIN.INI", "[windows]\r\n"}};
  for (const char* shortcut : {"How do I for RK514.LNK", "Troubleshooting for RK514.LNK", "RK514 Printer Monitor.LNK",
                               "RK514 Uninstall program.LNK"})
    group[groupFolder + shortcut] = "L";
  const std::string kFolder = std::string(kGroup);
  const std::string kShortcut = kFolder + "\\RK514 Uninstall program.LNK";
  struct Case {
    const char* name;
    std::string registry, machineIni;
    std::map<std::string, std::string> files;
    std::function<void(const json&)> check;
  } cases[] = {
      {"the group and a shortcut on disk, no Shell Folders key",
       "",
       "",
       {{"C/WINDOWS/WIN.INI", "[windows]\r\n"}, {groupFolder + "RK514 Uninstall program.LNK", "L"}},
       [&](const json& r) {
         EXPECT_EQ(Texts(r["afterNextStart"], "folder"), std::vector<std::string>{kFolder});
         EXPECT_EQ(Texts(r["afterNextStart"], "file"), std::vector<std::string>{kShortcut});
         for (const std::string& piece : {kFolder, kShortcut}) {
           EXPECT_EQ(Reason(r, piece, "reasonCode"), "notLookedFor") << piece;
           EXPECT_EQ(Reason(r, piece).rfind("not looked for: the group is looked for in C:\\ (the root of the current "
                                            "drive) because the registry names no Programs folder: the key "
                                            "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
                                            "Shell Folders",
                                            0),
                     0u)
               << Reason(r, piece);
         }
       }},
      {"CurrentUser=nobody",
       shellFolders,
       "CurrentUser=nobody",
       group,
       [&](const json& r) {
         EXPECT_EQ(Texts(r["stillThere"], "file").size(), 4u);
         EXPECT_EQ(Texts(r["afterNextStart"], "folder"), std::vector<std::string>{kFolder});
         EXPECT_EQ(Reason(r, kShortcut, "reasonCode"), "notLookedFor");
         EXPECT_NE(Reason(r, kShortcut).find("(HKEY_USERS\\nobody\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
                                             "Shell Folders) could not be opened (RegOpenKeyExA returned 2)"),
                   std::string::npos)
             << Reason(r, kShortcut);
       }},
      // The uninstaller may match the name in any letter case one day: then the line goes, and
      // until then the reason says what the run compared.
      {"device= naming the printer in lower case",
       "",
       "",
       {{"C/WINDOWS/WIN.INI",
         "[windows]\r\ndevice=zanterova karsenby rk514,kb47rk,LPT1:\r\n[Devices]\r\n"
         "ZANTEROVA Karsenby RK514=kb47rk,LPT1:\r\n"}},
       [&](const json& r) {
         const std::string device = "[windows] device=zanterova karsenby rk514,kb47rk,LPT1:";
         EXPECT_TRUE(Has(Texts(r["inventory"]["beforeRun"], "win.ini key"), device));
         if (Has(Texts(r["afterNextStart"], "win.ini key"), device)) {
           EXPECT_EQ(Reason(r, device, "reasonCode"), "comparedUnequal");
           EXPECT_NE(Reason(r, device).find("compared \"zanterova karsenby rk514\" with the printer's name"),
                     std::string::npos)
               << Reason(r, device);
         } else {
           EXPECT_TRUE(Has(Texts(r["removed"], "win.ini key"), "[windows] device"));
         }
         EXPECT_TRUE(Has(Texts(r["removed"], "win.ini key"), "[Devices] ZANTEROVA Karsenby RK514"));
       }},
      // The uninstaller may one day write its lines before such a byte: then they are carried out.
      {"a wininit.ini with a 0x1A inside",
       "",
       "",
       {{"C/WINDOWS/WIN.INI", "[windows]\r\n"},
        {"C/WINDOWS/SYSTEM/KB47UNIN.EXE", "MZ"},
        {"C/WINDOWS/wininit.ini", "[rename]\r\nNUL=C:\\OLD.DLL\r\n\x1A[boot]\r\n"}},
       [&](const json& r) {
         const std::string file = std::string(kSystem) + "KB47UNIN.EXE";
         if (Has(Texts(r["afterNextStart"], "file"), file)) {
           EXPECT_EQ(Reason(r, file, "reasonCode"), "behindCtrlZ");
           EXPECT_NE(Reason(r, file).find("behind a 0x1A byte (byte 27)"), std::string::npos) << Reason(r, file);
         } else {
           EXPECT_TRUE(Has(Texts(r["waiting"], "file"), file));
         }
       }},
      {"the group where the Shell Folders key names it",
       shellFolders,
       "",
       group,
       [&](const json& r) {
         EXPECT_EQ(Texts(r["removed"], "file").size(), 4u);
         EXPECT_EQ(Texts(r["removed"], "folder"), std::vector<std::string>{kFolder});
         EXPECT_EQ(r["afterNextStart"], json::array());
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path image = Fresh("small");
    WriteAll((fs::create_directories(image), image / "registry.reg"), "REGEDIT4\r\n\r\n" + c.registry);
    if (!c.machineIni.empty()) WriteAll(image / "machine.ini", "[machine]\r\n" + c.machineIni + "\r\n");
    fs::create_directories(image / "drives" / "C" / "WINDOWS" / "SYSTEM");
    for (const auto& [path, bytes] : c.files) {
      fs::create_directories((image / "drives" / path).parent_path());
      WriteAll(image / "drives" / path, bytes);
    }
    json r;
    ASSERT_TRUE(RunJson({"--image", image.string(), "--answers", "ok,no"}, r));
    c.check(r);
    // The text says that nothing is left exactly when the inventory after the next start is empty.
    const Result text = Run({"--image", image.string(), "--answers", "ok,no"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(text.out.find("After the next start of Windows: nothing of the product is left") != std::string::npos,
              r["afterNextStart"].empty())
        << text.out;
    EXPECT_EQ(text.out.find("Still there: nothing of the product") != std::string::npos, r["stillThere"].empty());
  }
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
  json r;
  ASSERT_TRUE(RunJson({"--image", image.string(), "--answers", "ok,no"}, r));
  EXPECT_EQ(Reason(r, std::string(kSystem) + "KB47RK.DRV"), "in use by another program");
  EXPECT_EQ(Reason(r, std::string(kSystem) + "KB4732.DLL"), "read-only");
  EXPECT_EQ(Reason(r, std::string(kGroup) + "\\RK514 Printer Monitor.LNK"), "read-only");
  EXPECT_EQ(Reason(r, kGroup),
            "not empty: it still holds My colour profiles.txt, RK514 Printer Monitor.LNK, Scan and print.LNK");
  EXPECT_EQ(Reason(r, "HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0150"),
            "outside the probe budget: the walk tried names up to 0102");
  EXPECT_TRUE(Has(Texts(r["removed"], "registry key"), "HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0002"));
}

TEST_F(Tool, TheInputImageIsLeftAlone) {
  fs::path image = CopyOf("win98");
  std::map<std::string, std::string> before = Snapshot(image);
  fs::path out = Fresh("after");
  Result result = Run({"--image", image.string(), "--answers", "ok,yes", "--out", out.string()});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(Snapshot(image), before);
  // The machine after the run is an image of its own, with the removal in it.
  sim::Machine after = sim::Machine::LoadImage(out);
  EXPECT_FALSE(after.files.Exists("C:\\WINDOWS\\SYSTEM\\KB47RK.DRV"));
  EXPECT_TRUE(after.files.Exists("C:\\WINDOWS\\SYSTEM\\KB47UNIN.EXE"));
  EXPECT_NE(after.files.ReadFile("C:\\WINDOWS\\wininit.ini").value_or("").find("KB47UNIN.EXE"), std::string::npos);
  EXPECT_FALSE(after.registry.KeyExists("HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0002"));
  EXPECT_TRUE(sim::Machine::LoadImage(image).files.Exists("C:\\WINDOWS\\SYSTEM\\KB47RK.DRV"));
}

// The machines on disks (made by the sandbox.disks test from every sample and Wine scenario):
// --disk on the raw disk (MBR, FAT32) and on the bare FAT16 volume gives the report and the
// --out of --image on the machine's image, but for the lines that name the input; the disk is
// left as it was, and what --out wrote is an image that --image reads.
TEST_F(Tool, DisksGiveTheReportAndTheMachineOfTheirImage) {
  // The report's lines that name where the machine came from.
  auto body = [](const std::string& text) {
    std::istringstream lines(text);
    std::string kept;
    for (std::string line; std::getline(lines, line);) {
      bool source = false;
      for (const char* start :
           {"ZANTEROVA Karsenby RK514 uninstaller, run on", "The machine after the run:", "Disk: ",
            "  Windows directory: ", "  Registry: ", "  Release: ", "  Configuration: ", "  Current user: "})
        source = source || line.rfind(start, 0) == 0;
      if (!source) kept += line + "\n";
    }
    return kept;
  };
  auto withoutSource = [](json report) {
    for (const char* key : {"image", "disk", "output"}) report.erase(key);
    return report;
  };
  int machines = 0;
  for (const auto& entry : fs::directory_iterator(RK514_DISKS_DIR)) {
    if (!entry.is_directory() || entry.path().filename() == "bad") continue;
    ++machines;
    const std::string name = entry.path().filename().string();
    const fs::path image = entry.path() / "image";
    const fs::path imageOut = Fresh("image");
    const Result fromImage =
        Run({"--image", image.string(), "--answers", "ok,no", "--json", "--out", imageOut.string()});
    ASSERT_EQ(fromImage.exitCode, 0) << name << ": " << fromImage.err;
    const Result imageText = Run({"--image", image.string(), "--answers", "ok,no"});
    // win98-profile: a user profile, the current user, which --user picks on the disk.
    std::vector<std::string> user;
    std::istringstream words(ReadAll(entry.path() / "disk-args"));
    for (std::string word; words >> word;) user.push_back(word);
    for (const char* diskName : {"disk.img", "fat16.img"}) {
      SCOPED_TRACE(name + "/" + diskName);
      const std::string disk = (entry.path() / diskName).string();
      const std::string before = ReadAll(disk);
      const fs::path diskOut = Fresh("disk");
      std::vector<std::string> args = {"--disk", disk, "--answers", "ok,no"};
      args.insert(args.end(), user.begin(), user.end());
      std::vector<std::string> jsonArgs = args;
      jsonArgs.insert(jsonArgs.end(), {"--json", "--out", diskOut.string()});
      const Result fromDisk = Run(jsonArgs);
      ASSERT_EQ(fromDisk.exitCode, 0) << fromDisk.err;
      const json diskReport = json::parse(fromDisk.out);
      EXPECT_EQ(withoutSource(diskReport), withoutSource(json::parse(fromImage.out)));
      EXPECT_EQ(diskReport["disk"]["path"], disk);
      EXPECT_EQ(diskReport["disk"]["windowsDirectory"], "C:\\WINDOWS");
      EXPECT_EQ(diskReport["disk"]["windowsDirectoryFrom"], std::string(diskName) == "disk.img"
                                                                ? "MSDOS.SYS [Paths] WinDir=C:\\WINDOWS"
                                                                : "the folder holding SYSTEM.DAT");
      EXPECT_EQ(Snapshot(diskOut), Snapshot(imageOut));
      EXPECT_EQ(diskReport["disk"]["user"], user.empty() ? ".DEFAULT" : user.back());
      const Result diskText = Run(args);
      EXPECT_EQ(diskText.exitCode, 0) << diskText.err;
      EXPECT_EQ(body(diskText.out), body(imageText.out));
      EXPECT_TRUE(ReadAll(disk) == before) << "the disk was written to";
      EXPECT_EQ(Run({"--image", diskOut.string(), "--answers", "cancel,ok", "--json"}).exitCode, 0);
    }
    // A copy of drive C: in a folder, its registry files beside it: the same report, and the same
    // machine but for the attributes, which a folder of the host does not keep.
    SCOPED_TRACE(name + "/folder");
    const fs::path folder = Fresh("drive");
    fs::copy(image / "drives" / "C", folder, fs::copy_options::recursive);
    for (const char* hive : {"SYSTEM.DAT", "USER.DAT"}) fs::copy_file(entry.path() / hive, folder / "WINDOWS" / hive);
    if (!user.empty())
      fs::copy_file(entry.path() / "PROFILE.DAT", folder / "WINDOWS" / "Profiles" / user.back() / "USER.DAT");
    const fs::path folderOut = Fresh("folder");
    std::vector<std::string> args = {"--disk", folder.string(), "--answers",       "ok,no",
                                     "--json", "--out",         folderOut.string()};
    args.insert(args.end(), user.begin(), user.end());
    const Result fromFolder = Run(args);
    ASSERT_EQ(fromFolder.exitCode, 0) << fromFolder.err;
    EXPECT_EQ(withoutSource(json::parse(fromFolder.out)), withoutSource(json::parse(fromImage.out)));
    std::map<std::string, std::string> folderFiles = Snapshot(folderOut), imageFiles = Snapshot(imageOut);
    folderFiles.erase("attributes.txt");
    imageFiles.erase("attributes.txt");
    EXPECT_EQ(folderFiles, imageFiles);
  }
  EXPECT_EQ(machines, 15);  // the two samples, the twelve Wine scenarios, the Windows 98 one with a profile
}

// A disk's own 8.3 names, not ones the simulator makes: mtools wrote "Long name two.txt" first,
// so it is LONGNA~1.TXT, and the folder lists the entries in the order of the disk's directory.
TEST(Disk, ShortNamesAndOrderComeFromTheDirectory) {
  sandbox::DiskSource source;
  const sim::Machine machine = sandbox::LoadDisk({std::string(RK514_DISKS_DIR) + "/short-names.img", std::nullopt, ""}, source);
  std::vector<std::string> names;
  for (const sim::DirEntry& entry : machine.files.List("C:\\WINDOWS"))
    if (entry.name.rfind("Long name", 0) == 0) names.push_back(entry.name + "=" + entry.shortName);
  EXPECT_EQ(names, (std::vector<std::string>{"Long name two.txt=LONGNA~1.TXT", "Long name one.txt=LONGNA~2.TXT"}));
  EXPECT_EQ(machine.files.ReadFile("C:\\WINDOWS\\LONGNA~1.TXT"), "two");
  EXPECT_EQ(source.kind, "FAT volume image");
  EXPECT_EQ(source.fileSystem, "FAT16");
}

// Without --out the machine after the run is not kept: nothing is left in the temporary folder.
TEST_F(Tool, WithoutOutNothingIsLeftBehind) {
  fs::path temp = Fresh("tmp");
  fs::create_directories(temp);
  Result result = Run({"--answers", "ok,no", "--json"}, "env TMPDIR=" + ShellQuoted(temp.string()));
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(json::parse(result.out)["output"].is_null());
  EXPECT_TRUE(fs::is_empty(temp));
}

// A folder of the Linux disk mounted for one test (a small tmpfs, a bind mount), unmounted with
// it; ok is false where this machine cannot mount (not root, or no mount namespace).
struct Mount {
  Mount(const std::string& options, const fs::path& source, const fs::path& at) : at(at) {
    fs::create_directories(at);
    ok = std::system(("mount " + options + " " + ShellQuoted(source.string()) + " " + ShellQuoted(at.string()) +
                      " 2>/dev/null")
                         .c_str()) == 0;
  }
  ~Mount() {
    if (ok) std::system(("umount " + ShellQuoted(at.string())).c_str());
  }
  fs::path at;
  bool ok = false;
};

// Every string of a JSON document.
void Strings(const json& value, std::vector<std::string>& out) {
  if (value.is_string()) out.push_back(value);
  if (value.is_structured())
    for (const json& inner : value) Strings(inner, out);
}

// Each bad command line, bad input and thing that goes wrong has its exit code and a message
// that names the file (and the line) or the option; --out is whole or absent whatever happens;
// and a path that Windows would answer is answered, so that the run completes and reports.
TEST_F(Tool, ErrorsNameTheFileAndHaveTheirOwnExitCodes) {
  fs::path malformed = CopyOf("win98");
  WriteAll(malformed / "registry.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\nno value here\r\n");
  fs::path notImage = Fresh("empty");
  fs::create_directories(notImage);
  fs::path noRegistry = CopyOf("win98");
  fs::remove(noRegistry / "registry.reg");
  fs::path noDrives = CopyOf("win98");
  fs::remove_all(noDrives / "drives");
  fs::path unicode = CopyOf("win98");
  WriteAll(unicode / "registry.reg", std::string("\xFF\xFEW\0i\0n\0d\0o\0w\0s\0", 16));
  fs::path full = Fresh("full");
  fs::create_directories(full);
  WriteAll(full / "keep.txt", "mine");
  fs::path unwritten = Fresh("unwritten");
  fs::path image = CopyOf("win98");
  fs::path aFile = Fresh("file");
  WriteAll(aFile, "not a folder");
  // An image with one file of it changed.
  auto imageWith = [&](const std::string& name, const std::function<void(const fs::path&)>& make) {
    fs::path spoilt = CopyOf("win98");
    fs::remove_all(spoilt / name);
    make(spoilt / name);
    return spoilt.string();
  };
  auto fifo = [](const fs::path& file) { ASSERT_EQ(mkfifo(file.c_str(), 0644), 0); };
  auto folder = [](const fs::path& file) { fs::create_directories(file); };
  auto text = [](std::string bytes) { return [bytes](const fs::path& file) { WriteAll(file, bytes); }; };
  const std::string sampleRegistry = ReadAll(image / "registry.reg");
  std::string crOnly = sampleRegistry;
  std::erase(crOnly, '\n');
  // The Programs folder as a registry value may name: the report comes all the same.
  auto programs = [&](const std::string& value) {
    fs::path spoilt = CopyOf("win98");
    EXPECT_TRUE(EditFile(spoilt / "registry.reg", "\"Programs\"=\"C:\\\\WINDOWS\\\\Start Menu\\\\Programs\"",
                         "\"Programs\"=" + value));
    return spoilt.string();
  };
  // A REG_EXPAND_SZ, as regedit writes one: hex(2): and the bytes with their NUL.
  auto expandString = [](const std::string& value) {
    std::string hex = "hex(2):";
    char byte[4];
    for (unsigned char c : value + std::string(1, '\0')) {
      std::snprintf(byte, sizeof byte, "%02x", c);
      hex += std::string(hex.size() > 7 ? "," : "") + byte;
    }
    return hex;
  };
  fs::path writeProtected = CopyOf("win98");
  fs::permissions(writeProtected / "drives" / "C" / "WINDOWS" / "wininit.ini",
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  // Windows-1252 bytes in a key name: é, €, › and an undefined byte, and an ESC; the key is the
  // printer's, at a name the instance walk never forms, so the report lists it as still there.
  fs::path ansi = CopyOf("win98");
  std::ofstream(ansi / "registry.reg", std::ios::binary | std::ios::app)
      << "[HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\Caf\xe9 \x80\x9b\x81\x1b]\r\n"
         "\"DeviceDesc\"=\"ZANTEROVA Karsenby RK514\"\r\n\r\n";
  const std::string ansiShown = "\\Caf\xc3\xa9 \xe2\x82\xac\xe2\x80\xba\\x81\\x1b";
  // Saving takes a while for a drive of many files, long enough to be stopped.
  fs::path manyFiles = CopyOf("win98");
  fs::create_directories(manyFiles / "drives" / "C" / "MANY");
  for (int i = 0; i < 20000; ++i) WriteAll(manyFiles / "drives" / "C" / "MANY" / ("F" + std::to_string(i)), "x");
  // Mounts: an 80 KB and a 64 KB disk, a read-only one, the image's own empty drive D: elsewhere.
  fs::create_directories(image / "drives" / "D");
  const Mount small(" -t tmpfs -o size=80k", "tmpfs", Fresh("tmpfs80k")), smaller(" -t tmpfs -o size=64k", "tmpfs",
                                                                                 Fresh("tmpfs64k")),
      readOnly(" -t tmpfs -o ro,size=80k", "tmpfs", Fresh("tmpfsro")),
      bound(" --bind", image / "drives" / "D", Fresh("boundD"));
  fs::path linkedD = Fresh("linkedD");
  fs::create_directory_symlink(image / "drives" / "D", linkedD);
  // Nothing is left beside an output that was not kept: no folder of its own, no half-written one.
  auto nothingLeftIn = [](const fs::path& place) {
    return [place](const Result&) {
      for (const auto& entry : fs::directory_iterator(place)) ADD_FAILURE() << "left behind: " << entry.path();
    };
  };
  fs::path notProgram = Fresh("KB47UNIN.EXE");
  WriteAll(notProgram, "MZ but nothing more");
  const std::string kReport = "Summary: ";  // a report was printed, up to its last line
  const std::string disks = RK514_DISKS_DIR;
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string env;
    int exitCode;
    std::vector<std::string> message;
    bool report = false;  // the run began: what happened is reported before the error
    std::function<void(const Result&)> check = {};
    std::string stdout = "";     // where standard output goes instead of a file: ">&-"
    const Mount* needs = nullptr;  // the mount the case runs on
    int signal = 0;                // sent once the tool is ready: a dialog is drawn, or a save begun
    std::function<bool()> ready = {};
  } cases[] = {
      {"missing image",
       {"--image", (dir_ / "no-such").string(), "--answers", "ok,no"},
       "",
       65,
       {(dir_ / "no-such").string(), "no such machine image folder"}},
      {"not an image", {"--image", notImage.string(), "--answers", "ok,no"}, "", 65, {"not a machine image"}},
      {"no registry.reg", {"--image", noRegistry.string(), "--answers", "ok,no"}, "", 65, {"it has no registry.reg"}},
      {"no drives", {"--image", noDrives.string(), "--answers", "ok,no"}, "", 65, {"it has no drives/ folder"}},
      {"a UTF-16 registry export",
       {"--image", unicode.string(), "--answers", "ok,no"},
       "",
       65,
       {"UTF-16", "REGEDIT4 format"}},
      {"malformed registry", {"--image", malformed.string(), "--answers", "ok,no"}, "", 65, {"registry.reg:4"}},
      {"an empty --image", {"--image", "", "--answers", "ok,no"}, "", 64, {"--image: the path is empty"}},
      {"--image names a file",
       {"--image", (image / "registry.reg").string(), "--answers", "ok,no"},
       "",
       65,
       {"registry.reg: a file, not a folder"}},
      {"machine.ini a fifo",
       {"--image", imageWith("machine.ini", fifo), "--answers", "ok,no"},
       "",
       65,
       {"machine.ini: a fifo"}},
      {"attributes.txt a fifo",
       {"--image", imageWith("attributes.txt", fifo), "--answers", "ok,no"},
       "",
       65,
       {"attributes.txt: a fifo"}},
      {"machine.ini a link to /dev/zero",
       {"--image", imageWith("machine.ini", [](const fs::path& f) { fs::create_symlink("/dev/zero", f); }), "--answers",
        "ok,no"},
       "",
       65,
       {"machine.ini: a link to a device"}},
      {"registry.reg a folder",
       {"--image", imageWith("registry.reg", folder), "--answers", "ok,no"},
       "",
       65,
       {"registry.reg: a folder"}},
      {"machine.ini a folder",
       {"--image", imageWith("machine.ini", folder), "--answers", "ok,no"},
       "",
       65,
       {"machine.ini: a folder"}},
      {"attributes.txt a folder",
       {"--image", imageWith("attributes.txt", folder), "--answers", "ok,no"},
       "",
       65,
       {"attributes.txt: a folder"}},
      {"registry.reg with a UTF-8 byte order mark",
       {"--image", imageWith("registry.reg", text("\xEF\xBB\xBF" + sampleRegistry)), "--answers", "ok,no"},
       "",
       65,
       {"registry.reg:1: ", "UTF-8 byte order mark"}},
      {"registry.reg with CR-only line ends",
       {"--image", imageWith("registry.reg", text(crOnly)), "--answers", "ok,no"},
       "",
       65,
       {"registry.reg:1: ", "carriage return alone"}},
      {"a version 5.00 export",
       {"--image",
        imageWith("registry.reg",
                  text("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n")),
        "--answers", "ok,no"},
       "",
       65,
       {"registry.reg:1: ", "\"Windows Registry Editor Version 5.00\" export", "Windows 95/98", "REGEDIT4",
        "\"Win9x/NT4 Registration Files (*.reg)\""}},
      {"machine.ini with a UTF-8 byte order mark",
       {"--image", imageWith("machine.ini", text("\xEF\xBB\xBF[machine]\r\nBuildNumber=0x040A07CE\r\n")), "--answers",
        "ok,no"},
       "",
       65,
       {"machine.ini:1: ", "UTF-8 byte order mark", "EF BB BF"},
       false,
       [](const Result& r) { EXPECT_EQ(r.err.find("\xEF\xBB\xBF"), std::string::npos) << "shown invisibly"; }},
      {"a Programs folder of %windir%",
       {"--image", programs(expandString("%windir%\\Start Menu\\Programs")), "--answers", "ok,no"},
       "",
       0,
       {},
       true},
      {"a Programs folder on the network",
       {"--image", programs("\"\\\\\\\\server\\\\share\\\\Programs\""), "--answers", "ok,no"},
       "",
       0,
       {},
       true},
      {"a Programs folder with ..",
       {"--image", programs("\"C:\\\\WINDOWS\\\\TEMP\\\\..\\\\Start Menu\\\\Programs\""), "--answers", "ok,no"},
       "",
       0,
       {},
       true,
       [](const Result& r) {
         EXPECT_NE(r.out.find("Summary: 36 removed, 5 waiting"), std::string::npos) << "the group is found through ..";
       }},
      {"a file whose Unix write bit is off",
       {"--image", writeProtected.string(), "--answers", "ok,no"},
       "",
       0,
       {"warning", "C:\\WINDOWS\\wininit.ini", "Unix modes are ignored: attributes.txt decides"},
       true},
      {"Windows-1252 bytes, in the text and in the JSON alike",
       {"--image", ansi.string(), "--answers", "ok,no"},
       "",
       0,
       {},
       true,
       [&](const Result& r) {
         EXPECT_NE(r.out.find(ansiShown), std::string::npos) << r.out;
         const Result asJson = Run({"--image", ansi.string(), "--answers", "ok,no", "--json"});
         std::vector<std::string> strings;
         Strings(json::parse(asJson.out), strings);
         EXPECT_TRUE(std::any_of(strings.begin(), strings.end(),
                                 [&](const std::string& s) { return s.find(ansiShown) != std::string::npos; }))
             << asJson.out;
       }},
      {"unknown release", {"--release", "win2000", "--answers", "ok,no"}, "", 64, {"--release", "win2000"}},
      {"unknown option", {"--fast"}, "", 64, {"--fast"}},
      {"image and sample", {"--image", malformed.string(), "--sample", "win95"}, "", 64, {"--sample"}},
      {"unknown answer", {"--answers", "ok,maybe"}, "", 64, {"answer 2 (\"maybe\")"}},
      {"too few answers",
       {"--answers", "ok", "--out", unwritten.string()},
       "",
       66,
       {"\"Disinstallation succeeded\""},
       true},
      {"answers left over", {"--answers", "ok,no,yes"}, "", 66, {"unused: yes"}, true},
      {"output folder not empty",
       {"--answers", "ok,no", "--out", full.string()},
       "",
       73,
       {full.string(), "not an empty folder"}},
      {"output folder is the image",
       {"--image", image.string(), "--answers", "ok,no", "--out", image.string()},
       "",
       73,
       {"inside the machine image"}},
      {"output folder inside the image",
       {"--image", image.string(), "--answers", "ok,no", "--out", (image / "after").string()},
       "",
       73,
       {"inside the machine image"}},
      {"output folder through a link into the image",
       {"--image", image.string(), "--answers", "ok,no", "--out", linkedD.string()},
       "",
       73,
       {"inside the machine image"}},
      {"output folder a bind mount of the image's drive D",
       {"--image", image.string(), "--answers", "ok,no", "--out", bound.at.string()},
       "",
       73,
       {"inside the machine image"},
       false,
       {},
       "",
       &bound},
      // Before the first dialog: with no terminal, the output folder is refused first.
      {"output folder below a file",
       {"--out", (aFile / "after").string()},
       "env -u TERM",
       73,
       {(aFile / "after").string(), "is not a folder"}},
      {"output folder in a folder that does not exist",
       {"--answers", "ok,no", "--out", (dir_ / "no-such" / "after").string()},
       "",
       73,
       {"does not exist"}},
      {"output folder on a read-only disk",
       {"--out", (readOnly.at / "after").string()},
       "env -u TERM",
       73,
       {"Read-only file system"},
       false,
       {},
       "",
       &readOnly},
      {"output on a full disk of 80 KB",
       {"--sample", "win95", "--answers", "ok,no", "--out", (small.at / "o").string()},
       "",
       73,
       {"cannot be written, and nothing of it is kept", "No space left on device"},
       true,
       nothingLeftIn(small.at),
       "",
       &small},
      {"output on a full disk of 64 KB",
       {"--sample", "win95", "--answers", "ok,no", "--out", (smaller.at / "o").string()},
       "",
       73,
       {"cannot be written, and nothing of it is kept", "No space left on device"},
       true,
       nothingLeftIn(smaller.at),
       "",
       &smaller},
      {"standard output closed", {"--answers", "ok,no"}, "", 74, {"standard output is closed"}, false, {}, ">&-"},
      {"standard output full",
       {"--answers", "ok,no", "--out", (dir_ / "kept").string()},
       "",
       74,
       {"the report cannot be written to standard output: No space left on device", "is kept in"},
       false,
       [&](const Result&) { EXPECT_TRUE(fs::exists(dir_ / "kept" / "registry.reg")); },
       ">/dev/full"},
      {"SIGINT while the machine is saved",
       {"--image", manyFiles.string(), "--answers", "ok,no", "--out", (dir_ / "saving" / "o").string()},
       "",
       130,
       {"interrupted (SIGINT) while the machine after the run was written", "nothing of it is kept"},
       false,
       nothingLeftIn(dir_ / "saving"),
       "",
       nullptr,
       SIGINT,
       [&] {
         for (const auto& entry : fs::directory_iterator(dir_ / "saving"))
           if (fs::exists(entry.path() / "drives" / "C")) return true;
         return false;
       }},
      {"SIGINT at the terminal", {}, "", 130, {"interrupted (SIGINT)"}, false, {}, "", nullptr, SIGINT},
      {"SIGTERM at the terminal", {}, "", 143, {"terminated (SIGTERM)"}, false, {}, "", nullptr, SIGTERM},
      {"--partition beyond the partition table",
       {"--disk", disks + "/win98/disk.img", "--partition", "2", "--answers", "ok,no"},
       "",
       65,
       {"--partition 2", "lists 1 partition"}},
      {"--partition of a volume without a partition table",
       {"--disk", disks + "/win98/fat16.img", "--partition", "1", "--answers", "ok,no"},
       "",
       65,
       {"--partition", "without a partition table"}},
      {"--user of a disk without profiles",
       {"--disk", disks + "/win98/disk.img", "--user", "BOB", "--answers", "ok,no"},
       "",
       65,
       {"--user BOB", "it has none"}},
      {"--user of another profile",
       {"--disk", disks + "/win98-profile/disk.img", "--user", "BOB", "--answers", "ok,no"},
       "",
       65,
       {"--user BOB", "it has ANNA"}},
      {"missing disk",
       {"--disk", (dir_ / "no-such.img").string(), "--answers", "ok,no"},
       "",
       65,
       {"no such disk image"}},
      {"--partition without --disk", {"--partition", "1", "--answers", "ok,no"}, "", 64, {"--partition"}},
      {"disk and image", {"--disk", disks + "/win98/disk.img", "--image", image.string()}, "", 64, {"--disk"}},
      {"--exe not a program",
       {"--exe", notProgram.string(), "--answers", "ok,no"},
       "",
       67,
       {"--exe " + notProgram.string() + ": refused: "}},
      {"--exe missing", {"--exe", (dir_ / "none.exe").string(), "--answers", "ok,no"}, "", 67, {"cannot be read"}},
      {"--exe a folder", {"--exe", dir_.string(), "--answers", "ok,no"}, "", 67, {"a folder"}},
      {"no terminal", {}, "env -u TERM", 64, {"give --answers"}},
      {"a dumb terminal", {}, "env TERM=dumb", 64, {"TERM is \"dumb\"", "give --answers"}},
  };
  fs::create_directories(dir_ / "saving");
  std::string skipped;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs != nullptr && !c.needs->ok) {
      std::cerr << "SKIPPED: \"" << c.name << "\": this machine cannot mount (root and mount(8) needed)\n";
      skipped += std::string(skipped.empty() ? "" : ", ") + c.name;
      continue;
    }
    const Result result = c.signal == 0 ? Run(c.args, c.env, c.stdout) : RunSignalled(c.args, c.signal, !c.ready, c.ready);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    EXPECT_EQ(result.out.find(kReport) != std::string::npos, c.report) << result.out;
    for (const std::string& part : c.message) EXPECT_NE(result.err.find(part), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("filesystem error"), std::string::npos) << result.err;
    if (c.check) c.check(result);
    // A refused program is one line, before any window.
    if (c.exitCode == 67) {
      EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
  }
  EXPECT_FALSE(fs::exists(unwritten)) << "an answer error still wrote the machine";
  EXPECT_FALSE(fs::exists(image / "after")) << "the machine was written into the image";
  EXPECT_TRUE(fs::is_empty(image / "drives" / "D")) << "the machine was written into the image's drive D";
  EXPECT_EQ(ReadAll(full / "keep.txt"), "mine");
  if (!skipped.empty()) GTEST_SKIP() << "cases that need a mount were not run: " << skipped;
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
  // A bad test disk (made by make_disks.sh) instead of a spoilt image: --disk on it.
  auto disk = [](const std::string& name) { return std::string(RK514_DISKS_DIR) + "/bad/" + name + ".img"; };
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> spoil;
    int exitCode;
    std::vector<std::string> message;
    std::string disk = "";
  } cases[] = {
      {"a build number without its base", machineIni("BuildNumber=950"), 65, {"machine.ini:2", "0x3B6", "4.00.950"}},
      {"a Windows directory with ..", machineIni("WindowsDirectory=C:\\WINDOWS\\..\\WIN"), 65, {"machine.ini:2"}},
      {"a Windows directory with *", machineIni("WindowsDirectory=C:\\WIN*"), 65, {"machine.ini:2"}},
      {"a system directory with ?", machineIni("SystemDirectory=C:\\WINDOWS\\SYS?EM"), 65, {"machine.ini:2"}},
      {"a system directory ending in a dot", machineIni("SystemDirectory=C:\\WINDOWS\\SYSTEM."), 65, {"machine.ini:2"}},
      {"a Windows directory on a drive the image lacks",
       machineIni("WindowsDirectory=E:\\WINDOWS"),
       65,
       {"machine.ini:2", "drive E:"}},
      {"a key 513 levels deep", registry(keyOfDepth(513)), 65, {"registry.reg:3", "513 levels"}},
      {"a key name holding a CR",
       registry("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Soft\rware]\r\n"),
       65,
       {"registry.reg:3", "carriage return"}},
      {"a value name holding a CR",
       registry("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"A\rB\"=\"x\"\r\n"),
       65,
       {"registry.reg:3", "carriage return"}},
      {"a link inside drives/",
       [](const fs::path& image) { fs::create_symlink("/etc/passwd", image / "drives" / "C" / "WINDOWS" / "passwd"); },
       65,
       {"drives/C/WINDOWS/passwd", "a link"}},
      {"a drive that is a link",
       [](const fs::path& image) { fs::create_directory_symlink(image / "drives" / "C", image / "drives" / "D"); },
       65,
       {"drives/D", "a link"}},
      {"folders 129 levels deep",
       [](const fs::path& image) {
         fs::path deep = image / "drives" / "C";
         for (int i = 0; i < 129; ++i) deep /= "d";
         fs::create_directories(deep);
       },
       65,
       {"drives/C/d/d/d", "128 levels"}},
      {"the deepest key that Windows allows", registry(keyOfDepth(512)), 0, {}},
      // Disks that are not a Windows 95/98 disk, or not a whole one.
      {"not a disk image",
       {},
       65,
       {"not a disk image", "neither an MBR partition table nor a FAT"},
       disk("not-a-disk")},
      {"an MBR without a FAT partition", {}, 65, {"no FAT partition", "Linux (0x83)"}, disk("no-fat-partition")},
      {"a damaged FAT", {}, 65, {"C:\\WINDOWS\\LONG.TXT", "a damaged FAT"}, disk("damaged-fat")},
      {"a cross-linked cluster chain",
       {},
       65,
       {"C:\\WINDOWS\\LONG.TXT", "C:\\WINDOWS\\NOTEPAD.EXE", "cross-linked"},
       disk("cross-linked")},
      {"a directory loop", {}, 65, {"C:\\WINDOWS\\LOOPBACK", "a directory loop"}, disk("directory-loop")},
      {"SYSTEM.DAT missing",
       {},
       65,
       {"C:\\WINDOWS\\SYSTEM.DAT: missing", "MSDOS.SYS [Paths] WinDir=C:\\WINDOWS"},
       disk("no-system-dat")},
      {"SYSTEM.DAT cut short", {}, 65, {"C:\\WINDOWS\\SYSTEM.DAT", "cut short"}, disk("truncated-system-dat")},
      {"a key tree that leads outside SYSTEM.DAT",
       {},
       65,
       {"C:\\WINDOWS\\SYSTEM.DAT", "libcreg", "out of bounds"},
       disk("hive-outside")},
      {"a key tree that loops", {}, 65, {"C:\\WINDOWS\\SYSTEM.DAT", "comes back to the key entry"}, disk("hive-loop")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"--answers", "ok,no", "--json", "--out", Fresh("after").string()};
    std::string before;
    if (c.disk.empty()) {
      const fs::path image = CopyOf("win98");
      c.spoil(image);
      args.insert(args.begin(), {"--image", image.string()});
    } else {
      before = ReadAll(c.disk);
      ASSERT_FALSE(before.empty()) << c.disk << " is missing: the sandbox.disks test makes it";
      args.insert(args.begin(), {"--disk", c.disk});
    }
    const Result result = Run(args);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    if (c.exitCode == 65) {
      EXPECT_EQ(result.out, "");
      EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;  // one line
      EXPECT_FALSE(fs::exists(args.back())) << "the machine was written";
    }
    if (!c.disk.empty()) {
      EXPECT_TRUE(ReadAll(c.disk) == before) << c.disk << " was written to";
    }
    for (const std::string& part : c.message) EXPECT_NE(result.err.find(part), std::string::npos) << result.err;
  }
}

// --answers ok,enter: the report of what happened, then which window took which word.
TEST_F(Tool, AnswersThatDoNotFitStillReportTheRun) {
  Result result = Run({"--answers", "ok,enter", "--json"});
  EXPECT_EQ(result.exitCode, 66);
  json r = json::parse(result.out);
  EXPECT_EQ(r["removalRan"], true);
  EXPECT_TRUE(r["exitCode"].is_null());
  EXPECT_TRUE(r["output"].is_null());
  EXPECT_NE(r["error"].get<std::string>().find("the message box \"Disinstallation succeeded\""), std::string::npos);
  EXPECT_NE(result.err.find("answer 2 (\"enter\") went to the dialog \"Disinstalling the driver\""), std::string::npos)
      << result.err;
}

// --exe with the built i686 KB47UNIN.EXE: the emulated program's run reports as the built-in
// code's does, and names the file that ran by its path, size and SHA-256.
TEST_F(Tool, AGivenExecutableRunsEmulatedAndIsNamed) {
  const fs::path exe = RK514_WIN32_EXE;
  if (!fs::is_regular_file(exe))
    GTEST_SKIP() << "SKIPPED LOUDLY: no " << exe << "; build the i686 tree first (cmake --preset win32 && cmake "
                 << "--build --preset win32) to run the shipped program in the sandbox";
  std::system(("sha256sum " + ShellQuoted(exe.string()) + " >" + ShellQuoted((dir_ / "sum").string())).c_str());
  const std::string sha256 = ReadAll(dir_ / "sum").substr(0, 64);
  for (const char* answers : {"ok,no", "ok,yes", "cancel,ok"}) {
    SCOPED_TRACE(answers);
    json builtIn, emulated;
    ASSERT_TRUE(RunJson({"--answers", answers}, builtIn));
    ASSERT_TRUE(RunJson({"--exe", exe.string(), "--answers", answers}, emulated));
    EXPECT_EQ(emulated["program"]["path"], fs::absolute(exe).lexically_normal().string());
    EXPECT_EQ(emulated["program"]["size"], fs::file_size(exe));
    EXPECT_EQ(emulated["program"]["sha256"], sha256);
    for (json* report : {&builtIn, &emulated}) {
      report->erase("program");
      report->erase("output");
    }
    EXPECT_EQ(emulated, builtIn);
  }
  const Result text = Run({"--exe", exe.string(), "--answers", "ok,no"});
  EXPECT_EQ(text.exitCode, 0) << text.err;
  EXPECT_NE(text.out.find("The program: " + fs::absolute(exe).lexically_normal().string() + " (" +
                          std::to_string(fs::file_size(exe)) + " bytes, SHA-256 " + sha256 + ")"),
            std::string::npos)
      << text.out;
  // A copy whose first instruction is one no x86 runs (ud2): stopped where it went wrong, with
  // its own exit code, after the report of what happened.
  std::string bytes = ReadAll(exe);
  const auto word = [&](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8 |
                                      static_cast<unsigned char>(bytes[at + 2]) << 16 |
                                      static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24);
  };
  const std::size_t pe = word(0x3C), sections = pe + 24 + (word(pe + 20) & 0xFFFF);
  const std::uint32_t entry = word(pe + 40);
  for (std::size_t i = 0, count = word(pe + 4) >> 16; i < count; ++i) {
    const std::size_t section = sections + 40 * i;
    if (entry >= word(section + 12) && entry < word(section + 12) + word(section + 8))
      bytes.replace(word(section + 20) + entry - word(section + 12), 2, "\x0F\x0B");
  }
  const fs::path broken = Fresh("KB47UNIN.EXE");
  WriteAll(broken, bytes);
  const Result failed = Run({"--exe", broken.string(), "--answers", "ok,no"});
  EXPECT_EQ(failed.exitCode, 68);
  EXPECT_NE(failed.err.find("an invalid instruction, at 0x"), std::string::npos) << failed.err;
  EXPECT_NE(failed.err.find("(ud2)"), std::string::npos) << failed.err;
  EXPECT_NE(failed.out.find("The removal ran: no\n"), std::string::npos) << failed.out;

  // A copy cut short is refused before any window, in one line.
  const fs::path cut = Fresh("KB47UNIN.EXE");
  WriteAll(cut, ReadAll(exe).substr(0, 1024));
  const Result refused = Run({"--exe", cut.string(), "--answers", "ok,no"});
  EXPECT_EQ(refused.exitCode, 67);
  EXPECT_TRUE(refused.out.empty()) << refused.out;
  EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
}

TEST_F(Tool, Version) {
  Result result = Run({"--version"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out.rfind("rk514-sandbox 1.", 0), 0u) << result.out;
}

TEST_F(Tool, HelpListsTheExitCodes) {
  Result result = Run({"--help"});
  EXPECT_EQ(result.exitCode, 0);
  for (const char* part : {"--image", "--disk", "--partition", "--user", "--release", "--answers", "--exe", "--json",
                           "--out", "--version", "NO_COLOR", "0 ", "64", "65", "66", "67", "68", "73", "74"})
    EXPECT_NE(result.out.find(part), std::string::npos) << part;
}

}  // namespace
