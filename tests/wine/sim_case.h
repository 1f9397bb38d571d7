// A case of the Wine suite run on the simulated machine: the same scenario, the same answers to
// the same dialogs, and the same dumps as the run under Wine.
#pragma once

#include <string>
#include <vector>

#include "scenario.h"
#include "sim/ui.h"
#include "state_dump.h"

namespace wine {

struct SimRun {
  machines::StateDump seeded;  // the scenario's state, before the program runs
  machines::StateDump after;   // after the program (and the restart it asked for, if any), with its exit
                               // code, restart requests and windows
  machines::StateDump next;    // after the next start of Windows
};

// The answers of a flow, "ok-no", "ok-yes" or "cancel"; sim::Unmodelled for another name.
std::vector<sim::ScriptedUser::Step> StepsOf(const std::string& flow);

// flow: "ok-no", "ok-yes" or "cancel". Throws sim::Unanswered when the program shows something
// that the flow has no answer for.
SimRun RunInSimulator(const machines::Scenario& scenario, const std::string& flow);

// The expected state of a case, read from EXPECTED_DIR/NAME: "from seeded" is the simulated
// scenario's state, "from OTHER.expected" another expected state.
bool LoadExpected(const std::string& expectedDir, const std::string& name, const machines::StateDump& seeded,
                  machines::StateDump& expected, std::string& error);

}  // namespace wine
