// The resource script and its header as text, built into the host programs: the simulated window
// manager reads the same templates (Ui::LoadModule) that the Windows build compiles with windres.
#pragma once

namespace rk514 {

extern const char kResourceScript[];  // uninstall.rc, NUL-ended
extern const char kResourceHeader[];  // resource.h, NUL-ended

}  // namespace rk514
