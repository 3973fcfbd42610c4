// The resume point: how many samples the user has moved past, kept in "breakpoint.txt" beside the
// executable across runs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/window_operations.h"
#include "samples/working_state.h"

namespace sorvane {

// The number at the start of a resume text: leading white space, one optional sign, decimal
// digits; full-width forms count as their ASCII twins and U+3000 as a space. A zero byte ends the
// text; no digits give 0; a value past the 32-bit range saturates at its limit.
std::int32_t parseResumeText(std::string_view text);

// The stored value, or 0 when the file is missing or unreadable.
std::int32_t readResumePoint(const std::string& runDirectory);
// Stores position - 1 when position is 1 or more, else position itself. Failures are ignored.
void writeResumePoint(const WorkingState& state);
// position := 0 and pane 5 := "0"; the file is left alone until the next close.
void clearResumePoint(WorkingState& state, WindowOperations& ops);

std::string resumePointPath(const std::string& runDirectory);

}  // namespace sorvane
