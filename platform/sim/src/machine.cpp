// The simulated PC as a whole: a bare Windows 98 machine, its snapshots, the machine that the
// Win32 functions act on, and machine images on the Linux disk.
#include "sim/machine.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "internal.h"

namespace sim {
namespace {

Machine* g_current = nullptr;  // the machine that the Win32 functions act on

constexpr const char* kMachineIni = "machine.ini";

std::string Trim(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string ReadWholeFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw ImageError(file.filename().string() + ": cannot be read");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteWholeFile(const std::filesystem::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw ImageError(file.string() + ": cannot be written");
}

// machine.ini: "key=value" lines, blank lines, ';' comments and an optional [machine] header.
// Every key is optional; a machine image without the file is a bare Windows 98 machine.
void LoadMachineIni(Machine& machine, const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  std::set<std::string, NoCaseLess> seen;
  int number = 0;
  auto fail = [&](const std::string& what) {
    throw ImageError(std::string(kMachineIni) + ":" + std::to_string(number) + ": " + what);
  };
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == ';') continue;
    if (EqualNoCase(trimmed, "[machine]")) continue;
    std::size_t equals = trimmed.find('=');
    if (equals == std::string::npos) fail("expected key=value, found \"" + trimmed + "\"");
    std::string key = Trim(trimmed.substr(0, equals));
    std::string value = Trim(trimmed.substr(equals + 1));
    if (!seen.insert(key).second) fail("\"" + key + "\" is given twice");
    if (EqualNoCase(key, "BuildNumber")) {
      std::string digits = value;
      if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits = digits.substr(2);
      bool valid = !digits.empty() && digits.size() <= 8 &&
                   digits.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
      if (!valid) fail("BuildNumber must be up to 8 hex digits, found \"" + value + "\"");
      machine.buildNumber = static_cast<std::uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
    } else if (EqualNoCase(key, "WindowsDirectory") || EqualNoCase(key, "SystemDirectory")) {
      bool rooted = value.size() >= 3 && value[1] == ':' && value[2] == '\\' &&
                    ((value[0] >= 'A' && value[0] <= 'Z') || (value[0] >= 'a' && value[0] <= 'z'));
      if (!rooted || value.back() == '\\') fail(key + " must be a full path without a trailing backslash, found \"" + value + "\"");
      (EqualNoCase(key, "WindowsDirectory") ? machine.windowsDirectory : machine.systemDirectory) = value;
    } else if (EqualNoCase(key, "CurrentConfig") || EqualNoCase(key, "CurrentUser")) {
      if (value.empty() || value.find('\\') != std::string::npos) fail(key + " must be one key name, found \"" + value + "\"");
      if (EqualNoCase(key, "CurrentConfig")) {
        machine.registry.SetCurrentConfig(value);
      } else {
        machine.registry.SetCurrentUser(value);
      }
    } else {
      fail("unknown key \"" + key + "\"");
    }
  }
}

std::string MachineIniText(const Machine& machine) {
  return "[machine]\r\nBuildNumber=" + Hex(machine.buildNumber) + "\r\nWindowsDirectory=" +
         machine.windowsDirectory + "\r\nSystemDirectory=" + machine.systemDirectory +
         "\r\nCurrentConfig=" + machine.registry.CurrentConfig() +
         "\r\nCurrentUser=" + machine.registry.CurrentUser() + "\r\n";
}

}  // namespace

Machine::Machine()
    : trace_(std::make_unique<Trace>()),
      faults_(std::make_unique<Faults>()),
      ui_(std::make_unique<Ui>()),
      handles_(std::make_unique<Handles>()) {
  files.MakeDirectory(systemDirectory);
}

Machine::Machine(const Machine& other)
    : registry(other.registry),
      files(other.files),
      buildNumber(other.buildNumber),
      windowsDirectory(other.windowsDirectory),
      systemDirectory(other.systemDirectory),
      trace_(std::make_unique<Trace>()),
      faults_(std::make_unique<Faults>()),
      ui_(std::make_unique<Ui>()),
      handles_(std::make_unique<Handles>()) {}

// Takes the other machine's state and keeps this machine's own run: its trace, faults, window
// manager and open handles.
Machine& Machine::operator=(const Machine& other) {
  if (this != &other) {
    registry = other.registry;
    files = other.files;
    buildNumber = other.buildNumber;
    windowsDirectory = other.windowsDirectory;
    systemDirectory = other.systemDirectory;
  }
  return *this;
}

Machine::~Machine() {
  if (g_current == this) g_current = nullptr;
}

bool Machine::SameState(const Machine& other) const {
  return registry == other.registry && files == other.files && buildNumber == other.buildNumber &&
         windowsDirectory == other.windowsDirectory && systemDirectory == other.systemDirectory;
}

// The bare machine first, then each file of the image that is present. Nothing reaches the
// caller unless every file loads.
Machine Machine::LoadImage(const std::filesystem::path& dir) {
  if (!std::filesystem::is_directory(dir)) throw ImageError(dir.string() + ": not a machine image folder");
  Machine machine;
  if (std::filesystem::exists(dir / kMachineIni)) LoadMachineIni(machine, ReadWholeFile(dir / kMachineIni));
  // registry.reg holds the whole registry: a key that it does not list is not there.
  if (std::filesystem::exists(dir / "registry.reg")) {
    machine.registry.Clear();
    machine.registry.LoadRegFile(dir / "registry.reg");
  }
  if (std::filesystem::exists(dir / "drives")) machine.files.LoadDrives(dir / "drives");
  if (std::filesystem::exists(dir / "attributes.txt")) machine.files.LoadAttributes(dir / "attributes.txt");
  return machine;
}

void Machine::SaveImage(const std::filesystem::path& dir) const {
  std::filesystem::create_directories(dir);
  WriteWholeFile(dir / "registry.reg", registry.ExportRegText());
  // The drives are written afresh, so that nothing of an older image in the folder survives.
  std::filesystem::remove_all(dir / "drives");
  files.SaveDrives(dir / "drives");
  WriteWholeFile(dir / "attributes.txt", files.AttributesText());
  WriteWholeFile(dir / kMachineIni, MachineIniText(*this));
}

Machine& Current() {
  if (g_current == nullptr) throw Unmodelled("a Win32 function was called with no simulated machine active");
  return *g_current;
}

Activation::Activation(Machine& machine) : previous_(g_current) { g_current = &machine; }

Activation::~Activation() { g_current = previous_; }

}  // namespace sim
