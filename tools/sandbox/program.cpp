// The uninstaller on a simulated machine: see program.h. This file includes the program's own
// headers, whose platform.h maps the C runtime's file names onto the simulated machine.
#include "program.h"

#include "app.h"
#include "embedded_resources.h"
#include "removal.h"

namespace sandbox {

ProgramRun RunUninstaller(sim::Machine& machine, sim::User& user) {
  sim::Activation active(machine);
  machine.trace().Clear();
  // A fresh process: the flag starts at 1, nothing has been removed.
  g_confirmed = 1;
  g_removalRan = 0;
  machine.ui().SetUser(&user);
  struct Unset {
    sim::Ui& ui;
    ~Unset() { ui.SetUser(nullptr); }
  } unset{machine.ui()};
  HINSTANCE instance = machine.ui().LoadModule(rk514::kResourceScript, rk514::kResourceHeader);
  ProgramRun run;
  run.exitCode = WinMain(instance, NULL, const_cast<LPSTR>(""), SW_SHOWNORMAL);
  run.removalRan = g_removalRan != 0;
  return run;
}

bool RemovalRan() { return g_removalRan != 0; }

void RunRemovalOnly(sim::Machine& machine) {
  sim::Activation active(machine);
  machine.trace().Clear();
  RemoveProduct();
}

}  // namespace sandbox
