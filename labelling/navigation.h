// Stepping back and forth through the samples. The next step saves the sample it leaves.
#pragma once

#include "app/window_operations.h"
#include "samples/working_state.h"

namespace sorvane {

inline constexpr const char* kEndOfListText = "没有图片了";
inline constexpr const char* kEndOfListTitle = "系统提示";

void previousSample(WorkingState& state, WindowOperations& ops);
void nextSample(WorkingState& state, WindowOperations& ops);

}  // namespace sorvane
