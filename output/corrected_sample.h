// Writing the sample on display under its corrected label.
#pragma once

#include <string>

#include "app/window_operations.h"

namespace sorvane {

// The captions of the character buttons joined left to right: the label as corrected.
std::string gatherLabel(const WindowOperations& ops);

// runDirectory + "/samples_new/" + label + "_" + md5 of the source + ".bmp".
std::string correctedSamplePath(const std::string& runDirectory, const std::string& label,
                                const std::string& digest);

// Writes the source re-encoded as BMP under the corrected label and the digest of its bytes.
// An empty label writes and deletes nothing. An earlier file whose name differs only in the ASCII
// case of the label is removed, so a relabelled sample never leaves its old spelling behind.
void saveCorrectedSample(const std::string& runDirectory, const WindowOperations& ops,
                         const std::string& sourcePath);

}  // namespace sorvane
