#include "labelling/navigation.h"

#include <algorithm>
#include <limits>

#include "labelling/sample_view.h"
#include "output/corrected_sample.h"

namespace sorvane {
namespace {

// position moves by one but stays inside the 32-bit range whatever the resume point held.
std::int32_t step(std::int32_t position, int delta) {
    const std::int64_t moved = std::int64_t{position} + delta;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        moved, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

void showOrSayEnd(const WorkingState& state, WindowOperations& ops) {
    if (state.samples.names(state.position)) {
        showSample(state, ops, state.position);
    } else {
        ops.showMessage(kEndOfListText, kEndOfListTitle);
    }
}

}  // namespace

void previousSample(WorkingState& state, WindowOperations& ops) {
    state.position = step(state.position, -1);
    showOrSayEnd(state, ops);
}

void nextSample(WorkingState& state, WindowOperations& ops) {
    const std::int32_t old = state.position;
    state.position = step(old, +1);
    if (state.samples.names(old)) {
        // A label cut to fit the buttons would be written wrong; such a sample is passed over.
        if (ops.labelWarning().empty()) {
            saveCorrectedSample(state.runDirectory, ops,
                                state.samples.samplePaths[static_cast<std::size_t>(old - 1)]);
        }
        ops.setPaneText(5, std::to_string(old));
    }
    showOrSayEnd(state, ops);
}

}  // namespace sorvane
