// rk514-sandbox: runs the uninstaller's own code (or, with --exe, a given KB47UNIN.EXE on an
// emulated x86) on a copy of a machine image, shows its dialogs in the terminal (or answers them
// from --answers), and reports what changed and what of the product is still there. Run goes in
// four steps: the command line, loading the image (and the --exe file), running the program, and
// the report (with the machine after the run written to --out).
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <utility>

#include <CLI/CLI.hpp>

#include "answers.h"
#include "disk.h"
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
constexpr int kReportError = 74;   // the report cannot be written to standard output
constexpr int kInterrupted = 130;  // Ctrl-C at the terminal, or SIGINT; SIGTERM is 128 + 15

int ExitForSignal(int signalNumber) { return signalNumber == 0 ? kInterrupted : 128 + signalNumber; }

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
  64   usage: an unknown option, release or --answers word, conflicting options, an empty
       --image, no terminal
  65   the machine image or disk is missing or malformed (the message names the file)
  66   the --answers list does not fit the dialogs shown (the report shows what happened)
  67   the --exe file is refused before it runs: not an i386 Windows GUI program, or it imports
       a function the simulated machine does not provide (the message says which)
  68   the --exe program went wrong while it ran: a fault, an instruction an 80386 lacks, a bound
       passed (the message names the address and the instruction; the report shows what happened)
  70   the simulated machine met a call it does not model
  73   the output folder exists and is not empty, lies inside the image, or cannot be written
       (nothing of it is left behind)
  74   the report cannot be written to standard output (closed, or a full disk)
  130  interrupted with Ctrl-C or SIGINT; 143: SIGTERM (nothing of --out is left behind))";

void Fail(const std::string& message) { std::cerr << "rk514-sandbox: " << message << "\n"; }

// ---- Signals. SIGINT and SIGTERM end the run at once with a message, unless the terminal is
// taken or the machine is being saved: then the handler only notes the signal, and the run stops
// at its next step, once the terminal is given back or what was saved is removed.
volatile std::sig_atomic_t g_signalsWait = 0;

extern "C" void OnStopSignal(int signalNumber) {
  sandbox::g_stopSignal = signalNumber;
  if (g_signalsWait != 0) return;
  const char* text = signalNumber == SIGINT ? "rk514-sandbox: interrupted (SIGINT)\n" : "rk514-sandbox: terminated (SIGTERM)\n";
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, std::strlen(text));
  ::_exit(128 + signalNumber);
}

// While one lives, a signal waits for the run to stop itself.
struct SignalsWait {
  SignalsWait() { g_signalsWait = 1; }
  ~SignalsWait() { g_signalsWait = 0; }
  SignalsWait(const SignalsWait&) = delete;
  SignalsWait& operator=(const SignalsWait&) = delete;
};

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a wait for a key ends, so that the run can stop
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A reader that went away (| head) is a report that cannot be written: EPIPE, not a silent end.
  std::signal(SIGPIPE, SIG_IGN);
}

// Standard input, output and error that are closed are given /dev/null, so that no file the
// run opens takes their numbers; true when standard output was closed.
bool StandardOutputWasClosed() {
  bool outputClosed = false;
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == STDOUT_FILENO) outputClosed = true;
    const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
  return outputClosed;
}

// Writes all of text to standard output; 0, or the system's error.
int WriteToStandardOutput(std::string_view text) {
  std::cout.flush();
  while (!text.empty()) {
    const ssize_t put = ::write(STDOUT_FILENO, text.data(), text.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    text.remove_prefix(static_cast<std::size_t>(put));
  }
  return 0;
}

// A file-system error as a person reads it: what failed, why, and where.
std::string Described(const fs::filesystem_error& e) {
  std::string text = e.code().message();
  if (!e.path1().empty()) text += ": " + e.path1().string();
  return text;
}

struct Options {
  std::string image, sample, release, answerList, out, exe;
  sandbox::DiskRequest disk;
  bool answersGiven = false;
  bool imageGiven = false;
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
  auto* sampleOption =
      app.add_option("--sample", options.sample, "a bundled sample machine instead: win95 or win98 (the default)")
          ->check(CLI::IsMember({"win95", "win98"}))
          ->excludes(imageOption);
  auto* diskOption = app.add_option("--disk", options.disk.path,
                                    "a Windows 95/98 disk instead, read-only: a raw disk image (MBR, FAT16 or FAT32 "
                                    "partitions), a FAT volume image, or a folder holding a copy of drive C:")
                         ->excludes(imageOption)
                         ->excludes(sampleOption);
  app.add_option("--partition", options.disk.partition,
                 "with --disk: the partition to use, 1 for the first one of the partition table (default: the one "
                 "holding the Windows directory)")
      ->needs(diskOption);
  app.add_option("--user", options.disk.user,
                 "with --disk: the user profile that HKEY_CURRENT_USER is (default: .DEFAULT)")
      ->needs(diskOption);
  app.add_option("--release", options.release, "the Windows build to report: win95 (950), win95osr2, win98, win98se")
      ->check(CLI::IsMember({"win95", "win95osr2", "win98", "win98se"}));
  app.add_option("--answers", options.answerList,
                 "answer the dialogs from this list instead of the terminal, e.g. ok,no");
  app.add_option("--exe", options.exe,
                 "run this KB47UNIN.EXE, emulated, instead of the uninstaller built into the sandbox");
  app.add_flag("--json", options.json, "print the report as JSON");
  app.add_option("--out", options.out,
                 "keep the machine after the run in this folder (new or empty, in a folder that exists, outside "
                 "the image); it appears whole or not at all");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    Fail(std::string(e.what()) + " (see --help)");
    return kUsageError;
  }
  options.answersGiven = app.count("--answers") > 0;
  options.imageGiven = app.count("--image") > 0;
  if (options.imageGiven && options.image.empty()) {
    Fail("--image: the path is empty; give the machine image folder (see --help)");
    return kUsageError;
  }
  if (app.count("--out") > 0 && options.out.empty()) {
    Fail("--out: the path is empty; give the folder for the machine after the run (see --help)");
    return kUsageError;
  }
  return std::nullopt;
}

// ---- 2. Loading: the answers, the image (refused with the reason when it is not one) and the
// output folder, all checked before anything runs.
// Where the machine after the run goes: out itself, made whole in a folder beside it and renamed.
struct Output {
  fs::path target;  // absolute
  fs::path parent;  // the folder that holds it
};

struct Loaded {
  fs::path imageDir;
  std::optional<sandbox::DiskSource> disk;
  std::vector<sandbox::Answer> answers;
  std::optional<sim::Machine> machine;
  std::optional<Output> output;
  std::optional<sandbox::GivenProgram> given;  // --exe
};

// Why dir is not a machine image, or "".
std::string ImageProblem(const fs::path& dir) {
  std::error_code ec;
  if (fs::exists(dir, ec) && !fs::is_directory(dir, ec))
    return "a file, not a folder: a machine image is a folder holding registry.reg and drives/ (see "
           "docs/machine-image.md)";
  if (!fs::is_directory(dir, ec)) return "no such machine image folder";
  const fs::file_status regStatus = fs::status(dir / "registry.reg", ec);
  if (!fs::exists(regStatus))
    return "not a machine image: it has no registry.reg (the registry, exported in the REGEDIT4 format)";
  if (!fs::exists(dir / "drives", ec))
    return "not a machine image: it has no drives/ folder (the files, drives/C/...)";
  if (!fs::is_directory(dir / "drives", ec)) return "not a machine image: drives is not a folder (drives/C/...)";
  if (!fs::is_regular_file(regStatus)) return "";  // the loader names what it is instead
  std::ifstream reg(dir / "registry.reg", std::ios::binary);
  char start[2] = {};
  reg.read(start, 2);
  if ((start[0] == '\xFF' && start[1] == '\xFE') || (start[0] == '\xFE' && start[1] == '\xFF') ||
      (reg.gcount() == 2 && (start[0] == '\0' || start[1] == '\0')))
    return "registry.reg is a UTF-16 (Unicode) export; the image needs the REGEDIT4 format: export it with Windows "
           "98's regedit, or as \"Win9x/NT4 Registration Files (*.reg)\" on later Windows (see docs/machine-image.md)";
  return "";
}

// A folder as the system knows it, whatever path leads to it (a link, a bind mount).
using Identity = std::pair<dev_t, ino_t>;

std::optional<Identity> IdentityOf(const fs::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return Identity{info.st_dev, info.st_ino};
}

// Every folder of the image, the image's own included.
void CollectFolders(const fs::path& dir, std::set<Identity>& folders) {
  if (const std::optional<Identity> identity = IdentityOf(dir)) folders.insert(*identity);
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) CollectFolders(it->path(), folders);
  }
}

std::string SystemError(int error) { return std::strerror(error); }

// A folder beside the target, made for writing the machine into: "" and the system's error in
// error when it cannot be made.
fs::path MakeFolderBeside(const Output& output, int& error) {
  std::string pattern = (output.parent / ("." + output.target.filename().string() + ".rk514-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    error = errno;
    return {};
  }
  // mkdtemp makes it for its owner alone; the kept folder gets the modes of any new folder.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::chmod(pattern.c_str(), 0777 & ~mask);
  return pattern;
}

// Where the machine after the run can go, or why it cannot: refused before the first dialog.
std::optional<Output> CheckOutput(const std::string& out, const fs::path& imageDir, std::string& problem) {
  std::error_code ec;
  Output output;
  output.target = fs::absolute(out, ec).lexically_normal();
  if (output.target.filename().empty()) output.target = output.target.parent_path();  // "after/"
  const fs::file_status status = fs::symlink_status(output.target, ec);
  if (fs::is_symlink(status)) {
    if (const fs::path resolved = fs::canonical(output.target, ec); !ec) output.target = resolved;
  }
  output.parent = output.target.parent_path();
  const bool exists = fs::exists(fs::status(output.target, ec));
  // Inside the image is decided by what the folders are, not by how the paths are spelt: the
  // target, or the folder that would hold it, and every folder above, against every folder of
  // the image.
  std::set<Identity> imageFolders;
  CollectFolders(imageDir, imageFolders);
  for (fs::path at = fs::canonical(exists ? output.target : output.parent, ec); !ec && !at.empty();
       at = at.parent_path()) {
    const std::optional<Identity> identity = IdentityOf(at);
    if (identity && imageFolders.count(*identity) != 0) {
      problem = "lies inside the machine image " + fs::absolute(imageDir).lexically_normal().string() +
                " (as " + at.string() + "); the machine after the run goes outside it";
      return std::nullopt;
    }
    if (at == at.root_path()) break;
  }
  if (exists && (!fs::is_directory(output.target, ec) || !fs::is_empty(output.target, ec))) {
    problem = "exists and is not an empty folder; the machine after the run goes to a new or empty one";
    return std::nullopt;
  }
  if (!fs::is_directory(output.parent, ec)) {
    problem = fs::exists(output.parent, ec) ? "cannot be made: " + output.parent.string() + " is not a folder"
                                            : "cannot be made: the folder " + output.parent.string() +
                                                  " that would hold it does not exist";
    return std::nullopt;
  }
  // The folder that the machine is written into is made beside the target: made and removed
  // here, so that a target that cannot be written is known now.
  int error = 0;
  const fs::path probe = MakeFolderBeside(output, error);
  if (probe.empty()) {
    problem = "cannot be written: " + output.parent.string() + ": " + SystemError(error);
    return std::nullopt;
  }
  ::rmdir(probe.c_str());
  return output;
}

// --out, checked before the machine is read: where it can go, or why not (its exit code).
std::optional<int> CheckOutputOf(const Options& options, Loaded& loaded) {
  if (options.out.empty()) return std::nullopt;
  std::string problem;
  loaded.output = CheckOutput(options.out, loaded.imageDir, problem);
  if (loaded.output) return std::nullopt;
  Fail("--out " + options.out + ": " + problem);
  return kOutputError;
}

// --disk: the machine read from the disk, whose path stands for the image in the report.
std::optional<int> LoadFromDisk(const Options& options, Loaded& loaded) {
  loaded.imageDir = options.disk.path;
  if (std::optional<int> refused = CheckOutputOf(options, loaded)) return refused;
  sandbox::DiskSource source;
  try {
    loaded.machine.emplace(sandbox::LoadDisk(options.disk, source));
  } catch (const sim::ImageError& e) {
    Fail("disk " + options.disk.path + ": " + e.what());
    return kImageError;
  } catch (const fs::filesystem_error& e) {
    Fail("disk " + options.disk.path + ": cannot be read: " + Described(e));
    return kImageError;
  }
  if (!options.release.empty()) {
    loaded.machine->buildNumber = kReleases.at(options.release);
    source.releaseFrom += "; --release " + options.release + " reports another build";
  }
  loaded.disk = std::move(source);
  return std::nullopt;
}

std::optional<int> Load(const Options& options, Loaded& loaded) {
  // The answers are read first: a list that cannot be right fails before anything runs.
  if (options.answersGiven) {
    try {
      loaded.answers = sandbox::ParseAnswers(options.answerList);
    } catch (const sandbox::AnswerError& e) {
      Fail(std::string(e.what()) + " (see --help)");
      return kUsageError;  // a word that is not one: the list itself is wrong
    }
  }
  // The program to run, when one is given, next: a file the emulator refuses ends it here.
  if (!options.exe.empty()) {
    try {
      loaded.given = sandbox::LoadGivenProgram(options.exe);
    } catch (const emu::Refused& e) {
      Fail("--exe " + options.exe + ": refused: " + e.what());
      return kExeRefused;
    }
  }
  if (!options.disk.path.empty()) return LoadFromDisk(options, loaded);
  const std::string sample = options.sample.empty() ? "win98" : options.sample;
  loaded.imageDir = options.image.empty() ? fs::path(RK514_SAMPLES_DIR) / sample : fs::path(options.image);
  if (std::string problem = ImageProblem(loaded.imageDir); !problem.empty()) {
    Fail(loaded.imageDir.string() + ": " + problem);
    return kImageError;
  }
  if (std::optional<int> refused = CheckOutputOf(options, loaded)) return refused;
  std::vector<std::string> notes;
  try {
    loaded.machine.emplace(sim::Machine::LoadImage(loaded.imageDir, &notes));
  } catch (const sim::ImageError& e) {
    Fail("machine image " + loaded.imageDir.string() + ": " + e.what());
    return kImageError;
  } catch (const fs::filesystem_error& e) {
    Fail("machine image " + loaded.imageDir.string() + ": cannot be read: " + Described(e));
    return kImageError;
  }
  for (const std::string& note : notes) Fail("warning: machine image " + loaded.imageDir.string() + ": " + note);
  if (!options.release.empty()) loaded.machine->buildNumber = kReleases.at(options.release);
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
      const SignalsWait untilTheTerminalIsBack;
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
    outcome.errorExit = ExitForSignal(e.signal);
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
  user.reset();  // the terminal is given back before a signal that came is acted on
  if (sandbox::g_stopSignal != 0 && outcome.errorExit == 0) {
    outcome.error = sandbox::Interrupted(sandbox::g_stopSignal).what();
    outcome.errorExit = ExitForSignal(sandbox::g_stopSignal);
  }
  outcome.run.removalRan = loaded.given ? sandbox::RemovalRanIn(machine.trace()) : sandbox::RemovalRan();
  return outcome;
}

// Writes the machine into a folder beside the target and renames it into place once every file
// is whole: on a failure or a signal nothing is left. Returns "" or the error; a signal throws
// Interrupted, after the folder is removed.
std::string KeepMachine(const sim::Machine& machine, const Output& output) {
  const SignalsWait untilTheFolderIsGone;
  int error = 0;
  const fs::path folder = MakeFolderBeside(output, error);
  if (folder.empty()) return output.parent.string() + ": " + SystemError(error);
  std::string problem;
  try {
    machine.SaveImage(folder, sandbox::StopIfSignalled);
    sandbox::StopIfSignalled();
    if (::rename(folder.c_str(), output.target.c_str()) != 0)
      problem = output.target.string() + ": cannot be put in place: " + SystemError(errno);
  } catch (const sim::ImageError& e) {
    // The file as it would be named in the kept folder, not in the one that goes.
    problem = e.what();
    if (const std::string prefix = folder.string() + "/"; problem.rfind(prefix, 0) == 0)
      problem.erase(0, prefix.size());
  } catch (const sandbox::Interrupted&) {
    std::error_code ec;
    fs::remove_all(folder, ec);
    throw;
  }
  if (!problem.empty()) {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
  return problem;
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
  facts.disk = loaded.disk;
  if (loaded.given) facts.program = sandbox::ProgramFile{loaded.given->path, loaded.given->size, loaded.given->sha256};
  std::string outputError;
  if (outcome.errorExit == 0 && loaded.output) {
    try {
      if (const std::string problem = KeepMachine(machine, *loaded.output); problem.empty()) {
        facts.output = loaded.output->target.string();
      } else {
        outputError = "--out " + options.out + ": the machine after the run cannot be written, and nothing of it "
                      "is kept: " + problem;
      }
    } catch (const sandbox::Interrupted& e) {
      Fail(std::string(e.what()) + " while the machine after the run was written to --out " + options.out +
           "; nothing of it is kept");
      return ExitForSignal(e.signal);
    }
  }
  facts.shown = outcome.shown;
  if (outcome.ended) facts.exitCode = outcome.run.exitCode;
  facts.restartRequested = !machine.ui().exitWindowsRequests.empty();
  facts.removalRan = outcome.run.removalRan;
  facts.error = outcome.error.empty() ? outputError : outcome.error;
  // What happened is reported whatever went wrong after the run began, then the error.
  const sandbox::Report report = sandbox::BuildReport(*loaded.machine, machine, facts);
  const int writeError =
      WriteToStandardOutput(options.json ? sandbox::ReportJson(report) : sandbox::ReportText(report, WidthOfTerminal()));
  if (!facts.error.empty()) Fail(facts.error);
  if (writeError != 0) {
    Fail("the report cannot be written to standard output: " + SystemError(writeError) +
         (facts.output ? "; the machine after the run is kept in " + *facts.output : std::string()));
    return kReportError;
  }
  if (!outputError.empty()) return kOutputError;
  return outcome.errorExit;
}

int Run(int argc, char** argv) {
  CatchStopSignals();
  if (StandardOutputWasClosed()) {
    Fail("standard output is closed, so the report has nowhere to go: give it a file (> report.txt), or "
         ">/dev/null to run without one");
    return kReportError;
  }
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
