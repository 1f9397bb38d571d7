// The report of a sandbox run: what the program showed and returned, a diff of the machine before
// and after (registry keys and values, win.ini sections and keys, files and folders, the new lines
// of wininit.ini), and what of the product is still there, each with the reason the machine shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/machine.h"
#include "transcript.h"

namespace sandbox {

struct ValueRef {
  std::string key, name;
};
struct ProfileKeyRef {
  std::string section, key;
};
struct Change {
  std::string kind;  // "registry key", "registry value", "win.ini section", "win.ini key", "file", "folder"
  std::string path;
  std::string what;  // "added", "changed"
};
struct Remnant {
  std::string kind;  // as Change::kind
  std::string path;
  std::string reason;
};

struct Report {
  std::string image;   // the machine image the run started from
  std::string output;  // where the machine after the run was written
  std::uint32_t buildNumber = 0;
  std::vector<Shown> shown;
  int exitCode = 0;
  bool restartRequested = false;
  bool removalRan = false;

  std::vector<std::string> removedKeys;
  std::vector<ValueRef> removedValues;
  std::vector<std::string> removedSections;
  std::vector<ProfileKeyRef> removedProfileKeys;
  std::vector<std::string> removedFiles;
  std::vector<std::string> removedFolders;
  std::string wininitPath;
  bool wininitCreated = false;
  std::vector<std::string> scheduledLines;  // the lines the run added to wininit.ini
  std::vector<Change> otherChanges;
  std::vector<Remnant> stillThere;
};

struct RunFacts {
  std::string image, output;
  std::vector<Shown> shown;
  int exitCode = 0;
  bool restartRequested = false;
  bool removalRan = false;
};

// before: the machine as loaded; after: the same machine after the run, its trace the run's own;
// dryRun: a copy of before on which RemoveProduct alone ran, its trace that removal's.
Report BuildReport(const sim::Machine& before, sim::Machine& after, sim::Machine& dryRun,
                   const RunFacts& facts);

// "Windows 98 (4.10.1998)", or the build's numbers alone when it is not a known release.
std::string ReleaseName(std::uint32_t buildNumber);

std::string ReportText(const Report& report);
std::string ReportJson(const Report& report);  // the same, as one JSON object

}  // namespace sandbox
