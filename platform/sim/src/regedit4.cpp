// REGEDIT4 files, as Windows 98's regedit reads and writes them.
#include "sim/errors.h"
#include "sim/registry.h"

namespace sim {

void Registry::LoadRegFile(const std::filesystem::path&) { throw Unmodelled("Registry::LoadRegFile: not built yet"); }
void Registry::LoadRegText(std::string_view, const std::string&) { throw Unmodelled("Registry::LoadRegText: not built yet"); }
std::string Registry::ExportRegText() const { throw Unmodelled("Registry::ExportRegText: not built yet"); }

}  // namespace sim
