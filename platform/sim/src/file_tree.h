// The simulated drives' tree of folders and files, shared by the Win32 meanings (files.cpp) and
// the machine images (image.cpp).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "shortnames.h"
#include "sim/files.h"
#include "sim/text.h"

namespace sim {

struct FileSystem::Node {
  std::string name;       // as created
  std::string shortName;  // generated alias, "" for a valid 8.3 name
  bool isDirectory = false;
  std::string bytes;
  FileAttributes attributes;
  std::uint64_t order = 0;  // key in the parent's entries

  // Folders only.
  std::map<std::uint64_t, std::unique_ptr<Node>> entries;  // creation order
  std::unordered_map<std::string, Node*> index;            // upper-cased long names and aliases
  std::uint64_t nextOrder = 0;
  // Where the search for a free ~N of an alias basis starts: every lower number is taken. A
  // removal may free a lower number, so a hint counts only while no entry has been removed since.
  std::uint64_t removals = 0;
  std::unordered_map<std::string, std::pair<std::uint64_t, int>> aliasHints;
};

using Node = FileSystem::Node;

namespace tree {

struct ParsedPath {
  char drive = 'C';
  std::vector<std::string> parts;
};

// Throws Unmodelled for a name that Windows refuses, "." or "..", or one that ends in a dot or
// a blank; * and ? pass where wildcards are allowed.
void CheckComponent(std::string_view path, std::string_view part, bool wildcards);
// "C:\A\B" or "\A\B" (the current drive, C:); throws Unmodelled for any other form.
ParsedPath Parse(std::string_view path, bool wildcardsInLast = false);
// A path as Windows reads it from a program (see files.cpp): 0, or the error Windows gives.
std::uint32_t Canonical(std::string_view path, ParsedPath& parsed);
Node* Child(const Node& folder, std::string_view name);  // by long name or alias, any letter case
// Adds entry to the folder, with a generated alias unless withAlias is false.
Node* Insert(Node& folder, std::unique_ptr<Node> entry, bool withAlias = true);
std::unique_ptr<Node> NewNode(std::string name, bool isDirectory);
std::string GenerateAlias(Node& folder, std::string_view longName);
// The node a path names as Windows reads it; nullptr when it names nothing on these drives.
const Node* Lookup(const std::map<char, std::unique_ptr<Node>>& drives, std::string_view path);

}  // namespace tree

}  // namespace sim
