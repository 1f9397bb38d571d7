// pecheck: prints a PE file's machine, subsystem and its version, OS version, size and every
// imported DLL and function, and checks them against what is expected of it.
//
//   pecheck FILE [--allowed LIST] [--machine i386|amd64] [--subsystem gui|console]
//                [--subsystem-version X.Y] [--os-version X.Y] [--max-size BYTES]
//                [--only-386 OBJDUMP]
//
// --only-386 disassembles the file's code with OBJDUMP (i686-w64-mingw32-objdump) and fails on
// every instruction that an 80386 does not have, naming it and its address.
//
// Exit code: 0 when every given expectation holds, 1 when one does not, 2 when the file cannot
// be read as a PE file or the arguments are wrong.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "cpu.h"
#include "pe.h"

namespace {

std::optional<std::string> ReadFile(const std::string& path)
{
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::optional<pecheck::Version> ParseVersion(const std::string& text)
{
  unsigned major = 0, minor = 0;
  char end = 0;
  if (std::sscanf(text.c_str(), "%u.%u%c", &major, &minor, &end) != 2 || major > 0xFFFF ||
      minor > 0xFFFF) {
    return std::nullopt;
  }
  return pecheck::Version{static_cast<std::uint16_t>(major), static_cast<std::uint16_t>(minor)};
}

// The number that an option's word stands for (--machine i386), if it is one of the choices.
std::optional<std::uint16_t> Named(
    const std::string& word, std::initializer_list<std::pair<const char*, std::uint16_t>> choices)
{
  for (const auto& [name, number] : choices) {
    if (word == name) {
      return number;
    }
  }
  return std::nullopt;
}

// What `objdump -d` prints for the file; nothing if it cannot be run or fails.
std::optional<std::string> Disassemble(const std::string& objdump, const std::string& path)
{
  auto quoted = [](const std::string& text) {
    std::string out = "'";
    for (char c : text) {
      out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
  };
  const std::string command = quoted(objdump) + " -d --no-show-raw-insn " + quoted(path) + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return std::nullopt;
  }
  std::string output;
  char chunk[4096];
  for (std::size_t read; (read = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
    output.append(chunk, read);
  }
  const int status = pclose(pipe);
  if (status != 0) {
    std::cerr << "pecheck: " << command << " failed:\n" << output.substr(0, 2000);
    return std::nullopt;
  }
  return output;
}

constexpr const char* kUsage =
    "usage: pecheck FILE [--allowed LIST] [--machine i386|amd64] [--subsystem gui|console] "
    "[--subsystem-version X.Y] [--os-version X.Y] [--max-size BYTES] [--only-386 OBJDUMP]\n"
    "Exit code: 0 when every given expectation holds, 1 when one does not, 2 when the file cannot be\n"
    "read as a PE file or the arguments are wrong.\n";

int Usage(const std::string& problem)
{
  std::cerr << "pecheck: " << problem << "\n" << kUsage;
  return 2;
}

}  // namespace

int main(int argc, char** argv)
{
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string path;
  std::string objdump;
  pecheck::Expectations expected;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg.rfind("--", 0) != 0) {
      if (!path.empty()) {
        return Usage("more than one file given");
      }
      path = arg;
      continue;
    }
    if (i + 1 >= args.size()) {
      return Usage(arg + " needs a value");
    }
    const std::string& value = args[++i];
    if (arg == "--allowed") {
      auto text = ReadFile(value);
      if (!text) {
        return Usage("cannot read the allowed list " + value);
      }
      std::string error;
      expected.allowed = pecheck::ParseAllowedImports(*text, &error);
      if (!expected.allowed) {
        return Usage(value + ": " + error);
      }
    } else if (arg == "--machine") {
      expected.machine =
          Named(value, {{"i386", pecheck::MACHINE_I386}, {"amd64", pecheck::MACHINE_AMD64}});
      if (!expected.machine) {
        return Usage("unknown machine " + value);
      }
    } else if (arg == "--subsystem") {
      expected.subsystem =
          Named(value, {{"gui", pecheck::SUBSYSTEM_GUI}, {"console", pecheck::SUBSYSTEM_CONSOLE}});
      if (!expected.subsystem) {
        return Usage("unknown subsystem " + value);
      }
    } else if (arg == "--subsystem-version" || arg == "--os-version") {
      auto version = ParseVersion(value);
      if (!version) {
        return Usage(arg + " takes X.Y, not " + value);
      }
      (arg == "--os-version" ? expected.osVersion : expected.subsystemVersion) = version;
    } else if (arg == "--max-size") {
      std::size_t used = 0;
      unsigned long long bytes = 0;
      try {
        bytes = std::stoull(value, &used);
      } catch (const std::exception&) {
        used = 0;
      }
      if (used == 0 || used != value.size()) {
        return Usage("--max-size takes a number of bytes, not " + value);
      }
      expected.maxFileSize = bytes;
    } else if (arg == "--only-386") {
      objdump = value;
    } else {
      return Usage("unknown option " + arg);
    }
  }
  if (path.empty()) {
    return Usage("no file given");
  }

  auto bytes = ReadFile(path);
  if (!bytes) {
    std::cerr << "pecheck: " << path << ": cannot be read (is it built?)\n";
    return 2;
  }
  std::string error;
  auto image = pecheck::ReadPe(
      std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()), &error);
  if (!image) {
    std::cerr << "pecheck: " << path << ": " << error << "\n";
    return 2;
  }
  std::cout << path << "\n" << pecheck::Describe(*image);
  std::vector<std::string> problems = pecheck::Check(*image, expected);
  if (!objdump.empty()) {
    auto disassembly = Disassemble(objdump, path);
    if (!disassembly) {
      std::cerr << "pecheck: cannot disassemble " << path << " with " << objdump << "\n";
      return 2;
    }
    if (disassembly->find(":\t") == std::string::npos) {
      std::cerr << "pecheck: " << objdump << " printed no instructions for " << path << "\n";
      return 2;
    }
    for (const std::string& found : pecheck::FindNon386Instructions(*disassembly)) {
      problems.push_back("not an 80386 instruction at " + found);
    }
  }
  for (const std::string& problem : problems) {
    std::cout << "FAIL: " << problem << "\n";
  }
  std::cout << (problems.empty() ? "OK\n" : "");
  return problems.empty() ? 0 : 1;
}
