// The random machines: each part of the machine is built from a few choices, the plainest first.
#include "machine_generator.h"

#include <functional>
#include <set>
#include <string_view>
#include <vector>

#include "invariant.h"
#include "product_table.h"
#include "sim/text.h"
#include "simulated_machine.h"
#include "win32.h"

namespace safety {
namespace {

constexpr const char* kPrinter = product::kPrinterName;
using machines::kShellFoldersKey;
constexpr char kPrint[] = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\Print";

// The product's keys, each with its root, and its files and shortcuts.
std::vector<std::string> FixedKeyPaths() {
  std::vector<std::string> paths;
  for (const product::FixedKey& key : product::kFixedKeys) paths.push_back(std::string(key.root) + "\\" + key.path);
  return paths;
}
const std::vector<std::string> kFixedKeys = FixedKeyPaths();
const std::vector<std::string> kSystemFiles(std::begin(product::kSystemFiles), std::end(product::kSystemFiles));
const std::vector<std::string> kDeferredFiles(std::begin(product::kDeferredFiles), std::end(product::kDeferredFiles));
const std::vector<std::string> kShortcuts(std::begin(product::kShortcuts), std::end(product::kShortcuts));

template <typename T>
const T& OneOf(Choices& c, const std::vector<T>& options) {
  return options[c.Index(options.size())];
}

// A rooted path of exactly length characters: components of letter, 40 at most.
std::string PathOfLength(char drive, char letter, std::size_t length) {
  std::string path = std::string(1, drive) + ":\\";
  while (length - path.size() > 41) path += std::string(40, letter) + "\\";
  path += std::string(length - path.size(), letter);
  return path;
}

std::string Number(long n) {
  std::string text = std::to_string(n);
  while (text.size() < 4) text.insert(text.begin(), '0');
  return text;
}

// Concatenated pieces: short texts where the interesting bytes meet each other.
std::string Pieces(Choices& c, const std::vector<std::string>& pieces, int most) {
  std::string text;
  const int count = c.Between(0, most);
  for (int i = 0; i < count; ++i) text += OneOf(c, pieces);
  return text;
}

sim::FileAttributes Attributes(Choices& c, int percent) {
  sim::FileAttributes attributes;
  attributes.readOnly = c.Maybe(percent);
  attributes.inUse = c.Maybe(percent);
  attributes.hidden = c.Maybe(percent);
  return attributes;
}

// ---- Directories.

void Directories(Choices& c, sim::Machine& m) {
  const std::size_t windowsLength =
      c.Maybe(15) ? OneOf(c, std::vector<std::size_t>{229, 230, 241, 247, 248, 254, 255, 259, 260, 275}) : 0;
  if (windowsLength != 0) {
    m.windowsDirectory = PathOfLength('C', 'W', windowsLength);
  } else {
    m.windowsDirectory = OneOf(c, std::vector<std::string>{"C:\\WINDOWS", "C:\\WIN98", "D:\\WINDOWS", "c:\\windows"});
  }
  if (c.Maybe(15)) {
    m.systemDirectory = PathOfLength('C', 'S', OneOf(c, std::vector<std::size_t>{241, 242, 243, 246, 247, 259, 260}));
  } else if (windowsLength > 240 || c.Maybe(10)) {
    m.systemDirectory = OneOf(c, std::vector<std::string>{"C:\\WINDOWS\\SYSTEM", "C:\\SYS", "c:\\windows\\system"});
  } else {
    m.systemDirectory = m.windowsDirectory + "\\SYSTEM";
  }
  m.files.MakeDirectory(m.windowsDirectory);
  m.files.MakeDirectory(m.systemDirectory);
}

// ---- Registry.

void Subtree(Choices& c, sim::Registry& reg, const std::string& path, int depth) {
  const int values = c.Between(0, 3);
  for (int i = 0; i < values; ++i) reg.SetString(path, "Value" + std::to_string(i), "data " + std::to_string(i));
  if (depth <= 0) return;
  const int children = c.Between(0, 3);
  for (int i = 0; i < children; ++i) {
    const std::string child =
        path + "\\" + OneOf(c, std::vector<std::string>{"Sub", "0000", kPrinter, "Default"}) + std::to_string(i);
    reg.CreateKey(child);
    Subtree(c, reg, child, depth - 1);
  }
}

// A key somewhere: sometimes with a long chain of keys beneath it.
void KeyWithContent(Choices& c, sim::Registry& reg, const std::string& path) {
  reg.CreateKey(path);
  reg.SetString(path, "Owner", "setup");
  if (c.Maybe(50)) Subtree(c, reg, path, c.Between(0, 3));
  if (c.Maybe(5)) {
    std::string deep = path;
    for (int i = 0; i < c.Between(10, 40); ++i) deep += "\\Level" + std::to_string(i);
    reg.SetDword(deep, "Depth", 40);
  }
}

sim::RegValue Value(std::uint32_t type, std::string_view bytes) {
  sim::RegValue value;
  value.type = type;
  value.data.assign(bytes.begin(), bytes.end());
  return value;
}

sim::RegValue Description(Choices& c) {
  using namespace std::string_literals;
  const std::string printer = kPrinter;
  const std::vector<std::function<sim::RegValue()>> kinds = {
      [&] { return Value(REG_SZ, printer + '\0'); },
      [&] { return Value(REG_SZ, "HP LaserJet 4\0"s); },
      [&] { return Value(REG_SZ, sim::LowerAscii(printer) + '\0'); },
      [&] { return Value(REG_SZ, printer + " \0"s); },
      [&] { return Value(REG_SZ, " " + printer + '\0'); },
      [&] { return Value(REG_SZ, printer.substr(0, printer.size() - 1) + '\0'); },
      [&] { return Value(REG_SZ, printer + "0\0"s); },
      [&] { return Value(REG_SZ, printer); },             // no NUL
      [&] { return Value(REG_BINARY, printer + '\0'); },  // binary, but it reads as the name
      [&] { return Value(REG_BINARY, printer); },         // binary without a NUL
      [&] { return Value(REG_DWORD, "\x01\x02\x03\x04"s); },
      [&] { return Value(REG_SZ, printer + '\0' + std::string(300, 'x')); },  // more than 260 bytes
      [&] { return Value(REG_SZ, printer + '\0' + std::string(260 - printer.size() - 1, 'y')); },  // exactly 260
      [&] { return Value(REG_SZ, printer + '\0' + std::string(261 - printer.size() - 1, 'y')); },  // 261
      [&] { return Value(REG_SZ, printer + "\0junk\0"s); },
      [&] { return Value(REG_MULTI_SZ, printer + "\0\0"s); },
      [&] { return Value(REG_SZ, ""); },
      [&] { return Value(REG_SZ, "ZANTEROVA-Karsenby RK514\0"s); },  // a hyphen weighs nothing in a sort
      [&] { return Value(REG_SZ, "ZANTEROVA  Karsenby RK514\0"s); },
      [&] { return Value(REG_SZ, printer + "\t\0"s); },
      [&] { return Value(REG_SZ, std::string(300, 'Z') + '\0'); },
  };
  return OneOf(c, kinds)();
}

void InstanceKeys(Choices& c, sim::Registry& reg, const std::string& base, const std::string& valueName,
                  const std::string& otherValueName) {
  const int count = c.Maybe(20) ? c.Between(0, 150) : c.Between(0, 6);
  long number = c.Maybe(30) ? c.Between(1, 120) : 0;
  for (int i = 0; i < count && number <= 9999; ++i) {
    if (i > 0) number += 1 + (c.Maybe(35) ? (c.Maybe(80) ? c.Between(1, 8) : c.Between(9, 130)) : 0);
    const std::string key = base + "\\" + Number(number);
    reg.CreateKey(key);
    if (c.Maybe(90)) {
      const std::string name = OneOf(c, std::vector<std::string>{valueName, sim::UpperAscii(valueName),
                                                                 sim::LowerAscii(valueName), otherValueName, "Desc"});
      reg.SetValue(key, name, Description(c));
    }
    if (c.Maybe(30)) reg.SetString(key, "Driver", "Printer\\" + Number(number));
    if (c.Maybe(15)) Subtree(c, reg, key, 2);
    if (c.Maybe(5)) reg.SetString(key + "\\0000", valueName, kPrinter);  // not an instance key itself
  }
  // Names the walk never forms, with the printer's description.
  for (const char* odd : {"1", "00001", "001", "000A", "0002 "}) {
    if (c.Maybe(6)) reg.SetString(base + "\\" + odd, valueName, kPrinter);
  }
}

void ProductKeys(Choices& c, sim::Registry& reg) {
  for (const std::string& key : kFixedKeys) {
    if (c.Maybe(60)) KeyWithContent(c, reg, key);
    if (c.Maybe(15)) {
      // A sibling whose name comes close.
      const std::string parent = key.substr(0, key.rfind('\\'));
      const std::string name = key.substr(key.rfind('\\') + 1);
      reg.SetString(parent + "\\" +
                        OneOf(c, std::vector<std::string>{name + "0", name + " ", name.substr(0, name.size() - 1),
                                                          name + " (copy)"}),
                    "Owner", "someone else");
    }
  }
  // What other products keep under the same parents.
  if (c.Maybe(50)) {
    const std::string print = kPrint;
    reg.SetString(print + "\\Printers\\HP LaserJet 4", "Port", "LPT1:");
    reg.SetString(print + "\\Environments\\Windows 4.0\\Drivers\\HP LaserJet 4", "Driver", "HPPCL5MS.DRV");
    reg.SetString(print + "\\Monitors\\PJL Language Monitor", "Driver", "PJLMON.DLL");
    reg.SetString("HKEY_CLASSES_ROOT\\CLSID\\{00021400-0000-0000-C000-000000000046}", "", "Desktop");
    reg.SetString("HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\HEWLETT-PACKARDLASERJE1F3C", "DeviceDesc", "HP LaserJet 4");
    reg.SetString(
        "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start "
        "Menu\\&Programs\\Accessories",
        "Order", "1");
  }
}

void ShellFolders(Choices& c, sim::Machine& m) {
  const std::string typical = m.windowsDirectory + "\\Start Menu\\Programs";
  using namespace std::string_literals;
  switch (c.Between(0, 10)) {
    case 0: m.registry.SetString(kShellFoldersKey, "Programs", typical); break;
    case 1: break;  // no shell-folder key
    case 2: m.registry.SetString(kShellFoldersKey, "Desktop", m.windowsDirectory + "\\Desktop"); break;
    case 3: {
      const std::size_t length = OneOf(c, std::vector<std::size_t>{150, 212, 213, 214, 229, 230, 243, 244, 259});
      m.registry.SetString(kShellFoldersKey, "Programs", PathOfLength('C', 'P', length));
      break;
    }
    case 4: m.registry.SetValue(kShellFoldersKey, "Programs", Value(REG_BINARY, typical)); break;
    case 5:
      m.registry.SetValue(kShellFoldersKey, "Programs", Value(REG_SZ, typical + '\0' + std::string(300, 'p')));
      break;
    case 6: m.registry.SetValue(kShellFoldersKey, "Programs", Value(REG_SZ, typical + "\0C:\\OTHER\0"s)); break;
    case 7: m.registry.SetString(kShellFoldersKey, "Programs", sim::LowerAscii(typical)); break;
    case 8: m.registry.SetString(kShellFoldersKey, "Programs", typical + "\\"); break;
    case 9: m.registry.SetString(kShellFoldersKey, "Programs", "D:\\Start Menu\\Programs"); break;
    default: m.registry.SetString(kShellFoldersKey, "Programs", "C:\\"); break;
  }
}

void Registry(Choices& c, sim::Machine& m) {
  sim::Registry& reg = m.registry;
  if (c.Maybe(10)) {
    reg.SetCurrentConfig("0002");
    reg.CreateKey("HKEY_LOCAL_MACHINE\\Config\\0002");
  }
  if (c.Maybe(10)) {
    reg.SetCurrentUser("ANNA");
    reg.CreateKey("HKEY_USERS\\ANNA");
  }
  ProductKeys(c, reg);
  InstanceKeys(c, reg, "HKEY_LOCAL_MACHINE\\Enum\\Root\\printer", "DeviceDesc", "DriverDesc");
  InstanceKeys(c, reg, "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Printer", "DriverDesc",
               "DeviceDesc");
  ShellFolders(c, m);
}

// ---- win.ini.

std::string DeviceValue(Choices& c) {
  const std::vector<std::string> values = {
      "kb47rk,LPT1:",
      "kb47rk,lpt1:",
      "kb47rk,COM1:",
      "kb47rk,FILE:",
      "kb47rk,\\\\SERVER\\QUEUE",
      "kb47rk,\\\\SERVER\\QUEUE,15",
      "a\\b,LPT1:",
      "\\\\SERVER\\QUEUE",
      "kb47rk,",
      "",
      "kb47rk",
      "kb47rk," + std::string(200, 'x'),
      "kb47rk,\\\\S\\" + std::string(200, 'q'),
      std::string(160, 'x') + "\\y,LPT1:",   // the backslash lies beyond what is read
      "a\\" + std::string(160, 'x') + ",p",  // so does the comma
      "\"kb47rk,\\\\S\\Q\"",
      "  kb47rk , LPT1:  ",
      "kb47rk,\\\\S\\" + std::string(137, 'q') + " tail",  // what is read ends in a blank
      "kb47rk,\\\\SERVER\\QUEUE,15,45",
      "kb47rk,LPT1:,15,45",
  };
  return OneOf(c, values);
}

std::string Header(Choices& c, const std::string& name) {
  switch (c.Maybe(20) ? c.Between(1, 6) : 0) {
    case 0: return "[" + name + "]";
    case 1: return "[" + sim::LowerAscii(name) + "]";
    case 2: return "[" + name + " ]";
    case 3: return "[ " + name + "]";
    case 4: return "  [" + name + "]  ";
    case 5: return "[" + name + "]junk]";
    default: return "[" + name;  // no closing bracket: not a header
  }
}

void Section(Choices& c, std::vector<std::string>& lines, const std::string& name) {
  lines.push_back(Header(c, name));
  const int body = c.Between(0, 3);
  for (int i = 0; i < body; ++i) {
    lines.push_back(OneOf(c, std::vector<std::string>{"Copies=1", "ColorMode=1", "", "; comment", "Resolution = 600",
                                                      std::string(kPrinter) + "=kb47rk,LPT1:"}));
  }
}

std::string PrinterKeyLine(Choices& c, const std::string& value) {
  const std::string printer = kPrinter;
  switch (c.Maybe(25) ? c.Between(1, 5) : 0) {
    case 0: return printer + "=" + value;
    case 1: return sim::LowerAscii(printer) + "=" + value;
    case 2: return printer + " = " + value;
    case 3: return printer;  // a key without a value
    case 4: return printer + "0=" + value;
    default: return ";" + printer + "=" + value;
  }
}

std::string JoinLines(Choices& c, const std::vector<std::string>& lines) {
  const int style = c.Maybe(15) ? c.Between(1, 2) : 0;  // CR LF, LF, or mixed
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text += lines[i];
    const bool last = i + 1 == lines.size();
    if (last && c.Maybe(20)) break;  // the last line without a line end
    text += style == 0 || (style == 2 && c.Maybe(50)) ? "\r\n" : "\n";
  }
  return text;
}

void WinIni(Choices& c, sim::Machine& m) {
  const std::string path = m.WinIniPath();
  if (c.Maybe(6)) return;  // no win.ini at all
  if (c.Maybe(2)) {
    m.files.MakeDirectory(path);
    return;
  }
  std::vector<std::string> lines;
  if (c.Maybe(10)) lines.insert(lines.end(), {"; win.ini", "stray=1"});
  // The default printer: another one, the printer, or a name that comes close to its.
  const std::string printer = kPrinter;
  const std::string defaultPrinter =
      c.Maybe(40) ? OneOf(c,
                          std::vector<std::string>{
                              printer + ",kb47rk,LPT1:", printer + ",kb47rk,\\\\SERVER\\QUEUE",
                              sim::LowerAscii(printer) + ",kb47rk,LPT1:", printer + " ,kb47rk,LPT1:", printer,
                              printer + "0,kb47rk,LPT1:", printer + ",kb47rk," + std::string(150, 'p'),
                              printer + std::string(130, ' ') + ",kb47rk,LPT1:"})
                  : "HP LaserJet 4,HPPCL5MS,LPT1:";
  lines.insert(lines.end(), {"[windows]", "device=" + defaultPrinter, ""});

  const std::string device = DeviceValue(c);
  lines.insert(lines.end(), {Header(c, "Devices"), "HP LaserJet 4=HPPCL5MS,LPT1:"});
  if (c.Maybe(80)) lines.push_back(PrinterKeyLine(c, device));
  if (c.Maybe(8)) lines.push_back(PrinterKeyLine(c, DeviceValue(c)));
  lines.push_back("");
  lines.insert(lines.end(), {Header(c, "PrinterPorts"), "HP LaserJet 4=HPPCL5MS,LPT1:,15,45"});
  if (c.Maybe(75)) lines.push_back(PrinterKeyLine(c, device + ",15,45"));
  lines.push_back("");
  if (c.Maybe(8)) {
    lines.insert(lines.end(), {"[Devices]", PrinterKeyLine(c, DeviceValue(c)), ""});
  }
  for (const char* port : {"-LPT1", "-FILE", "-LPT2", "-LPT1:", "-COM1", " -LPT1", "-lpt2"}) {
    const bool plain =
        std::string_view(port) == "-LPT1" || std::string_view(port) == "-FILE" || std::string_view(port) == "-LPT2";
    if (c.Maybe(plain ? 50 : 10)) Section(c, lines, printer + port);
    if (c.Maybe(4)) Section(c, lines, printer + port);  // the same section twice
  }
  lines.insert(lines.end(), {"[HP LaserJet 4-LPT1]", "Copies=1", ""});
  lines.push_back("[fonts]");
  const int fonts = c.Maybe(3) ? c.Between(500, 3000) : c.Between(0, 4);
  for (int i = 0; i < fonts; ++i)
    lines.push_back("Font " + std::to_string(i) + " (TrueType)=FONT" + std::to_string(i) + ".TTF");

  m.files.WriteFile(path, JoinLines(c, lines));
  // The sections named after a network port, as the program will read the port: then they can be
  // hit exactly, or nearly.
  for (const std::string& section : PortSections(m)) {
    if (section.find('\\') == std::string::npos) continue;
    std::vector<std::string> more;
    if (c.Maybe(60)) Section(c, more, section);
    if (c.Maybe(30)) Section(c, more, section + "x");
    if (c.Maybe(20)) Section(c, more, section.substr(0, section.size() - 1));
    if (more.empty()) continue;
    std::string text = *m.files.ReadFile(path);
    if (!text.empty() && text.back() != '\n') text += "\r\n";
    for (const std::string& line : more) text += line + "\r\n";
    m.files.WriteFile(path, text);
  }
  m.files.SetAttributes(path, Attributes(c, 4));
}

// ---- Start menu.

void StartMenu(Choices& c, sim::Machine& m) {
  const std::string group = GroupFolder(m);
  auto fill = [&](const std::string& folder) {
    if (m.files.Exists(folder) && !m.files.IsDirectory(folder)) return;  // (the Programs path may lead here twice)
    m.files.MakeDirectory(folder);
    for (const std::string& name : kShortcuts) {
      if (!c.Maybe(75)) continue;
      const std::string path = folder + "\\" + (c.Maybe(10) ? sim::UpperAscii(name) : name);
      if (m.files.Exists(path)) continue;
      if (c.Maybe(3)) {
        m.files.MakeDirectory(path);
      } else {
        m.files.WriteFile(path, "L", Attributes(c, 4));
      }
    }
    if (c.Maybe(15)) m.files.WriteFile(folder + "\\My notes.txt", "mine");
    if (c.Maybe(5) && !m.files.Exists(folder + "\\Old"))
      m.files.WriteFile(folder + "\\Old\\How do I for RK514.LNK", "L");
    if (c.Maybe(5)) m.files.WriteFile(folder + "\\How do I for RK514.LNK.old", "L");
    if (c.Maybe(3)) m.files.SetAttributes(folder, Attributes(c, 50));
  };
  if (c.Maybe(75)) {
    if (c.Maybe(3)) {
      m.files.WriteFile(group, "not a folder");
    } else {
      fill(group);
    }
  }
  if (c.Maybe(10) && group != "\\ZANTEROVA RK514") fill("C:\\ZANTEROVA RK514");  // a group at the root
  if (c.Maybe(30)) m.files.WriteFile(m.windowsDirectory + "\\Start Menu\\Programs\\Accessories\\Notepad.lnk", "L");
}

// ---- System directory, INF folder, wininit.ini.

void SystemFiles(Choices& c, sim::Machine& m) {
  const std::string& system = m.systemDirectory;
  for (const std::vector<std::string>* names : {&kSystemFiles, &kDeferredFiles}) {
    for (const std::string& name : *names) {
      if (!c.Maybe(70)) continue;
      const std::string path = system + "\\" + (c.Maybe(5) ? sim::LowerAscii(name) : name);
      if (c.Maybe(2)) {
        m.files.MakeDirectory(path);
      } else {
        m.files.WriteFile(path, "MZ " + name, Attributes(c, 4));
      }
    }
  }
  for (const char* other :
       {"KERNEL32.DLL", "HPPCL5MS.DRV", "KB4732.DL_", "KB47RK.DRV.OLD", "KB47RK~1.DRV", "XKB4732.DLL"}) {
    if (c.Maybe(20)) m.files.WriteFile(system + "\\" + other, "MZ other");
  }
}

std::string InfText(Choices& c) {
  using namespace std::string_literals;
  const std::string marker = kMarker;
  switch (c.Between(0, 18)) {
    case 0: return "[Version]\r\nSignature=\"$CHICAGO$\"\r\n\r\n[RK514.Files]\r\nKB47RK.DRV\r\nKB47STAT.EXE\r\n";
    case 1: return "[Version]\r\nSignature=\"$CHICAGO$\"\r\n\r\n[HP.Files]\r\nHPPCL5MS.DRV\r\n";
    case 2: return "[Files]\r\n" + marker;
    case 3: return "[Files]\r\n\x1A " + marker + "\r\n";
    case 4: return sim::LowerAscii(marker) + "\r\n";
    case 5: return marker + ",,,1\r\n";
    case 6: return "\\" + marker + "\r\n";
    case 7: return marker + "=1\r\n";
    case 8: return marker + " = 1\r\n";
    case 9: return marker + "\r\n" + marker + "\r\n";
    case 10: return "";
    case 11: return " \r\n\t\v\f";
    case 12: return std::string(250, 'w') + " " + marker;
    case 13: return std::string(199 - marker.size(), 'x') + marker;
    case 14: return marker + "\0 x"s;
    case 15: return "\t\v\f" + marker + "\f";
    case 16: return "a\r" + marker + "\rb";
    case 17:
      return Pieces(c,
                    {marker, "KB47", "STAT.EXE", " ", "\r\n", "\n", "\t", "\x1A", "\0"s, "x", "=", ",", "\\", "[Files]",
                     sim::LowerAscii(marker), "\r"},
                    30);
    default: return std::string(5000, 'f') + "\r\n" + marker + "\r\n";
  }
}

void InfFolder(Choices& c, sim::Machine& m) {
  if (!c.Maybe(85)) return;
  const std::string folder = m.windowsDirectory + "\\INF";
  m.files.MakeDirectory(folder);
  const int count = c.Maybe(4) ? c.Between(100, 300) : c.Between(0, 8);
  std::set<std::string> used;
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    const std::string name =
        OneOf(c, std::vector<std::string>{"oem" + n + ".inf", "OEM" + n + ".INF", "oem.inf", "oem" + n + ".inf.bak",
                                          "oem" + n + ".infx", "other" + n + ".inf", "oem setup " + n + ".inf",
                                          "Oem" + n + ".Inf"});
    if (!used.insert(sim::UpperAscii(name)).second) continue;
    const std::string path = folder + "\\" + name;
    if (c.Maybe(3)) {
      m.files.WriteFile(path + "\\oem1.inf", "[Files]\r\nKB47STAT.EXE\r\n");  // a folder of that name
      continue;
    }
    m.files.WriteFile(path, InfText(c), Attributes(c, 4));
  }
  if (c.Maybe(50)) {
    const std::string fixed = folder + "\\OTHER\\KARSENBYKBRK514.INF";
    if (c.Maybe(3)) {
      m.files.MakeDirectory(fixed);
    } else {
      m.files.WriteFile(fixed, InfText(c), Attributes(c, 4));
    }
  }
  if (c.Maybe(30)) m.files.WriteFile(folder + "\\OTHER\\HEWLETT-PACKARDHPLJ4.INF", "[Version]\r\n");
}

void Wininit(Choices& c, sim::Machine& m) {
  using namespace std::string_literals;
  const std::string path = m.windowsDirectory + "\\" + (c.Maybe(20) ? "WININIT.INI" : "wininit.ini");
  std::string text;
  switch (c.Between(0, 12)) {
    case 0: return;  // none
    case 1: text = "[rename]\r\nNUL=C:\\WINDOWS\\SYSTEM\\OLD.DLL\r\n"; break;
    case 2: text = "[boot]\r\nx=1\r\n"; break;
    case 3: text = ""; break;
    case 4: text = "[rename]\r\nNUL=C:\\OLD.DLL"; break;
    case 5: text = "[rename]\r\nNUL=C:\\OLD.DLL\r\n\x1A"; break;
    case 6: {
      // A 0x1A before the end: inside a line, between sections, first, twice or as padding.
      const std::string list = "[rename]\r\nx=1\r\n";
      text = OneOf(
          c, std::vector<std::string>{list + "\x1A[boot]\r\n",
                                      "[rename]\r\nNUL=a\x1A"
                                      "b\r\n",
                                      "\x1A" + list, list + "\x1A\x1A", list + std::string(128 - list.size(), '\x1A'),
                                      "[boot]\r\nx=1\r\n\x1A" + list});
      break;
    }
    case 7: text = "[rename]\nNUL=C:\\OLD.DLL\n"; break;
    case 8:
      text = OneOf(c, std::vector<std::string>{"  [Rename]  \r\nNUL=C:\\OLD.DLL\r\n", "\t[rename]\r\n",
                                               "[rename]\r\nx=1\r\n\t[boot]\r\n"});
      break;
    case 9: text = "[rename\r\n"; break;
    case 10:
      text = Pieces(c, {"[rename]", "[boot]", "\r\n", "\n", "NUL=C:\\X.DLL", "\x1A", " ", "\t", "[", "]", "x=1", "\r"},
                    12);
      break;
    case 11:
      text = "[rename]\r\n";
      for (int i = 0; i < 100; ++i) text += "NUL=C:\\OLD" + std::to_string(i) + ".DLL\r\n";
      break;
    default: m.files.MakeDirectory(path); return;
  }
  m.files.WriteFile(path, text, Attributes(c, 6));
}

// Files where a path that lost its directory would land.
void Decoys(Choices& c, sim::Machine& m) {
  const std::vector<std::pair<std::string, std::string>> decoys = {
      {"C:\\KB47RK.DRV", "MZ"},
      {"C:\\wininit.ini", "[boot]\r\n"},
      {"C:\\INF\\oem1.inf", "[Files]\r\nKB47STAT.EXE\r\n"},
      {"C:\\INF\\OTHER\\KARSENBYKBRK514.INF", "[Files]\r\n"},
      {"C:\\SYSTEM\\KB4732.DLL", "MZ"},
  };
  for (const auto& [path, bytes] : decoys) {
    if (c.Maybe(12)) m.files.WriteFile(path, bytes);
  }
}

}  // namespace

sim::Machine RandomMachine(Choices& c) {
  sim::Machine m;
  m.buildNumber = OneOf(c, std::vector<std::uint32_t>{sim::kBuildWin98, sim::kBuildWin95, sim::kBuildWin95Osr2,
                                                      sim::kBuildWin98Se, 0x040003B7, 0xFFFF03B6, 0x00000000});
  Directories(c, m);
  Registry(c, m);
  WinIni(c, m);
  StartMenu(c, m);
  SystemFiles(c, m);
  InfFolder(c, m);
  Wininit(c, m);
  Decoys(c, m);
  return m;
}

namespace {

std::string Escaped(std::string_view bytes, std::size_t limit) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
    const unsigned char ch = static_cast<unsigned char>(bytes[i]);
    if (ch >= 0x20 && ch < 0x7F && ch != '%') {
      text += static_cast<char>(ch);
    } else {
      static const char digits[] = "0123456789ABCDEF";
      text += {'%', digits[ch >> 4], digits[ch & 15]};
    }
  }
  if (bytes.size() > limit) text += "...";
  return text;
}

void DescribeFolder(const sim::FileSystem& files, const std::string& listPath, const std::string& prefix,
                    std::string& out) {
  for (const sim::DirEntry& entry : files.List(listPath)) {
    const std::string path = prefix + "\\" + entry.name;
    const sim::FileAttributes& a = entry.attributes;
    std::string flags = std::string(a.readOnly ? "R" : "-") + (a.hidden ? "H" : "-") + (a.inUse ? "U" : "-");
    if (entry.isDirectory) {
      out += "  dir  " + flags + " " + path + "\n";
      DescribeFolder(files, path, path, out);
    } else {
      out += "  file " + flags + " " + path + " = \"" + Escaped(files.ReadFile(path).value_or(""), 300) + "\" (" +
             std::to_string(entry.size) + " bytes)\n";
    }
  }
}

}  // namespace

std::string Describe(const sim::Machine& m) {
  char build[16];
  std::snprintf(build, sizeof build, "0x%08X", static_cast<unsigned>(m.buildNumber));
  std::string out = std::string("build ") + build + "\nwindows " + m.windowsDirectory + "\nsystem " +
                    m.systemDirectory + "\nconfig " + m.registry.CurrentConfig() + ", user " +
                    m.registry.CurrentUser() + "\n";
  out += m.registry.ExportRegText();
  out += "files:\n";
  for (char drive : m.files.Drives()) {
    const std::string root = std::string(1, drive) + ":";
    DescribeFolder(m.files, root + "\\", root, out);
  }
  return out;
}

}  // namespace safety
