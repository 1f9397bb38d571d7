// win.ini's lines, read one at a time: see profile_text.h.
#include "profile_text.h"

#include "sim/text.h"

namespace sandbox {
namespace {

// Only a line whose first byte that is not white space is '[' can be a header; the simulator
// decides whether it is one.
bool MayBeHeader(std::string_view line) {
  const std::size_t first = line.find_first_not_of(" \t\n\v\f\r\x1A");
  return first != std::string_view::npos && line[first] == '[';
}

}  // namespace

ProfileText::ProfileText(std::string bytes) : bytes_(std::move(bytes)) {
  lines_ = sim::SplitLinesKeepingEnds(bytes_);
  headerAbove_.assign(lines_.size(), kNone);
  std::size_t header = kNone;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (MayBeHeader(lines_[i]) && Line(i).kind == sim::ProfileLine::Header) header = i;
    else headerAbove_[i] = header;
  }
}

sim::ProfileLine ProfileText::Line(std::size_t index) const {
  std::vector<sim::ProfileLine> read = sim::ReadProfileLines(lines_[index]);
  return read.empty() ? sim::ProfileLine{} : std::move(read.front());
}

}  // namespace sandbox
