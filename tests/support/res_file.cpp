// Comparing dialog templates in the tests: see res_file.h.
#include "res_file.h"

#include <strings.h>

#include <sstream>

namespace res_file {

namespace {
std::string Hex(std::uint32_t value) {
  std::ostringstream text;
  text << "0x" << std::hex << std::uppercase << value;
  return text.str();
}
std::string Quoted(const std::string& text) { return '"' + text + '"'; }
std::string Place(int x, int y, int cx, int cy) {
  return std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(cx) + "x" + std::to_string(cy);
}

// The fields that differ, each as "what: got, expected want".
struct Differences {
  std::vector<std::string> lines;
  void Field(const std::string& what, const std::string& got, const std::string& want) {
    if (got != want) lines.push_back(what + ": " + got + ", expected " + want);
  }
  void Number(const std::string& what, long long got, long long want) {
    Field(what, std::to_string(got), std::to_string(want));
  }
};
}  // namespace

::testing::AssertionResult SameDialog(const sim::DialogTemplate& got, const sim::DialogTemplate& want,
                                      ClassNames classNames) {
  Differences d;
  d.Field("kind", got.extended ? "DIALOGEX" : "DIALOG", want.extended ? "DIALOGEX" : "DIALOG");
  d.Field("style", Hex(got.style), Hex(want.style));
  d.Field("extended style", Hex(got.exStyle), Hex(want.exStyle));
  d.Field("place", Place(got.x, got.y, got.cx, got.cy), Place(want.x, want.y, want.cx, want.cy));
  d.Field("caption", Quoted(got.caption), Quoted(want.caption));
  d.Number("font size", got.fontSize, want.fontSize);
  d.Field("font", Quoted(got.fontName), Quoted(want.fontName));
  d.Number("font weight", got.fontWeight, want.fontWeight);
  d.Number("font italic", got.fontItalic, want.fontItalic);
  d.Number("font charset", got.fontCharset, want.fontCharset);
  d.Number("controls", static_cast<long long>(got.controls.size()), static_cast<long long>(want.controls.size()));
  for (std::size_t i = 0; i < got.controls.size() && i < want.controls.size(); ++i) {
    const sim::ControlTemplate& c = got.controls[i];
    const sim::ControlTemplate& w = want.controls[i];
    const std::string control = "control " + std::to_string(i) + " " + Quoted(w.text) + " ";
    d.Number(control + "ID", c.id, w.id);
    const bool sameClass = classNames == ClassNames::kAnyCase
                               ? strcasecmp(c.className.c_str(), w.className.c_str()) == 0
                               : c.className == w.className;
    if (!sameClass) d.Field(control + "class", Quoted(c.className), Quoted(w.className));
    d.Field(control + "text", Quoted(c.text), Quoted(w.text));
    d.Field(control + "place", Place(c.x, c.y, c.cx, c.cy), Place(w.x, w.y, w.cx, w.cy));
    d.Field(control + "style", Hex(c.style), Hex(w.style));
    d.Field(control + "extended style", Hex(c.exStyle), Hex(w.exStyle));
  }
  if (d.lines.empty()) return ::testing::AssertionSuccess();
  ::testing::AssertionResult failure = ::testing::AssertionFailure() << "dialog " << want.name << " differs:";
  for (const std::string& line : d.lines) failure << "\n  " << line;
  return failure;
}

::testing::AssertionResult SameDialogs(const std::map<std::string, sim::DialogTemplate>& got,
                                       const std::map<std::string, sim::DialogTemplate>& want, ClassNames classNames) {
  std::string missing, extra;
  for (const auto& [name, dialog] : want)
    if (got.count(name) == 0) missing += " " + name;
  for (const auto& [name, dialog] : got)
    if (want.count(name) == 0) extra += " " + name;
  if (!missing.empty() || !extra.empty())
    return ::testing::AssertionFailure() << "dialogs missing:" << (missing.empty() ? " none" : missing)
                                         << "; dialogs not expected:" << (extra.empty() ? " none" : extra);
  std::string differences;
  for (const auto& [name, dialog] : want) {
    sim::DialogTemplate named = dialog;
    named.name = name;
    const ::testing::AssertionResult same = SameDialog(got.at(name), named, classNames);
    if (!same) differences += std::string(differences.empty() ? "" : "\n") + same.message();
  }
  if (differences.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << differences;
}

}  // namespace res_file
