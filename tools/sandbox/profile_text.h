// win.ini's lines, each read as the simulated profile functions read it (sim::ReadProfileLines),
// but only when asked for: the file is split once, where the simulator splits it (after each line
// feed), and a win.ini of 60,000 sections is not read whole for the few lines that matter.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sim/profile.h"

namespace sandbox {

class ProfileText {
 public:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  explicit ProfileText(std::string bytes);
  ProfileText(const ProfileText&) = delete;  // the lines point into bytes_
  ProfileText& operator=(const ProfileText&) = delete;

  const std::vector<std::string_view>& Lines() const { return lines_; }  // with their line ends
  sim::ProfileLine Line(std::size_t index) const;
  // The header that line index stands under, or kNone before the first header.
  std::size_t HeaderAbove(std::size_t index) const { return headerAbove_[index]; }

 private:
  std::string bytes_;
  std::vector<std::string_view> lines_;
  std::vector<std::size_t> headerAbove_;
};

}  // namespace sandbox
