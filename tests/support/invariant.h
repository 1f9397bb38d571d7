// What a removal may change on a machine, written once: given the machine before a run and after
// it, every difference that the uninstaller had no business making. The rule, in short:
//   - registry: the only keys gone, each with everything beneath it, are the driver's fixed keys
//     (the three later-release ones only on builds above 950) and the numbered instance keys under
//     Enum\Root\printer and Services\Class\Printer whose own DeviceDesc or DriverDesc read as the
//     printer's name; no other key or value differs;
//   - win.ini: the only lines gone are the printer's keys in [Devices] and [PrinterPorts], the
//     lines of the port sections named after the printer's [Devices] value as Windows reads it
//     (cut to 149 characters), and [windows] device= where it names the printer as the default
//     one; every other line keeps its bytes and its place;
//   - files: the only entries gone are the 14 system files, the 4 shortcuts, the group folder,
//     and the marked oem*.inf files (first release) or the one fixed INF file (later releases);
//   - wininit.ini only gains lines at its end (a final 0x1A aside): an optional line end that
//     completes its last line (or follows a 0x1A still in it), then an optional [rename]
//     header, then NUL= entries of the five deferred files in the system directory, each at
//     most once and in their order;
//   - nothing else differs by a byte: no file, folder, key or value appears, no attribute changes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "product_table.h"
#include "sim/machine.h"

namespace safety {

using product::kMarker;
using product::kPrinterName;

// What a run may have failed to read, because a platform call failed under an injected fault. The
// program then goes on with an empty value, which can select another branch than the machine's
// state does; each flag adds what that branch may remove.
struct Allowance {
  bool buildUnknown = false;     // GetVersionExA failed: the build reads as 0, a first release
  bool programsUnknown = false;  // the Programs folder was not read: the group at the drive's root
  bool deviceUnknown = false;    // the [Devices] value was not read: the three local-port sections
  // wininit.ini could not be read to its end (an open, a read or ftell failed): the program then
  // starts its lines with a line end, which may leave a blank line where the file already ended
  // with one.
  bool renameListUnread = false;
};

// What a failed call of op may leave the program not knowing.
Allowance AllowanceForFailing(const std::string& op);

// Every difference between before and after that breaks the rule; empty when the run kept it.
std::vector<std::string> InvariantViolations(const sim::Machine& before, const sim::Machine& after,
                                             const Allowance& allowance = {});

// Registry data that a 260-byte read copies whole and that, up to its first NUL, is the
// printer's name (whatever the value's type says).
bool ReadsAsPrinterName(const sim::RegValue& value);

// Where the first whole-word marker in text ends (the offset just past its last character), or
// npos when there is none; words stand between white space (space, tab, line feed, vertical tab,
// form feed, carriage return).
std::size_t MarkerEnd(std::string_view text);

// Whether a file's bytes, read in text mode (a 0x1A ends them), hold the marker as a whole word.
bool HoldsMarker(std::string_view bytes);

// The instance-key number that the walk forms as this key name (0000 to 9999, then 10000 and up
// written in full), or -1 for a name that it never forms ("1", "00001", "000A").
long WalkNumber(std::string_view keyName);

// The port sections that the profile stage removes for this machine's [Devices] value, as
// Windows reads it.
std::vector<std::string> PortSections(const sim::Machine& machine, bool deviceUnknown = false);

// Whether [windows] device=, as Windows reads it (cut to 149 characters), names the printer as
// the default one: its text before the first comma is the printer's name, letter case aside.
bool DefaultPrinterIsThePrinter(const sim::Machine& machine);

// Where the Start-menu group is looked for: the Programs path read whole, plus "\ZANTEROVA RK514"
// (at the root of the current drive when the path is missing or not read whole).
std::string GroupFolder(const sim::Machine& machine);

}  // namespace safety
