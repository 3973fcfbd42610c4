// The tool's working state: one instance for the life of the process, owned by start-up and
// handed by reference to every handler.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

namespace sorvane {

// Two parallel lists, numbered from 1 by the tool (index k - 1 here); always the same length.
// Deques, not vectors: a walk of many thousands of files appends without ever moving what it
// listed before, which keeps a load close to the speed of the directory reads themselves.
struct SampleSet {
    std::deque<std::string> samplePaths;  // full paths, in walk order
    std::deque<std::string> sampleNames;  // bare file names, extension included

    std::int64_t size() const { return static_cast<std::int64_t>(samplePaths.size()); }
    // True when the 1-based number k names a sample.
    bool names(std::int64_t k) const { return k >= 1 && k <= size(); }
};

struct WorkingState {
    SampleSet samples;
    std::int32_t position = 0;  // 1-based number of the sample on display; never clamped
    std::string runDirectory;   // folder of the executable, no trailing "/"

    // A load that processes events between subfolders stops when another load starts or the
    // window closes in the meantime.
    std::uint64_t loadGeneration = 0;
    bool closing = false;
};

// position := 0, both lists emptied.
void initWorkingState(WorkingState& state);
// Releases both lists and every text in them; writes no file.
void releaseWorkingState(WorkingState& state);

}  // namespace sorvane
