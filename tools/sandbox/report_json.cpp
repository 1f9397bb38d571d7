// The report as JSON (--json): the same facts as the text, one object, keys in camel case.
#include <nlohmann/json.hpp>

#include "report.h"

namespace sandbox {

std::string ReportJson(const Report& report) {
  using nlohmann::json;
  json shown = json::array();
  for (const Shown& s : report.shown) {
    json entry = {{"kind", s.kind == Shown::Dialog ? "dialog" : "messageBox"}, {"caption", s.caption}, {"inputs", s.inputs}};
    if (s.kind == Shown::Dialog) {
      entry["template"] = s.name;
      entry["timerMessages"] = s.timerMessages;
      entry["closed"] = s.closed;
      entry["result"] = s.result;
    } else {
      entry["text"] = s.text;
      entry["answer"] = s.inputs.empty() ? "" : s.inputs.front();
    }
    shown.push_back(entry);
  }
  json values = json::array();
  for (const ValueRef& v : report.removedValues) values.push_back({{"key", v.key}, {"name", v.name}});
  json profileKeys = json::array();
  for (const ProfileKeyRef& k : report.removedProfileKeys) profileKeys.push_back({{"section", k.section}, {"key", k.key}});
  json changes = json::array();
  for (const Change& c : report.otherChanges) changes.push_back({{"kind", c.kind}, {"path", c.path}, {"what", c.what}});
  json remnants = json::array();
  for (const Remnant& r : report.stillThere) remnants.push_back({{"kind", r.kind}, {"path", r.path}, {"reason", r.reason}});

  json out = {
      {"image", report.image},
      {"output", report.output},
      {"windows", {{"buildNumber", report.buildNumber}, {"build", report.buildNumber & 0xFFFF}, {"name", ReleaseName(report.buildNumber)}}},
      {"shown", shown},
      {"exitCode", report.exitCode},
      {"restartRequested", report.restartRequested},
      {"removalRan", report.removalRan},
      {"removed",
       {{"registryKeys", report.removedKeys},
        {"registryValues", values},
        {"profileSections", report.removedSections},
        {"profileKeys", profileKeys},
        {"files", report.removedFiles},
        {"folders", report.removedFolders}}},
      {"scheduled", {{"file", report.wininitPath}, {"created", report.wininitCreated}, {"lines", report.scheduledLines}}},
      {"otherChanges", changes},
      {"stillThere", remnants},
  };
  // Windows text is ANSI: bytes that are not UTF-8 are replaced rather than failing the dump.
  return out.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace sandbox
