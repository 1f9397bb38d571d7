// The report of a sandbox run: what the program showed and returned; the product's inventory
// (inventory.h) before the run, after it and after the next start of Windows; from those, what
// the run removed, what waits for the next start, and what is still there with the reason the
// run gives for it; and what else on the machine the run changed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disk.h"
#include "items.h"
#include "reasons.h"
#include "sim/machine.h"
#include "transcript.h"

namespace sandbox {

// The JSON report's format; a change of shape or meaning raises it.
inline constexpr int kReportFormatVersion = 3;

struct Waiting {
  Item item;
  std::string atNextStart;  // what the next start does to it
};

// A program file that ran in place of the built-in code (--exe).
struct ProgramFile {
  std::string path;
  std::uintmax_t size = 0;
  std::string sha256;
};

// What the tool knows of the run besides the machine.
struct RunFacts {
  std::string image;                   // the machine image (or disk) the run started from
  std::optional<DiskSource> disk;      // with --disk: what was found on it, and where
  std::optional<ProgramFile> program;  // the program that ran; none: the built-in code
  std::optional<std::string> output;   // where the machine after the run was written, if kept
  std::vector<Shown> shown;
  std::optional<int> exitCode;  // the uninstaller's, when it ended
  bool restartRequested = false;
  bool removalRan = false;
  std::string error;  // why the run did not go as answered; "" when it did
};

struct Report {
  RunFacts run;
  std::uint32_t buildNumber = 0;
  std::vector<Item> productBeforeRun;  // the inventory of the machine the run started from
  std::vector<Item> productAfterRun;   // ... of the machine after the run: waiting and still there
  // The pieces of the inventory before the run that are gone after it (their values, gone with
  // them, not shown); what else the run removed is among the other changes.
  std::vector<Item> removed;
  std::string wininitPath;
  bool wininitCreated = false;
  std::vector<std::string> wininitLines;  // the lines the run added to wininit.ini
  std::vector<Waiting> waiting;           // the product's pieces that the next start removes
  std::vector<Change> otherChanges;
  std::vector<Remnant> stillThere;
  std::vector<Item> leftAfterNextStart;  // the inventory after the next start of Windows
};

// before: the machine as loaded; after: the same machine after the run, its trace the run's own.
// When the removal did not run, it is run alone on a copy of before, to tell what a confirmed run
// would have kept.
Report BuildReport(const sim::Machine& before, sim::Machine& after, const RunFacts& facts);

// "Windows 98 (4.10.1998)", or the build's numbers alone when it is not a known release.
std::string ReleaseName(std::uint32_t buildNumber);

// The report as text. width > 0 wraps lines longer than it (a terminal's width).
std::string ReportText(const Report& report, int width = 0);
std::string ReportJson(const Report& report);  // the same, as one JSON object

// Text as a terminal may show it: control characters (C0, DEL and C1, raw or UTF-8 encoded) as
// \xNN, every other byte as it is.
std::string EscapeControls(std::string_view text);
// A line cut into lines of at most width columns, after a backslash or at a blank where it can be
// (never inside a name unless one name is wider than the line), a backslash first in a line of
// paths; later lines start with indent blanks.
std::vector<std::string> WrapLine(std::string_view line, int width, int indent, bool paths = false);

}  // namespace sandbox
