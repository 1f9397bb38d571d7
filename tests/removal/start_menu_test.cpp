// The Start-menu stage: the group's four shortcuts and its folder, found through the user's
// Programs folder.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "installed_machine.h"
#include "removal_test_util.h"
#include "sim/machine.h"
#include "stages.h"

namespace {

using fixtures::kGroupFolder;
using fixtures::kShellFoldersKey;

const std::string kRootGroup = "C:\\ZANTEROVA RK514";
const std::vector<std::string> kFourShortcuts(std::begin(product::kShortcuts), std::end(product::kShortcuts));

void AddGroup(sim::Machine& machine, const std::string& folder, const std::vector<std::string>& names) {
  machine.files.MakeDirectory(folder);
  for (const std::string& name : names) machine.files.WriteFile(folder + "\\" + name, "L");
}

TEST(StartMenuGroup, ShortcutsAndFolder) {
  const std::vector<std::string>& four = kFourShortcuts;
  struct Case {
    const char* what;
    std::function<void(sim::Machine&)> setUp;
    bool groupLeft;                   // the folder in Programs after the stage
    std::vector<std::string> leftIn;  // what is left in it
    bool rootGroupLeft;               // the folder at the root of C:
  } cases[] = {
      {"the four shortcuts", [&](sim::Machine& m) { AddGroup(m, kGroupFolder, four); }, false, {}, true},
      {"the four and a file of the user's",
       [&](sim::Machine& m) {
         AddGroup(m, kGroupFolder, four);
         m.files.WriteFile(std::string(kGroupFolder) + "\\My notes.txt", "x");
       },
       true,
       {"My notes.txt"},
       true},
      {"two of the four",
       [&](sim::Machine& m) {
         AddGroup(m, kGroupFolder, {four[1], four[3]});
       },
       false,
       {},
       true},
      {"no group folder", [](sim::Machine&) {}, false, {}, true},
      {"no Programs value: the root of the current drive",
       [&](sim::Machine& m) {
         AddGroup(m, kGroupFolder, four);
         m.registry.DeleteValue(kShellFoldersKey, "Programs");
       },
       true, four, false},
      {"no shell-folder key",
       [&](sim::Machine& m) {
         AddGroup(m, kGroupFolder, four);
         m.registry.DeleteKey(kShellFoldersKey);
       },
       true, four, false},
      {"a Programs value without its NUL counts as none",
       [&](sim::Machine& m) {
         AddGroup(m, kGroupFolder, four);
         const std::string path = fixtures::kProgramsFolder;
         m.registry.SetValue(kShellFoldersKey, "Programs", sim::RegValue{REG_SZ, {path.begin(), path.end()}});
       },
       true, four, false},
      {"a Programs value too long to read counts as none",
       [&](sim::Machine& m) {
         AddGroup(m, kGroupFolder, four);
         m.registry.SetString(kShellFoldersKey, "Programs", "C:\\" + std::string(300, 'P'));
       },
       true, four, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Machine machine = fixtures::CleanMachine();
    AddGroup(machine, kRootGroup, four);
    c.setUp(machine);
    sim::Activation active(machine);

    RemoveStartMenuGroup();

    EXPECT_EQ(machine.files.IsDirectory(kGroupFolder), c.groupLeft);
    std::vector<std::string> left;
    if (c.groupLeft) {
      for (const sim::DirEntry& entry : machine.files.List(kGroupFolder)) left.push_back(entry.name);
    }
    EXPECT_EQ(left, c.leftIn);
    EXPECT_EQ(machine.files.IsDirectory(kRootGroup), c.rootGroupLeft);
    EXPECT_TRUE(machine.files.Exists(std::string(fixtures::kProgramsFolder) + "\\Accessories\\Notepad.lnk"));
  }
}

// A Programs path of the given length, in folders of at most 100 characters.
std::string LongPrograms(std::size_t length) {
  std::string path = "C:\\WINDOWS\\Start Menu\\Programs";
  while (path.size() < length) path += "\\" + std::string(std::min<std::size_t>(100, length - path.size() - 1), 'p');
  return path;
}

TEST(StartMenuGroup, PathsThatWouldNotFitAreNeverCut) {
  struct Case {
    std::size_t programsLength;
    std::vector<std::string> decoyFiles;  // what a cut path would name, below the Programs folder
    const char* decoyFolder;
    bool groupLeft;
  } cases[] = {
      // 213 + 16 + 30 = 259: the longest shortcut still fits, and everything goes.
      {213, {}, nullptr, false},
      // 230 + 16 = 246: the folder fits, no shortcut does; cut, they would end "\How do I for".
      {230, {"ZANTEROVA RK514\\How do I for", "ZANTEROVA RK514\\Troubleshoot"}, nullptr, true},
      // 250 + 16 > 259: not even the folder fits; cut, it would end "\ZANTEROV".
      {250, {}, "ZANTEROV", false},
      // The same with nothing in the Programs folder: the path left without the group's name
      // names the Programs folder itself, empty, which must stay.
      {250, {}, nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.programsLength);
    sim::Machine machine = fixtures::CleanMachine();
    const std::string programs = LongPrograms(c.programsLength);
    ASSERT_EQ(programs.size(), c.programsLength);
    machine.registry.SetString(kShellFoldersKey, "Programs", programs);
    machine.files.MakeDirectory(programs);
    if (c.programsLength == 213) AddGroup(machine, programs + "\\ZANTEROVA RK514", kFourShortcuts);
    for (const std::string& decoy : c.decoyFiles) machine.files.WriteFile(programs + "\\" + decoy, "x");
    if (c.decoyFolder != nullptr) machine.files.MakeDirectory(programs + "\\" + c.decoyFolder);
    sim::Activation active(machine);

    RemoveStartMenuGroup();

    EXPECT_TRUE(machine.files.IsDirectory(programs));
    EXPECT_EQ(machine.files.Exists(programs + "\\ZANTEROVA RK514"), c.groupLeft);
    for (const std::string& decoy : c.decoyFiles) EXPECT_TRUE(machine.files.Exists(programs + "\\" + decoy)) << decoy;
    if (c.decoyFolder != nullptr) {
      EXPECT_TRUE(machine.files.IsDirectory(programs + "\\" + c.decoyFolder));
    }
  }
}

}  // namespace
