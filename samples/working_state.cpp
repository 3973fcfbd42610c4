#include "samples/working_state.h"

namespace sorvane {

void initWorkingState(WorkingState& state) {
    state.position = 0;
    releaseWorkingState(state);
}

void releaseWorkingState(WorkingState& state) {
    // swap with empty lists so the memory itself goes back, not just the texts
    std::deque<std::string>().swap(state.samples.samplePaths);
    std::deque<std::string>().swap(state.samples.sampleNames);
}

}  // namespace sorvane
