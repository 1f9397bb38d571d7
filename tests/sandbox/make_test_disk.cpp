// The registry files of a test disk: make_test_disk IMAGE_DIR OUT_DIR [USER] writes
// OUT_DIR/SYSTEM.DAT (HKEY_LOCAL_MACHINE) and OUT_DIR/USER.DAT (HKEY_USERS) of the machine image,
// and OUT_DIR/image,
// the same machine as an image again, with what a real disk always has and a scenario may lack:
// the release in the registry (CurrentVersion's VersionNumber, from machine.ini's build) and a
// few files with attributes (NOTEPAD.EXE read-only, TTY.DRV hidden and system). With USER, the
// machine gets a user profile of that name, the current user, whose settings start as a copy of
// .DEFAULT's: its key in ProfileList, its folder WINDOWS\Profiles\USER, and its own registry
// file OUT_DIR/PROFILE.DAT (its USER.DAT). Each registry file is read back with libcreg and must
// give the registry it was written from.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>

#include "creg_writer.h"
#include "hive.h"
#include "sim/machine.h"

namespace {

constexpr char kVersionKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

void Write(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error(file.string() + ": cannot be written");
}

// libcreg's reading of a file written from key must be key again.
void CheckReadBack(const std::string& bytes, const std::string& name, const char* root, const sim::RegKey& key) {
  sim::Registry read;
  read.Clear();
  sandbox::LoadHive(bytes, name, root, read);
  const sim::RegKey& back = std::string(root) == "HKEY_LOCAL_MACHINE" ? read.LocalMachine() : read.Users();
  if (!(back.subkeys == key.subkeys) || !(back.values == key.values))
    throw std::runtime_error(name + ": libcreg reads back another registry than the one written");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: make_test_disk IMAGE_DIR OUT_DIR [USER]\n");
    return 64;
  }
  try {
    const std::filesystem::path out = argv[2];
    sim::Machine machine = sim::Machine::LoadImage(argv[1]);
    if (!machine.registry.GetValue(kVersionKey, "VersionNumber")) {
      char version[32];
      std::snprintf(version, sizeof version, "%u.%02u.%u", machine.buildNumber >> 24,
                    (machine.buildNumber >> 16) & 0xFF, machine.buildNumber & 0xFFFF);
      machine.registry.SetString(kVersionKey, "VersionNumber", version);
    }
    const std::string system = machine.systemDirectory;
    if (machine.files.IsFile(machine.windowsDirectory + "\\NOTEPAD.EXE"))
      machine.files.SetAttributes(machine.windowsDirectory + "\\NOTEPAD.EXE", {.readOnly = true});
    if (machine.files.IsFile(system + "\\TTY.DRV"))
      machine.files.SetAttributes(system + "\\TTY.DRV", {.hidden = true, .system = true});
    sim::RegKey profile;
    if (argc == 4) {
      const std::string user = argv[3], folder = machine.windowsDirectory + "\\Profiles\\" + user;
      machine.registry.SetString(std::string(kVersionKey) + "\\ProfileList\\" + user, "ProfileImagePath", folder);
      machine.files.MakeDirectory(folder);
      machine.registry.CreateKey("HKEY_USERS\\" + user);
      profile = *machine.registry.Find("HKEY_USERS\\.DEFAULT");
      profile.name = user;
      *machine.registry.Find("HKEY_USERS\\" + user) = profile;
      machine.registry.SetCurrentUser(user);
    }
    std::filesystem::create_directories(out);
    std::filesystem::remove_all(out / "image");
    machine.SaveImage(out / "image");
    const std::string systemDat = sandbox_test::CregFile(machine.registry.LocalMachine());
    // USER.DAT holds the users but the profile's, which has a file of its own.
    sim::RegKey users = machine.registry.Users();
    if (argc == 4) users.subkeys.Edit().erase(argv[3]);
    const std::string userDat = sandbox_test::CregFile(users);
    CheckReadBack(systemDat, "SYSTEM.DAT", "HKEY_LOCAL_MACHINE", machine.registry.LocalMachine());
    CheckReadBack(userDat, "USER.DAT", "HKEY_USERS", users);
    Write(out / "SYSTEM.DAT", systemDat);
    Write(out / "USER.DAT", userDat);
    if (argc == 4) {
      const std::string profileDat = sandbox_test::CregFile(profile);
      CheckReadBack(profileDat, "PROFILE.DAT", "HKEY_USERS", profile);
      Write(out / "PROFILE.DAT", profileDat);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_test_disk: %s: %s\n", argv[1], e.what());
    return 70;
  }
  return 0;
}
