// probe.exe SCENARIO OUT: writes the state that the uninstaller acts on, as the running Windows
// (a Wine prefix) reports it through the Win32 API, to the dump file OUT: the keys and values
// under the product's paths and the instance lists, the win.ini entries, the product's files and
// folders and wininit.ini's exact bytes, plus whatever the scenario seeded besides.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "state_dump.h"
#include "wine_common.h"

namespace {

class Win32View : public machines::MachineView {
 public:
  std::uint16_t Build() override {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) return 0;
    return static_cast<std::uint16_t>(info.dwBuildNumber & 0xFFFF);
  }
  std::string WindowsDirectory() override { return folders_.windows; }
  std::string SystemDirectory() override { return folders_.system; }
  std::string ProgramsDirectory() override { return folders_.programs; }

  bool KeyExists(const std::string& root, const std::string& path) override {
    HKEY key = Open(root, path);
    if (!key) return false;
    RegCloseKey(key);
    return true;
  }

  std::vector<std::string> Subkeys(const std::string& root, const std::string& path) override {
    std::vector<std::string> names;
    HKEY key = Open(root, path);
    if (!key) return names;
    for (DWORD index = 0;; ++index) {
      char name[1024];
      DWORD size = sizeof name;
      if (RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.emplace_back(name, size);
    }
    RegCloseKey(key);
    return names;
  }

  std::vector<std::pair<std::string, RegData>> Values(const std::string& root, const std::string& path) override {
    std::vector<std::pair<std::string, RegData>> values;
    HKEY key = Open(root, path);
    if (!key) return values;
    for (DWORD index = 0;; ++index) {
      char name[1024];
      DWORD nameSize = sizeof name;
      std::vector<BYTE> data(65536);
      DWORD dataSize = static_cast<DWORD>(data.size());
      DWORD type = 0;
      if (RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data.data(), &dataSize) != ERROR_SUCCESS) break;
      values.push_back(
          {std::string(name, nameSize), RegData{type, std::string(reinterpret_cast<char*>(data.data()), dataSize)}});
    }
    RegCloseKey(key);
    return values;
  }

  // GetProfileStringA with no key lists the section's keys, each NUL-ended, then one more NUL.
  std::vector<std::string> ProfileKeys(const std::string& section) override {
    std::vector<char> buffer(65536);
    DWORD length = GetProfileStringA(section.c_str(), nullptr, "", buffer.data(), static_cast<DWORD>(buffer.size()));
    std::vector<std::string> keys;
    for (DWORD at = 0; at < length && buffer[at];) {
      std::string key(buffer.data() + at);
      at += static_cast<DWORD>(key.size()) + 1;
      keys.push_back(key);
    }
    return keys;
  }

  std::optional<std::string> ProfileValue(const std::string& section, const std::string& key) override {
    return machines::ProfileValueThrough(GetProfileStringA, section, key);
  }

  std::vector<Entry> Find(const std::string& folder, const std::string& pattern) override {
    std::vector<Entry> entries;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((folder + "\\" + pattern).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return entries;
    do {
      entries.push_back({data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileA(search, &data));
    FindClose(search);
    return entries;
  }

  std::optional<std::string> ReadFile(const std::string& path) override {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
  }

 private:
  HKEY Open(const std::string& root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(wine::RootHandle(root), path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
    return key;
  }

  wine::Folders folders_ = wine::Folders::OfThisMachine();
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: probe.exe SCENARIO OUT\n");
    return 2;
  }
  machines::Scenario scenario;
  if (!machines::LoadScenarioOrSay("probe", argv[1], scenario)) return 2;
  Win32View view;
  machines::StateDump dump = machines::DumpState(view, machines::WatchFor(scenario));
  std::ofstream out(argv[2], std::ios::binary);
  out << dump.Text();
  if (!out.flush()) {
    std::fprintf(stderr, "probe: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
