// Scenarios in the simulated machine: see simulated_machine.h.
#include "simulated_machine.h"

#include <set>

#include "sim/errors.h"
#include "sim/text.h"
#include "win32.h"

namespace machines {
namespace {

std::string LongRoot(const std::string& shortName) {
  if (shortName == "HKLM") return "HKEY_LOCAL_MACHINE";
  if (shortName == "HKCU") return "HKEY_CURRENT_USER";
  if (shortName == "HKU") return "HKEY_USERS";
  if (shortName == "HKCR") return "HKEY_CLASSES_ROOT";
  if (shortName == "HKCC") return "HKEY_CURRENT_CONFIG";
  throw sim::Unmodelled("no registry root " + shortName);
}

std::string Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return std::string(text);
}

// The lines of an ini file, without their line ends; a 0x1A byte ends the text, as in text mode.
std::vector<std::string> IniLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::string_view text(bytes);
  text = text.substr(0, text.find('\x1A'));
  while (!text.empty()) {
    std::string_view line = NextLine(text);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
  }
  return lines;
}

bool IsSection(const std::string& line, std::string& name) {
  std::string trimmed = Trim(line);
  if (trimmed.size() < 2 || trimmed.front() != '[') return false;
  std::size_t close = trimmed.find(']');
  if (close == std::string::npos) return false;
  name = trimmed.substr(1, close - 1);
  return true;
}

class SimView : public MachineView {
 public:
  explicit SimView(sim::Machine& machine) : machine_(machine), active_(machine) {}

  std::uint16_t Build() override { return static_cast<std::uint16_t>(machine_.buildNumber & 0xFFFF); }
  std::string WindowsDirectory() override { return machine_.windowsDirectory; }
  std::string SystemDirectory() override { return machine_.systemDirectory; }
  std::string ProgramsDirectory() override {
    auto value = machine_.registry.GetValue(kShellFoldersKey, "Programs");
    if (!value || value->type != REG_SZ || value->data.empty() || value->data.back() != 0) return "";
    return std::string(value->data.begin(), value->data.end() - 1);
  }
  bool KeyExists(const std::string& root, const std::string& path) override {
    return machine_.registry.KeyExists(LongRoot(root) + "\\" + path);
  }
  std::vector<std::string> Subkeys(const std::string& root, const std::string& path) override {
    return machine_.registry.SubkeyNames(LongRoot(root) + "\\" + path);
  }
  std::vector<std::pair<std::string, RegData>> Values(const std::string& root, const std::string& path) override {
    const std::string key = LongRoot(root) + "\\" + path;
    std::vector<std::pair<std::string, RegData>> values;
    for (const std::string& name : machine_.registry.ValueNames(key)) {
      auto value = machine_.registry.GetValue(key, name);
      if (value) values.push_back({name, RegData{value->type, std::string(value->data.begin(), value->data.end())}});
    }
    return values;
  }
  // The keys of every [section] of that name in win.ini; their values come from the simulated
  // GetProfileStringA, so that the profile rules are the simulator's own.
  std::vector<std::string> ProfileKeys(const std::string& section) override {
    std::vector<std::string> keys;
    std::set<std::string> seen;
    auto bytes = machine_.files.ReadFile(machine_.WinIniPath());
    if (!bytes) return keys;
    bool inSection = false;
    for (const std::string& line : IniLines(*bytes)) {
      std::string name;
      if (IsSection(line, name)) {
        inSection = sim::UpperAscii(name) == sim::UpperAscii(section);
        continue;
      }
      std::size_t equals = line.find('=');
      if (!inSection || equals == std::string::npos) continue;
      std::string key = Trim(line.substr(0, equals));
      if (!key.empty() && seen.insert(sim::UpperAscii(key)).second) keys.push_back(key);
    }
    return keys;
  }
  std::optional<std::string> ProfileValue(const std::string& section, const std::string& key) override {
    return ProfileValueThrough(GetProfileStringA, section, key);
  }
  std::vector<Entry> Find(const std::string& folder, const std::string& pattern) override {
    std::vector<Entry> entries;
    for (const sim::DirEntry& entry : machine_.files.Find(folder + "\\" + pattern))
      entries.push_back({entry.name, entry.isDirectory});
    return entries;
  }
  std::optional<std::string> ReadFile(const std::string& path) override { return machine_.files.ReadFile(path); }

 private:
  sim::Machine& machine_;
  sim::Activation active_;
};

}  // namespace

sim::Machine MachineFor(const Scenario& scenario) {
  sim::Machine machine;
  machine.buildNumber = scenario.release == "win95" ? sim::kBuildWin95 : sim::kBuildWin98Se;
  machine.files.MakeDirectory(kSimProgramsFolder);
  machine.registry.SetString(kShellFoldersKey, "Programs", kSimProgramsFolder);
  ApplyScenario(scenario, machine);
  return machine;
}

void ApplyScenario(const Scenario& scenario, sim::Machine& machine) {
  for (const RegistryEntry& entry : scenario.registry) {
    const std::string key = LongRoot(entry.root) + "\\" + entry.path;
    if (entry.kind == RegistryEntry::Key) {
      machine.registry.CreateKey(key);
      continue;
    }
    static const std::uint32_t kTypes[] = {REG_NONE, REG_SZ, REG_DWORD, REG_BINARY};
    machine.registry.SetValue(key, entry.name, sim::RegValue{kTypes[entry.kind], entry.data});
  }
  {
    sim::Activation active(machine);
    for (const ProfileEntry& entry : scenario.profile) {
      if (!WriteProfileStringA(entry.section.c_str(), entry.key.c_str(), entry.value.c_str()))
        throw sim::Unmodelled("WriteProfileStringA refused [" + entry.section + "] " + entry.key);
    }
  }
  for (const FileEntry& entry : scenario.files) {
    const std::string path =
        ExpandPath(entry.path, machine.windowsDirectory, machine.systemDirectory, kSimProgramsFolder);
    if (entry.isDirectory) {
      machine.files.MakeDirectory(path);
      continue;
    }
    machine.files.MakeDirectory(path.substr(0, path.rfind('\\')));
    machine.files.WriteFile(path, ExpandContents(entry.bytes, machine.windowsDirectory, machine.systemDirectory));
  }
  machine.trace().Clear();
}

StateDump DumpMachine(sim::Machine& machine, const Watch& watch) {
  SimView view(machine);
  return DumpState(view, watch);
}

void StartWindowsAgain(sim::Machine& machine) {
  const std::string wininit = machine.windowsDirectory + "\\wininit.ini";
  auto bytes = machine.files.ReadFile(wininit);
  if (!bytes) return;
  bool inRename = false;
  for (const std::string& line : IniLines(*bytes)) {
    std::string section;
    if (IsSection(line, section)) {
      inRename = sim::UpperAscii(section) == "RENAME";
      continue;
    }
    std::string trimmed = Trim(line);
    std::size_t equals = trimmed.find('=');
    if (!inRename || trimmed.empty() || trimmed.front() == ';' || equals == std::string::npos) continue;
    const std::string destination = trimmed.substr(0, equals);
    const std::string source = trimmed.substr(equals + 1);
    try {
      if (sim::UpperAscii(destination) == "NUL") {
        machine.files.Delete(source);
        continue;
      }
      auto moved = machine.files.ReadFile(source);
      if (!moved) continue;
      const std::string target =
          destination.find('\\') == std::string::npos ? machine.windowsDirectory + "\\" + destination : destination;
      machine.files.Replace(target, *moved);
      machine.files.Delete(source);
    } catch (const sim::Unmodelled&) {
      continue;  // a path that names no file ("x=1"): there is nothing to delete or move
    }
  }
  machine.files.Replace(machine.windowsDirectory + "\\wininit.bak", *bytes);
  machine.files.Delete(wininit);
}

}  // namespace machines
