// rk514-sandbox: runs the uninstaller's own code (or, with --exe, a given KB47UNIN.EXE on an
// emulated x86) on a copy of a machine image, shows its dialogs in the terminal (or answers them
// from --answers), and reports what changed and what of the product is still there. Run goes in
// four steps: the command line, loading the image (and the --exe file), running the program, and
// the report (with the machine after the run written to --out).
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
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

// Exit codes: 0 when the run went as the answers (or the person) said, whatever the uninstaller's
// own exit code, which the report gives; the others are the tool's own.
constexpr int kUsageError = 64;    // an option that is wrong, unknown or missing; no terminal
constexpr int kImageError = 65;    // the machine image is missing or cannot be read
constexpr int kAnswerError = 66;   // the --answers list does not fit the windows shown
constexpr int kExeRefused = 67;    // the --exe file is not a program the emulator runs
constexpr int kExeFailed = 68;     // the --exe program went wrong while it ran
constexpr int kModelError = 70;    // the simulated machine met something it does not model
constexpr int kOutputError = 73;   // the folder for the machine after the run cannot be used
constexpr int kInterrupted = 130;  // Ctrl-C at the terminal

const std::map<std::string, std::uint32_t> kReleases = {{"win95", sim::kBuildWin95},
                                                        {"win95osr2", sim::kBuildWin95Osr2},
                                                        {"win98", sim::kBuildWin98},
                                                        {"win98se", sim::kBuildWin98Se}};

constexpr const char* kFooter = R"(The dialogs are answered as on Windows: Enter or Space presses the marked button, Tab
moves the mark, Escape is Cancel (it also closes the progress dialog early), F4 is the
caption's close button; in a message box Y and N answer Yes and No. NO_COLOR=1 draws them
without colours.

--answers takes one word per dialog or message box that waits for the user, in order:
ok, cancel, yes, no, enter, escape, close; WORD@N waits for N timer messages first.
  --answers ok,no            confirm, let the removal run, decline the restart
  --answers cancel,ok        cancel, then close the "aborted" message
  --answers ok,escape@20,ok  close the progress dialog after 20 timer messages

--exe FILE runs that KB47UNIN.EXE (a copy from a floppy, say) on an emulated 32-bit x86 in
place of the uninstaller built into the sandbox; the report names it with its size and SHA-256.

The report goes to standard output (--json: as JSON, with its "formatVersion"), messages to
standard error. The machine after the run is kept only with --out.

Exit codes:
  0    the run went as answered; the uninstaller's own exit code is in the report
  64   usage: an unknown option or release, conflicting options, no terminal
  65   the machine image is missing or malformed (the message names the file)
  66   the --answers list does not fit the dialogs shown (the report shows what happened)
  67   the --exe file is refused before it runs: not an i386 Windows GUI program, or it imports
       a function the simulated machine does not provide (the message says which)
  68   the --exe program went wrong while it ran: a fault, an instruction an 80386 lacks, a bound
       passed (the message names the address and the instruction; the report shows what happened)
  70   the simulated machine met a call it does not model
  73   the output folder exists and is not empty, lies inside the image, or cannot be written
  130  interrupted with Ctrl-C)";

void Fail(const std::string& message) { std::cerr << "rk514-sandbox: " << message << "\n"; }

// A file-system error as a person reads it: what failed, why, and where.
std::string Described(const fs::filesystem_error& e) {
  std::string text = e.code().message();
  if (!e.path1().empty()) text += ": " + e.path1().string();
  return text;
}

struct Options {
  std::string image, sample, release, answerList, out, exe;
  bool answersGiven = false;
  bool json = false;
};

// ---- 1. The command line. An exit code when the run ends here (help, version, a usage error).
std::optional<int> ParseCommandLine(int argc, char** argv, Options& options) {
  CLI::App app{
      "Runs the ZANTEROVA Karsenby RK514 uninstaller on a copy of a Windows 95/98 machine image\n"
      "and reports what it removed, what waits for the next start of Windows and what is still there.",
      "rk514-sandbox"};
  app.footer(kFooter);
  app.set_version_flag("--version", std::string("rk514-sandbox ") + RK514_VERSION);
  auto* imageOption = app.add_option("--image", options.image,
                                     "machine image folder (registry.reg, drives/, attributes.txt, machine.ini; "
                                     "see docs/machine-image.md)");
  app.add_option("--sample", options.sample, "a bundled sample machine instead: win95 or win98 (the default)")
      ->check(CLI::IsMember({"win95", "win98"}))
      ->excludes(imageOption);
  app.add_option("--release", options.release, "the Windows build to report: win95 (950), win95osr2, win98, win98se")
      ->check(CLI::IsMember({"win95", "win95osr2", "win98", "win98se"}));
  app.add_option("--answers", options.answerList,
                 "answer the dialogs from this list instead of the terminal, e.g. ok,no");
  app.add_option("--exe", options.exe,
                 "run this KB47UNIN.EXE, emulated, instead of the uninstaller built into the sandbox");
  app.add_flag("--json", options.json, "print the report as JSON");
  app.add_option("--out", options.out,
                 "keep the machine after the run in this folder (new or empty, outside the image)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    Fail(std::string(e.what()) + " (see --help)");
    return kUsageError;
  }
  options.answersGiven = app.count("--answers") > 0;
  return std::nullopt;
}

// ---- 2. Loading: the answers, the image (refused with the reason when it is not one) and the
// output folder, all checked before anything runs.
struct Loaded {
  fs::path imageDir;
  std::vector<sandbox::Answer> answers;
  std::optional<sim::Machine> machine;
  std::optional<sandbox::GivenProgram> given;  // --exe
};

// Why dir is not a machine image, or "".
std::string ImageProblem(const fs::path& dir) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return "no such machine image folder";
  if (!fs::is_regular_file(dir / "registry.reg", ec))
    return "not a machine image: it has no registry.reg (the registry, exported in the REGEDIT4 format)";
  if (!fs::is_directory(dir / "drives", ec))
    return "not a machine image: it has no drives/ folder (the files, drives/C/...)";
  std::ifstream reg(dir / "registry.reg", std::ios::binary);
  char start[2] = {};
  reg.read(start, 2);
  if ((start[0] == '\xFF' && start[1] == '\xFE') || (start[0] == '\xFE' && start[1] == '\xFF') ||
      (reg.gcount() == 2 && (start[0] == '\0' || start[1] == '\0')))
    return "registry.reg is a UTF-16 (Unicode) export; the image needs the REGEDIT4 format: export it with Windows "
           "98's regedit, or as \"Win9x/NT4 Registration Files (*.reg)\" on later Windows (see docs/machine-image.md)";
  return "";
}

// Why the machine after the run cannot go to out, or "".
std::string OutputProblem(const fs::path& out, const fs::path& imageDir) {
  std::error_code ec, imageError;
  const fs::path target = fs::weakly_canonical(fs::absolute(out), ec);
  const fs::path image = fs::weakly_canonical(fs::absolute(imageDir), imageError);
  if (!ec && !imageError &&
      std::mismatch(image.begin(), image.end(), target.begin(), target.end()).first == image.end())
    return "lies inside the machine image " + image.string() + "; the machine after the run goes outside it";
  if (fs::exists(out, ec) && (!fs::is_directory(out, ec) || !fs::is_empty(out, ec)))
    return "exists and is not an empty folder; the machine after the run goes to a new or empty one";
  return "";
}

std::optional<int> Load(const Options& options, Loaded& loaded) {
  // The answers are read first: a list that cannot be right fails before anything runs.
  if (options.answersGiven) {
    try {
      loaded.answers = sandbox::ParseAnswers(options.answerList);
    } catch (const sandbox::AnswerError& e) {
      Fail(e.what());
      return kAnswerError;
    }
  }
  const std::string sample = options.sample.empty() ? "win98" : options.sample;
  loaded.imageDir = options.image.empty() ? fs::path(RK514_SAMPLES_DIR) / sample : fs::path(options.image);
  if (std::string problem = ImageProblem(loaded.imageDir); !problem.empty()) {
    Fail(loaded.imageDir.string() + ": " + problem);
    return kImageError;
  }
  if (!options.out.empty()) {
    if (std::string problem = OutputProblem(options.out, loaded.imageDir); !problem.empty()) {
      Fail("--out " + options.out + ": " + problem);
      return kOutputError;
    }
  }
  try {
    loaded.machine.emplace(sim::Machine::LoadImage(loaded.imageDir));
  } catch (const sim::ImageError& e) {
    Fail("machine image " + loaded.imageDir.string() + ": " + e.what());
    return kImageError;
  } catch (const fs::filesystem_error& e) {
    Fail("machine image " + loaded.imageDir.string() + ": cannot be read: " + Described(e));
    return kImageError;
  }
  if (!options.release.empty()) loaded.machine->buildNumber = kReleases.at(options.release);
  if (!options.exe.empty()) {
    try {
      loaded.given = sandbox::LoadGivenProgram(options.exe);
    } catch (const emu::Refused& e) {
      Fail("--exe " + options.exe + ": refused: " + e.what());
      return kExeRefused;
    }
  }
  return std::nullopt;
}

// ---- 3. Running the program on a copy of the loaded machine, its windows answered from the list
// or at the terminal. A run that does not go as answered still has a transcript and a machine.
struct Outcome {
  sandbox::ProgramRun run;
  bool ended = false;  // WinMain returned
  std::vector<sandbox::Shown> shown;
  std::string error;
  int errorExit = 0;
};

Outcome RunProgram(const Options& options, const Loaded& loaded, sim::Machine& machine) {
  Outcome outcome;
  const std::vector<sandbox::Answer>& answers = loaded.answers;
  auto run = [&](sim::User& user) {
    return loaded.given ? sandbox::RunGivenProgram(machine, user, *loaded.given)
                        : sandbox::RunUninstaller(machine, user);
  };
  std::unique_ptr<sandbox::SandboxUser> user;
  try {
    if (options.answersGiven) {
      auto answered = std::make_unique<sandbox::AnswersUser>(answers, machine.ui());
      sandbox::AnswersUser& list = *answered;
      user = std::move(answered);
      outcome.run = run(list);
      outcome.ended = true;
      list.CheckAllUsed();
    } else {
      std::string error;
      std::unique_ptr<sandbox::TerminalUser> person = sandbox::TerminalUser::Open(machine.ui(), error);
      if (!person) {
        outcome.error = error;
        outcome.errorExit = kUsageError;
        return outcome;
      }
      sandbox::TerminalUser& terminal = *person;
      user = std::move(person);
      outcome.run = run(terminal);
      outcome.ended = true;
      terminal.Close();
    }
  } catch (const sandbox::AnswerError& e) {
    outcome.error = e.what();
    outcome.errorExit = kAnswerError;
  } catch (const sim::Unanswered& e) {
    outcome.error = std::string("a window was left unanswered: ") + e.what();
    outcome.errorExit = kAnswerError;
  } catch (const sandbox::Interrupted& e) {
    outcome.error = e.what();
    outcome.errorExit = kInterrupted;
  } catch (const sim::Unmodelled& e) {
    outcome.error = std::string("the simulated machine does not model this: ") + e.what();
    outcome.errorExit = kModelError;
  } catch (const emu::GuestFailure& e) {
    // One line, for the report as for standard error.
    char address[16];
    std::snprintf(address, sizeof address, "0x%08X", static_cast<unsigned>(e.address));
    outcome.error = "the program went wrong: " + e.reason + ", at " + address + " (" +
                    (e.instruction.empty() ? "no instruction there" : e.instruction) + "); the last imports called:";
    for (const std::string& name : e.lastImports) outcome.error += " " + name;
    if (e.lastImports.empty()) outcome.error += " none";
    outcome.errorExit = kExeFailed;
  }
  if (user) outcome.shown = user->Transcript();
  outcome.run.removalRan = loaded.given ? sandbox::RemovalRanIn(machine.trace()) : sandbox::RemovalRan();
  return outcome;
}

// ---- 4. The report, after the machine is kept (with --out) when the run went as answered.
int WidthOfTerminal() {
  winsize size{};
  if (isatty(STDOUT_FILENO) == 0 || ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

int Report(const Options& options, const Loaded& loaded, sim::Machine& machine, const Outcome& outcome) {
  // Ctrl-C, a machine that the simulator cannot follow or no terminal: nothing to report.
  if (outcome.errorExit != 0 && outcome.errorExit != kAnswerError && outcome.errorExit != kExeFailed) {
    Fail(outcome.error);
    return outcome.errorExit;
  }
  sandbox::RunFacts facts;
  facts.image = fs::absolute(loaded.imageDir).lexically_normal().string();
  if (loaded.given) facts.program = sandbox::ProgramFile{loaded.given->path, loaded.given->size, loaded.given->sha256};
  std::string outputError;
  if (outcome.errorExit == 0 && !options.out.empty()) {
    try {
      machine.SaveImage(options.out);
      facts.output = fs::absolute(options.out).lexically_normal().string();
    } catch (const fs::filesystem_error& e) {
      outputError = "--out " + options.out + ": the machine after the run cannot be written: " + Described(e);
    } catch (const std::exception& e) {
      outputError = "--out " + options.out + ": the machine after the run cannot be written: " + e.what();
    }
  }
  facts.shown = outcome.shown;
  if (outcome.ended) facts.exitCode = outcome.run.exitCode;
  facts.restartRequested = !machine.ui().exitWindowsRequests.empty();
  facts.removalRan = outcome.run.removalRan;
  facts.error = outcome.error.empty() ? outputError : outcome.error;
  // What happened is reported whatever went wrong after the run began, then the error.
  const sandbox::Report report = sandbox::BuildReport(*loaded.machine, machine, facts);
  std::cout << (options.json ? sandbox::ReportJson(report) : sandbox::ReportText(report, WidthOfTerminal()))
            << std::flush;
  if (!facts.error.empty()) Fail(facts.error);
  if (!outputError.empty()) return kOutputError;
  return outcome.errorExit;
}

int Run(int argc, char** argv) {
  Options options;
  if (std::optional<int> exit = ParseCommandLine(argc, argv, options)) return *exit;
  Loaded loaded;
  if (std::optional<int> exit = Load(options, loaded)) return *exit;
  sim::Machine machine = *loaded.machine;
  const Outcome outcome = RunProgram(options, loaded, machine);
  return Report(options, loaded, machine, outcome);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const fs::filesystem_error& e) {
    Fail(Described(e));
    return kModelError;
  } catch (const std::exception& e) {
    Fail(e.what());
    return kModelError;
  }
}
