// Start-up and shut-down of the tool.
#pragma once

namespace sorvane {

inline constexpr int kFatalExitCode = 255;  // -1 as the process's exit status

// Runs the tool: working state, main window, event loop. Returns 0 after a normal close; ends
// the process with kFatalExitCode when no window can be opened.
int runApplication(int argc, char** argv);

// The text of the fatal error report, lines ending in CR LF.
const char* fatalReportText();

}  // namespace sorvane
