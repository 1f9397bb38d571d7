// Reads the dialog templates of the program's resource script.
#include "sim/errors.h"
#include "sim/ui.h"

namespace sim {

std::map<std::string, DialogTemplate> ParseResourceScript(const std::string&, const std::string&,
                                                          const std::string&) {
  throw Unmodelled("ParseResourceScript: not built yet");
}

}  // namespace sim
