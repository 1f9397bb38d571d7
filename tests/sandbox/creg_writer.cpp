// The CREG format, as the libcreg project's document ("Windows 9x Registry File (CREG) format")
// describes it, all numbers little-endian:
//   file header, 32 bytes: "CREG", version 0 (minor) and 1 (major), the file offset of the first
//     data block, a word left 0, the number of data blocks, the version again, 8 zero bytes;
//   the key navigation record "RGKN": its size, the offset of the first key entry (32), the size
//     of the key entries, then 28-byte key entries: 0, the name's hash, -1, the offsets (from
//     the record's start, -1 for none) of the parent, the first subkey and the next sibling, and
//     the key's name entry number and data block number;
//   the data block "RGDB": its size, then the key name entries, each its size, its identifier
//     (name entry number and data block number), its size again, the name's length and the
//     number of values (16 bits each), a zero word, the name, then the values: type, a zero word,
//     the name's length and the data's length (16 bits each), the name, the data.
// Where the document leaves a field open, the form here is the one libcreg reads: the data
// block's header takes 32 bytes, the root key has no name entry (number 0xFFFF in block
// 0xFFFF), and the navigation record ends in 32 spare bytes, without which libcreg does not
// reach the last key entries. Every file the tests write is read back through libcreg.
#include "creg_writer.h"

#include <stdexcept>
#include <vector>

namespace sandbox_test {
namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFF;
constexpr std::uint32_t kEntrySize = 28;
constexpr std::uint32_t kNavigationHeader = 32;

void Put(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(i < 8 ? value >> (8 * i) & 0xFF : 0);
}
void PutAt(std::string& out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i) & 0xFF);
}

// The sum of the upper-cased name's characters below 0x80.
std::uint32_t Hash(const std::string& name) {
  std::uint32_t hash = 0;
  for (unsigned char c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
    if (c < 0x80) hash += c;
  }
  return hash;
}

std::uint16_t Short(std::size_t size, const char* what) {
  if (size > 0xFFFF) throw std::runtime_error(std::string(what) + " longer than the format's 65,535 bytes");
  return static_cast<std::uint16_t>(size);
}

struct Flat {
  const sim::RegKey* key;
  std::uint32_t parent = kNone, child = kNone, next = kNone;
};

std::uint32_t Offset(std::uint32_t index) { return index == kNone ? kNone : kNavigationHeader + index * kEntrySize; }

std::uint32_t Flatten(const sim::RegKey& key, std::uint32_t parent, std::vector<Flat>& keys) {
  const auto index = static_cast<std::uint32_t>(keys.size());
  if (index >= 0xFFFF) throw std::runtime_error("more keys than the format's 65,534 in one data block");
  keys.push_back({&key, parent});
  std::uint32_t previous = kNone;
  for (const auto& [name, subkey] : key.subkeys) {
    const std::uint32_t child = Flatten(subkey, index, keys);
    (previous == kNone ? keys[index].child : keys[previous].next) = child;
    previous = child;
  }
  return index;
}

}  // namespace

std::string CregFile(const sim::RegKey& root) {
  if (!root.values.empty()) throw std::runtime_error("the root key holds values, which the format has no place for");
  std::vector<Flat> keys;
  Flatten(root, kNone, keys);

  std::string navigation = "RGKN";
  Put(navigation, 0, 4);  // its size, below
  Put(navigation, kNavigationHeader, 4);
  Put(navigation, keys.size() * kEntrySize, 4);
  Put(navigation, 0, 16);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const bool isRoot = i == 0;
    Put(navigation, 0, 4);
    Put(navigation, isRoot ? 0 : Hash(keys[i].key->name), 4);
    Put(navigation, kNone, 4);
    Put(navigation, Offset(keys[i].parent), 4);
    Put(navigation, Offset(keys[i].child), 4);
    Put(navigation, Offset(keys[i].next), 4);
    Put(navigation, isRoot ? 0xFFFF : i, 2);  // name entry number
    Put(navigation, isRoot ? 0xFFFF : 0, 2);  // data block number
  }
  Put(navigation, 0, 32);
  PutAt(navigation, 4, static_cast<std::uint32_t>(navigation.size()));

  std::string block = "RGDB";
  Put(block, 0, 28);
  for (std::size_t i = 1; i < keys.size(); ++i) {
    const sim::RegKey& key = *keys[i].key;
    std::string values;
    for (const auto& [name, value] : key.values) {
      Put(values, value.type, 4);
      Put(values, 0, 4);
      Put(values, Short(name.size(), "a value name"), 2);
      Put(values, Short(value.data.size(), "a value"), 2);
      values += name;
      values.append(value.data.begin(), value.data.end());
    }
    const std::size_t size = 20 + key.name.size() + values.size();
    Put(block, size, 4);
    Put(block, i, 4);
    Put(block, size, 4);
    Put(block, Short(key.name.size(), "a key name"), 2);
    Put(block, Short(key.values.size(), "a key's values"), 2);
    Put(block, 0, 4);
    block += key.name + values;
  }
  PutAt(block, 4, static_cast<std::uint32_t>(block.size()));

  std::string file = "CREG";
  Put(file, 0, 2);
  Put(file, 1, 2);
  Put(file, 32 + navigation.size(), 4);
  Put(file, 0, 4);
  Put(file, 1, 4);
  Put(file, 0, 2);
  Put(file, 1, 2);
  Put(file, 0, 8);
  return file + navigation + block;
}

}  // namespace sandbox_test
