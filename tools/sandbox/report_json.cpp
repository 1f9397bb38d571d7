// The report as JSON (--json): the same facts as the text, one object, keys in camel case. Every
// piece of a machine has one shape wherever it is listed: {"kind", "path"} and, for a registry
// value or a win.ini key, "name" (and "value" where it is shown).
#include <nlohmann/json.hpp>

#include "layout.h"
#include "report.h"

namespace sandbox {
namespace {

using nlohmann::json;

// The machine's text, shown as the text report shows it.
json Machine(const std::string& text) { return MachineText(text); }

json Machine(const std::vector<std::string>& texts) {
  json out = json::array();
  for (const std::string& text : texts) out.push_back(MachineText(text));
  return out;
}

json ItemJson(const Item& item) {
  json out = {{"kind", item.kind}, {"path", Machine(item.path)}};
  if (item.kind == kRegistryValue || item.kind == kProfileKey) out["name"] = Machine(item.name);
  if (!item.value.empty()) out["value"] = Machine(item.value);
  return out;
}

json ShownJson(const Shown& s) {
  json entry = {{"kind", s.kind == Shown::Dialog ? "dialog" : "messageBox"},
                {"caption", Machine(s.caption)},
                {"inputs", Machine(s.inputs)}};
  if (s.kind == Shown::Dialog) {
    entry["template"] = s.name;
    entry["timerMessages"] = s.timerMessages;
    entry["closed"] = s.closed;
    entry["result"] = s.result;
  } else {
    entry["text"] = Machine(s.text);
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
  for (const Waiting& w : report.waiting)
    waiting.push_back(With(ItemJson(w.item), "atNextStart", Machine(w.atNextStart)));
  json changes = json::array();
  for (const Change& c : report.otherChanges) changes.push_back(With(ItemJson(c.item), "change", Machine(c.what)));
  json remnants = json::array();
  for (const Remnant& r : report.stillThere)
    remnants.push_back(With(With(ItemJson(r.item), "reason", Machine(r.reason)), "reasonCode", r.code));
  auto list = [](const std::vector<Item>& items) {
    json out = json::array();
    for (const Item& item : items) out.push_back(ItemJson(item));
    return out;
  };
  const json left = list(report.leftAfterNextStart);

  json disk = nullptr;
  if (run.disk) {
    const DiskSource& d = *run.disk;
    disk = {{"path", d.path},
            {"kind", d.kind},
            {"partition", d.partition.empty() ? json(nullptr) : json(d.partition)},
            {"fileSystem", d.fileSystem.empty() ? json(nullptr) : json(d.fileSystem)},
            {"windowsDirectory", d.windowsDirectory},
            {"windowsDirectoryFrom", d.windowsFrom},
            {"registryFiles", d.hives},
            {"release", d.release},
            {"releaseFrom", d.releaseFrom},
            {"configuration", d.configuration},
            {"configurationFrom", d.configurationFrom},
            {"user", d.user},
            {"userFrom", d.userFrom}};
  }
  json out = {
      {"formatVersion", kReportFormatVersion},
      {"image", run.image},
      {"disk", disk},
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
       {{"file", Machine(report.wininitPath)},
        {"created", report.wininitCreated},
        {"linesAdded", Machine(report.wininitLines)}}},
      {"waiting", waiting},
      {"otherChanges", changes},
      {"stillThere", remnants},
      {"afterNextStart", left},
      {"inventory",
       {{"beforeRun", list(report.productBeforeRun)},
        {"afterRun", list(report.productAfterRun)},
        {"afterNextStart", left}}},
      {"summary",
       {{"beforeRun", report.productBeforeRun.size()},
        {"removed", report.removed.size()},
        {"waiting", report.waiting.size()},
        {"stillThere", report.stillThere.size()},
        {"otherChanges", report.otherChanges.size()}}},
  };
  // The machine's text is UTF-8 by now; a Linux path that is not is replaced rather than failing.
  return out.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace sandbox
