// The report as text: see report.h. Every line goes out through one function, which escapes
// control characters (a key name may hold an ESC sequence that would rewrite the terminal) and,
// for a terminal, wraps long lines at a backslash or a blank rather than inside a name.
#include <algorithm>
#include <cstdio>
#include <map>

#include "layout.h"
#include "report.h"

namespace sandbox {
namespace {

constexpr int kKindColumn = 17;  // "registry value   " and the like

std::string Plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string Padded(const std::string& kind) {
  return kind + std::string(kind.size() < kKindColumn ? kKindColumn - kind.size() : 1, ' ');
}

std::string ShownText(const Shown& shown) {
  if (shown.kind == Shown::MessageBox)
    return "message box \"" + shown.caption + "\": " + (shown.inputs.empty() ? "?" : shown.inputs.front());
  std::string text = "dialog \"" + shown.caption + "\": ";
  if (shown.inputs.empty()) text += shown.closed ? "closed by itself" : "still open";
  for (std::size_t i = 0; i < shown.inputs.size(); ++i) text += (i > 0 ? ", " : "") + shown.inputs[i];
  if (shown.timerMessages > 0)
    text += " (after " + Plural(static_cast<std::size_t>(shown.timerMessages), "timer message", "timer messages") + ")";
  if (shown.closed) text += ", result " + std::to_string(shown.result);
  return text;
}

// "18 registry keys, 2 win.ini sections, 19 files": the kinds in the order they first come.
template <typename T, typename KindOf>
std::string CountsByKind(const std::vector<T>& things, KindOf kindOf) {
  static const std::map<std::string, std::string> kPlurals = {{kRegistryKey, "registry keys"},
                                                              {kRegistryValue, "registry values"},
                                                              {kProfileSection, "win.ini sections"},
                                                              {kProfileKey, "win.ini keys"},
                                                              {kFile, "files"},
                                                              {kFolder, "folders"}};
  std::vector<std::pair<std::string, std::size_t>> counts;
  for (const T& thing : things) {
    const std::string& kind = kindOf(thing);
    auto it = std::find_if(counts.begin(), counts.end(), [&](const auto& count) { return count.first == kind; });
    if (it == counts.end()) counts.emplace_back(kind, 1);
    else ++it->second;
  }
  std::string text;
  for (const auto& [kind, count] : counts) {
    text += (text.empty() ? "" : ", ") +
            (count == 1 ? std::to_string(count) + " " + kind : std::to_string(count) + " " + kPlurals.at(kind));
  }
  return text;
}

class Writer {
 public:
  explicit Writer(int width) : width_(width) {}
  // A line of the machine's text (the tool's own words are ASCII): decoded as the machine's code
  // page. indent: where a wrapped line's continuation starts.
  void Line(std::string_view text = "", int indent = 4, bool paths = false) {
    for (const std::string& piece : WrapLine(MachineText(text), width_, indent, paths)) out_ += piece + "\n";
  }
  // A line that names the Linux side (the image's folder, an error): its UTF-8 kept.
  void HostLine(std::string_view text) {
    for (const std::string& piece : WrapLine(EscapeControls(text), width_, 4, true)) out_ += piece + "\n";
  }
  void ItemLine(const Item& item, int indent = 2) {
    Line(std::string(static_cast<std::size_t>(indent), ' ') + Padded(item.kind) + ItemText(item), indent + kKindColumn,
         true);
  }
  std::string Take() { return std::move(out_); }

 private:
  int width_;
  std::string out_;
};

}  // namespace

std::string ReportText(const Report& report, int width) {
  const RunFacts& run = report.run;
  Writer out(width);
  out.HostLine("ZANTEROVA Karsenby RK514 uninstaller, run on a copy of " + run.image);
  out.HostLine("The program: " + (run.program ? run.program->path + " (" + std::to_string(run.program->size) +
                                                " bytes, SHA-256 " + run.program->sha256 + "), on an emulated x86"
                                          : std::string("the uninstaller built into the sandbox")));
  if (run.disk) {
    const DiskSource& disk = *run.disk;
    out.Line("Disk: " + disk.kind + (disk.partition.empty() ? "" : ", partition " + disk.partition) +
             (disk.fileSystem.empty() ? "" : ", " + disk.fileSystem));
    out.Line("  Windows directory: " + disk.windowsDirectory + ", from " + disk.windowsFrom);
    for (const std::string& hive : disk.hives) out.Line("  Registry: " + hive);
    out.Line("  Release: " + disk.release + ", from " + disk.releaseFrom);
    out.Line("  Configuration: " + disk.configuration + ", " + disk.configurationFrom);
    out.Line("  Current user: " + disk.user + ", " + disk.userFrom);
  }
  out.Line("Windows: " + ReleaseName(report.buildNumber));
  out.HostLine("The machine after the run: " + (run.output          ? *run.output
                                            : run.error.empty() ? "not kept (--out DIR keeps it)"
                                                                : "not written"));
  out.Line();
  out.Line("Shown");
  for (std::size_t i = 0; i < run.shown.size(); ++i)
    out.Line("  " + std::to_string(i + 1) + ". " + ShownText(run.shown[i]));
  if (!run.error.empty()) out.HostLine("Error: " + run.error);
  out.Line();
  out.Line("Exit code: " +
           (run.exitCode ? std::to_string(*run.exitCode) : std::string("none, the program did not end")));
  out.Line(std::string("Restart of Windows asked for: ") + (run.restartRequested ? "yes" : "no"));
  out.Line(std::string("The removal ran: ") + (run.removalRan ? "yes" : "no"));
  out.Line();

  auto kindOf = [](const Item& item) -> const std::string& { return item.kind; };
  if (report.productBeforeRun.empty()) {
    out.Line("The product on the machine before the run: nothing of it");
  } else {
    out.Line("The product on the machine before the run: " + std::to_string(report.productBeforeRun.size()) + " (" +
             CountsByKind(report.productBeforeRun, kindOf) + ")");
    for (const Item& item : report.productBeforeRun) out.ItemLine(item);
  }
  out.Line("After the run: " + std::to_string(report.productAfterRun.size()) + " of it (" +
           std::to_string(report.waiting.size()) + " waiting for the next start of Windows, " +
           std::to_string(report.stillThere.size()) + " still there)");
  out.Line();
  if (report.removed.empty()) {
    out.Line("Removed: nothing");
  } else {
    out.Line("Removed: " + std::to_string(report.removed.size()) + " (" + CountsByKind(report.removed, kindOf) + ")");
    for (const Item& item : report.removed) out.ItemLine(item);
  }
  out.Line();
  if (report.waiting.empty()) {
    out.Line("Waiting for the next start of Windows: nothing of the product");
  } else {
    out.Line("Waiting for the next start of Windows: " + std::to_string(report.waiting.size()) +
             ", which wininit.ini hands to Windows to remove");
    for (const Waiting& waiting : report.waiting) out.ItemLine(waiting.item);
  }
  if (!report.wininitLines.empty()) {
    out.Line("  Added to " + report.wininitPath + (report.wininitCreated ? " (created)" : "") + ": " +
             Plural(report.wininitLines.size(), "line", "lines"));
    for (const std::string& text : report.wininitLines) out.Line("    " + text, 6);
  }
  out.Line();
  if (report.otherChanges.empty()) {
    out.Line("Other changes: none, nothing else on the machine changed");
  } else {
    out.Line("Other changes: " + std::to_string(report.otherChanges.size()));
    for (const Change& change : report.otherChanges) {
      out.Line("  " + Padded(change.item.kind) + ItemText(change.item) + ": " + change.what, 2 + kKindColumn, true);
    }
  }
  out.Line();
  if (report.stillThere.empty()) {
    out.Line("Still there: nothing of the product");
  } else {
    // One line per reason, the pieces it holds for below it, in the order the reasons first come.
    out.Line("Still there: " + std::to_string(report.stillThere.size()));
    std::vector<std::string> reasons;
    for (const Remnant& remnant : report.stillThere) {
      if (std::find(reasons.begin(), reasons.end(), remnant.reason) == reasons.end()) reasons.push_back(remnant.reason);
    }
    for (const std::string& reason : reasons) {
      out.Line("  " + reason);
      for (const Remnant& remnant : report.stillThere) {
        if (remnant.reason == reason) out.ItemLine(remnant.item, 4);
      }
    }
  }
  out.Line();
  std::vector<std::string> left, still;
  for (const Item& item : report.leftAfterNextStart) left.push_back(item.kind + ItemText(item));
  for (const Remnant& remnant : report.stillThere) still.push_back(remnant.item.kind + ItemText(remnant.item));
  std::sort(left.begin(), left.end());
  std::sort(still.begin(), still.end());
  if (report.leftAfterNextStart.empty()) {
    out.Line("After the next start of Windows: nothing of the product is left");
  } else if (left == still) {
    out.Line(left.size() == 1 ? std::string("After the next start of Windows: the 1 still there above is left")
                              : "After the next start of Windows: the " + std::to_string(left.size()) +
                                    " still there above are left");
  } else {
    out.Line("After the next start of Windows: " + std::to_string(report.leftAfterNextStart.size()) +
             " left of the product");
    for (const Item& item : report.leftAfterNextStart) out.ItemLine(item);
  }
  out.Line();
  out.Line("Summary: " + std::to_string(report.removed.size()) + " removed, " + std::to_string(report.waiting.size()) +
           " waiting for the restart, " + std::to_string(report.stillThere.size()) + " still there, " +
           (report.otherChanges.empty() ? std::string("no other changes")
                                        : Plural(report.otherChanges.size(), "other change", "other changes")));
  return out.Take();
}

std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  auto escape = [&](unsigned char byte) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", byte);
    out += hex;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte < 0xA0)) {
      escape(byte);  // C0, DEL, and a lone C1 byte, which some terminals obey
    } else if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      escape(byte);  // a C1 control in UTF-8
      escape(static_cast<unsigned char>(text[++i]));
    } else {
      out += text[i];
      // The rest of a UTF-8 sequence goes as it is: its continuation bytes are not controls.
      const int more = byte >= 0xF0 && byte < 0xF8 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC2 && byte < 0xE0 ? 1 : 0;
      int taken = 0;
      while (taken < more && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
        out += text[++i];
        ++taken;
      }
    }
  }
  return out;
}

std::vector<std::string> WrapLine(std::string_view line, int width, int indent, bool paths) {
  std::vector<std::string> lines;
  if (width <= 0 || static_cast<int>(line.size()) <= width) {
    lines.emplace_back(line);
    return lines;
  }
  indent = std::clamp(indent, 0, width / 2);
  std::string_view rest = line;
  std::string prefix;
  for (;;) {
    const auto room = static_cast<std::size_t>(width) - prefix.size();
    if (rest.size() <= room) {
      lines.push_back(prefix + std::string(rest));
      return lines;
    }
    // The last place within room just after a backslash (a path's own break, for a line that
    // names a path) or at a blank; then the other kind; past the indent of a first line, so that
    // it does not break between "  file" and its path.
    const std::size_t earliest = prefix.empty() ? static_cast<std::size_t>(indent) + 1 : 1;
    auto lastBreak = [&](bool atBackslash) -> std::size_t {
      for (std::size_t at = room; at >= earliest; --at) {
        if (atBackslash ? rest[at - 1] == '\\' : rest[at - 1] == ' ' || rest[at] == ' ') return at;
      }
      return 0;
    };
    std::size_t cut = lastBreak(paths);
    if (cut == 0) cut = lastBreak(!paths);
    if (cut == 0) {
      cut = room;  // one name wider than the line; not inside a UTF-8 sequence, though
      while (cut > 1 && (static_cast<unsigned char>(rest[cut]) & 0xC0) == 0x80) --cut;
    }
    std::string_view piece = rest.substr(0, cut);
    while (!piece.empty() && piece.back() == ' ') piece.remove_suffix(1);
    lines.push_back(prefix + std::string(piece));
    rest.remove_prefix(cut);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    prefix.assign(static_cast<std::size_t>(indent), ' ');
    if (rest.empty()) return lines;
  }
}

}  // namespace sandbox
