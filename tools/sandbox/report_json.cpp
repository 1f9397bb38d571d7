// The report as JSON (--json): the same facts as the text, one object, keys in camel case. Every
// piece of a machine has one shape wherever it is listed: {"kind", "path"} and, for a registry
// value or a win.ini key, "name" (and "value" where it is shown).
#include <nlohmann/json.hpp>

#include "report.h"

namespace sandbox {
namespace {

using nlohmann::json;

json ItemJson(const Item& item) {
  json out = {{"kind", item.kind}, {"path", item.path}};
  if (item.kind == kRegistryValue || item.kind == kProfileKey) out["name"] = item.name;
  if (!item.value.empty()) out["value"] = item.value;
  return out;
}

json ShownJson(const Shown& s) {
  json entry = {
      {"kind", s.kind == Shown::Dialog ? "dialog" : "messageBox"}, {"caption", s.caption}, {"inputs", s.inputs}};
  if (s.kind == Shown::Dialog) {
    entry["template"] = s.name;
    entry["timerMessages"] = s.timerMessages;
    entry["closed"] = s.closed;
    entry["result"] = s.result;
  } else {
    entry["text"] = s.text;
    entry["answer"] = s.inputs.empty() ? "" : s.inputs.front();
  }
  return entry;
}

json With(json object, const char* key, json value) {
  object[key] = std::move(value);
  return object;
}

template <typename T>
json OrNull(const std::optional<T>& value) {
  return value ? json(*value) : json(nullptr);
}

}  // namespace

std::string ReportJson(const Report& report) {
  const RunFacts& run = report.run;
  json shown = json::array();
  for (const Shown& s : run.shown) shown.push_back(ShownJson(s));
  json removed = json::array();
  for (const Item& item : report.removed) removed.push_back(ItemJson(item));
  json waiting = json::array();
  for (const Waiting& w : report.waiting) waiting.push_back(With(ItemJson(w.item), "atNextStart", w.atNextStart));
  json changes = json::array();
  for (const Change& c : report.otherChanges) changes.push_back(With(ItemJson(c.item), "change", c.what));
  json remnants = json::array();
  for (const Remnant& r : report.stillThere)
    remnants.push_back(With(With(ItemJson(r.item), "reason", r.reason), "reasonCode", r.code));
  json left = json::array();
  for (const Item& item : report.leftAfterNextStart) left.push_back(ItemJson(item));

  json out = {
      {"formatVersion", kReportFormatVersion},
      {"image", run.image},
      {"program", run.program
                      ? json{{"path", run.program->path}, {"size", run.program->size}, {"sha256", run.program->sha256}}
                      : json(nullptr)},
      {"output", OrNull(run.output)},
      {"windows",
       {{"buildNumber", report.buildNumber},
        {"build", report.buildNumber & 0xFFFF},
        {"name", ReleaseName(report.buildNumber)}}},
      {"shown", shown},
      {"exitCode", OrNull(run.exitCode)},
      {"restartRequested", run.restartRequested},
      {"removalRan", run.removalRan},
      {"error", run.error.empty() ? json(nullptr) : json(run.error)},
      {"removed", removed},
      {"wininit",
       {{"file", report.wininitPath}, {"created", report.wininitCreated}, {"linesAdded", report.wininitLines}}},
      {"waiting", waiting},
      {"otherChanges", changes},
      {"stillThere", remnants},
      {"afterNextStart", left},
      {"summary",
       {{"removed", report.removed.size()},
        {"waiting", report.waiting.size()},
        {"stillThere", report.stillThere.size()},
        {"otherChanges", report.otherChanges.size()}}},
  };
  // Windows text is ANSI: bytes that are not UTF-8 are replaced rather than failing the dump.
  return out.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace sandbox
