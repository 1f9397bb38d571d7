// What the sandbox's tests share: the sample machines, a user that photographs the dialogs it
// answers, and reading a canvas row as text.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>

#include "layout.h"
#include "sim/machine.h"

namespace sandbox_test {

inline std::string SampleDir(const std::string& name) { return std::string(RK514_SAMPLES_DIR) + "/" + name; }
inline sim::Machine Sample(const std::string& name) { return sim::Machine::LoadImage(SampleDir(name)); }

// A scripted user that keeps the first picture of each dialog at each count of timer messages.
class Photographer : public sim::ScriptedUser {
 public:
  using ScriptedUser::ScriptedUser;
  std::optional<sim::Input> NextInput(const sim::DialogState& dialog, std::uint64_t nowMs) override {
    photos.emplace(std::make_pair(dialog.tmpl.name, dialog.timerMessages), dialog);
    return ScriptedUser::NextInput(dialog, nowMs);
  }
  const sim::DialogState& Photo(const std::string& name, int timerMessages) const {
    return photos.at({name, timerMessages});
  }
  std::map<std::pair<std::string, int>, sim::DialogState> photos;
};

// The cells of a canvas row from column on, count of them.
inline std::u32string Cells(const sandbox::Canvas& canvas, int row, int column, int count) {
  return canvas.glyphs.at(static_cast<std::size_t>(row))
      .substr(static_cast<std::size_t>(column), static_cast<std::size_t>(count));
}

}  // namespace sandbox_test
