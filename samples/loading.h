// The load button: the output folder made sure of, the sample folder walked into the sample set,
// the status bar updated and the position taken from the resume point.
#pragma once

#include <string>

#include "app/window_operations.h"
#include "samples/working_state.h"

namespace sorvane {

// Returns false when the load was cut short: another load started or the window closed while it
// processed events between subfolders. A cut-short load changes nothing more after that point.
bool loadSamples(WorkingState& state, WindowOperations& ops);

// Creates every missing folder along `path`; true on success, also when it exists.
bool ensureDirectory(const std::string& path);

// Appends one file to the sample set.
void onSampleFound(SampleSet& samples, std::string name, std::string path);

std::string outputFolder(const std::string& runDirectory);
std::string defaultSampleFolder(const std::string& runDirectory);

}  // namespace sorvane
