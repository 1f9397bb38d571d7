// A comparer of dialog templates for the tests: the templates that the resource script gives,
// that windres compiles (sim/res_dialog.h reads compiled resources) and that the tests expect.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "sim/res_dialog.h"
#include "sim/ui.h"

namespace res_file {

// How control class names compare: windres writes a class given by name in capitals, and Windows
// finds window classes without regard to case.
enum class ClassNames { kExactCase, kAnyCase };

// Whether a dialog template is the expected one: every field but its name and language, and the
// controls in order. A failure names the dialog and lists each field that differs.
::testing::AssertionResult SameDialog(const sim::DialogTemplate& got, const sim::DialogTemplate& want,
                                      ClassNames classNames = ClassNames::kAnyCase);

// Whether two sets of dialogs hold the same names and, under each, the same template.
::testing::AssertionResult SameDialogs(const std::map<std::string, sim::DialogTemplate>& got,
                                       const std::map<std::string, sim::DialogTemplate>& want,
                                       ClassNames classNames = ClassNames::kAnyCase);

}  // namespace res_file
