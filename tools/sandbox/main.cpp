// rk514-sandbox: runs the uninstaller's own code on a copy of a machine image, shows its dialogs
// in the terminal (or answers them from --answers), writes the machine after the run to a folder
// of its own and reports what changed and what of the product is still there.
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include <CLI/CLI.hpp>

#include "answers.h"
#include "program.h"
#include "report.h"
#include "sim/machine.h"
#include "terminal.h"

namespace {

namespace fs = std::filesystem;

// Exit codes of the tool's own; a run that got through returns the program's exit code.
constexpr int kUsageError = 64;    // an option that is wrong, unknown or missing; no terminal
constexpr int kImageError = 65;    // the machine image is missing or cannot be read
constexpr int kAnswerError = 66;   // the --answers list does not fit the windows shown
constexpr int kModelError = 70;    // the simulated machine met something it does not model
constexpr int kOutputError = 73;   // the folder for the machine after the run cannot be used
constexpr int kInterrupted = 130;  // Ctrl-C at the terminal

const std::map<std::string, std::uint32_t> kReleases = {
    {"win95", sim::kBuildWin95}, {"win95osr2", sim::kBuildWin95Osr2},
    {"win98", sim::kBuildWin98}, {"win98se", sim::kBuildWin98Se}};

constexpr const char* kFooter = R"(The dialogs are answered as on Windows: Enter or Space presses the marked button, Tab
moves the mark, Escape is Cancel (it also closes the progress dialog early), F4 is the
caption's close button; in a message box Y and N answer Yes and No.

--answers takes one word per dialog or message box that waits for the user, in order:
ok, cancel, yes, no, enter, escape, close; WORD@N waits for N timer messages first.
  --answers ok,no            confirm, let the removal run, decline the restart
  --answers cancel,ok        cancel, then close the "aborted" message
  --answers ok,escape@20,ok  close the progress dialog after 20 timer messages

Exit codes:
  2    the uninstaller ran and ended normally (its own exit code; any other code it
       returns is passed on likewise)
  64   usage: an unknown option or release, conflicting options, no terminal
  65   the machine image is missing or malformed (the message names the file)
  66   the --answers list does not fit the dialogs shown
  70   the simulated machine met a call it does not model
  73   the output folder exists and is not empty, or cannot be written
  130  interrupted with Ctrl-C)";

void Fail(const std::string& message) { std::cerr << "rk514-sandbox: " << message << "\n"; }

// A new folder for the machine after the run, under the system's temporary folder.
std::optional<fs::path> NewOutputFolder(std::string& error) {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string pattern = (base / "rk514-sandbox-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    error = "cannot create a folder under " + base.string() + " for the machine after the run";
    return std::nullopt;
  }
  return fs::path(pattern);
}

int Run(int argc, char** argv) {
  CLI::App app{"Runs the ZANTEROVA Karsenby RK514 uninstaller on a copy of a Windows 95/98 machine image\n"
               "and reports what it removed, what it scheduled for the next start and what is still there.",
               "rk514-sandbox"};
  app.footer(kFooter);
  std::string image, sample, release, answerList, out;
  bool json = false;
  auto* imageOption = app.add_option("--image", image, "machine image folder (registry.reg, drives/, attributes.txt, machine.ini)");
  app.add_option("--sample", sample, "a bundled sample machine instead: win95 or win98 (the default)")
      ->check(CLI::IsMember({"win95", "win98"}))
      ->excludes(imageOption);
  app.add_option("--release", release, "the Windows build to report: win95 (950), win95osr2, win98, win98se")
      ->check(CLI::IsMember({"win95", "win95osr2", "win98", "win98se"}));
  app.add_option("--answers", answerList, "answer the dialogs from this list instead of the terminal, e.g. ok,no");
  app.add_flag("--json", json, "print the report as JSON");
  app.add_option("--out", out, "folder for the machine after the run (new or empty; default: a new temporary folder)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    Fail(std::string(e.what()) + " (see --help)");
    return kUsageError;
  }

  // The answers are read first: a list that cannot be right fails before anything runs.
  std::vector<sandbox::Answer> answers;
  if (!answerList.empty() || app.count("--answers") > 0) {
    try {
      answers = sandbox::ParseAnswers(answerList);
    } catch (const sandbox::AnswerError& e) {
      Fail(e.what());
      return kAnswerError;
    }
  }

  fs::path imageDir = image.empty() ? fs::path(RK514_SAMPLES_DIR) / (sample.empty() ? "win98" : sample) : fs::path(image);
  std::error_code ec;
  if (!fs::is_directory(imageDir, ec)) {
    Fail(imageDir.string() + ": no such machine image folder");
    return kImageError;
  }
  if (!fs::exists(imageDir / "registry.reg", ec) && !fs::exists(imageDir / "drives", ec)) {
    Fail(imageDir.string() + ": not a machine image (it has neither registry.reg nor drives/)");
    return kImageError;
  }
  if (!out.empty() && fs::exists(out, ec) && (!fs::is_directory(out, ec) || !fs::is_empty(out, ec))) {
    Fail("--out " + out + ": exists and is not an empty folder; the machine after the run goes to a new or empty one");
    return kOutputError;
  }

  std::optional<sim::Machine> loaded;
  try {
    loaded.emplace(sim::Machine::LoadImage(imageDir));
  } catch (const sim::ImageError& e) {
    Fail("machine image " + imageDir.string() + ": " + e.what());
    return kImageError;
  }
  sim::Machine& before = *loaded;
  if (!release.empty()) before.buildNumber = kReleases.at(release);

  sim::Machine machine = before;
  sandbox::ProgramRun run;
  std::vector<sandbox::Shown> shown;
  try {
    if (app.count("--answers") > 0) {
      sandbox::AnswersUser user(answers, machine.ui());
      run = sandbox::RunUninstaller(machine, user);
      user.CheckAllUsed();
      shown = user.Transcript();
    } else {
      std::string error;
      std::unique_ptr<sandbox::TerminalUser> user = sandbox::TerminalUser::Open(machine.ui(), error);
      if (!user) {
        Fail(error);
        return kUsageError;
      }
      run = sandbox::RunUninstaller(machine, *user);
      user->Close();
      shown = user->Transcript();
    }
  } catch (const sandbox::AnswerError& e) {
    Fail(e.what());
    return kAnswerError;
  } catch (const sandbox::Interrupted& e) {
    Fail(e.what());
    return kInterrupted;
  } catch (const sim::Unanswered& e) {
    Fail(std::string("a window was left unanswered: ") + e.what());
    return kAnswerError;
  } catch (const sim::Unmodelled& e) {
    Fail(std::string("the simulated machine does not model this: ") + e.what());
    return kModelError;
  }

  fs::path outDir;
  if (out.empty()) {
    std::string error;
    std::optional<fs::path> made = NewOutputFolder(error);
    if (!made) {
      Fail(error);
      return kOutputError;
    }
    outDir = *made;
  } else {
    outDir = out;
  }
  try {
    machine.SaveImage(outDir);
  } catch (const std::exception& e) {
    Fail("--out " + outDir.string() + ": " + e.what());
    return kOutputError;
  }

  sim::Machine dryRun = before;
  sandbox::RunRemovalOnly(dryRun);

  sandbox::RunFacts facts;
  facts.image = fs::absolute(imageDir).lexically_normal().string();
  facts.output = fs::absolute(outDir).lexically_normal().string();
  facts.shown = shown;
  facts.exitCode = run.exitCode;
  facts.restartRequested = !machine.ui().exitWindowsRequests.empty();
  facts.removalRan = run.removalRan;
  sandbox::Report report = sandbox::BuildReport(before, machine, dryRun, facts);
  std::cout << (json ? sandbox::ReportJson(report) : sandbox::ReportText(report)) << std::flush;
  return run.exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    Fail(e.what());
    return kModelError;
  }
}
