// Showing a sample: its picture in the picture box, its label spread over the character buttons.
#pragma once

#include <cstdint>
#include <vector>

#include "app/window_operations.h"
#include "samples/working_state.h"

namespace sorvane {

inline constexpr std::size_t kCharacterButtonCount = 6;

// Shows sample n (1-based; the caller makes sure it names a sample). A label longer than the
// buttons fills them with its first characters and marks them, so it is never saved cut short.
void showSample(const WorkingState& state, WindowOperations& ops, std::int64_t n);

// Empties the captions, the warning mark and the picture, so that nothing on display can be
// taken for the sample at `position` after a load.
void clearSampleDisplay(WindowOperations& ops);

// Switches the button's caption between upper and lower case.
void toggleCase(WindowOperations& ops, ButtonId button);

}  // namespace sorvane
