#include "output/corrected_sample.h"

#include <vector>

#include "app/files.h"
#include "output/converter.h"
#include "output/digest.h"

namespace sorvane {
namespace {

// Every spelling of `label` in any ASCII case, the label itself first.
std::vector<std::string> caseSpellings(const std::string& label) {
    std::vector<std::size_t> letters;
    for (std::size_t i = 0; i < label.size(); ++i) {
        const char c = label[i];
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            letters.push_back(i);
        }
    }
    // A label has at most six characters; the bound only keeps a malformed caption cheap.
    if (letters.size() > 12) {
        return {label};
    }
    std::vector<std::string> spellings;
    const unsigned count = 1u << letters.size();
    for (unsigned flips = 0; flips < count; ++flips) {
        std::string spelling = label;
        for (std::size_t bit = 0; bit < letters.size(); ++bit) {
            if (flips & (1u << bit)) {
                spelling[letters[bit]] ^= 0x20;  // swaps ASCII case
            }
        }
        spellings.push_back(std::move(spelling));
    }
    return spellings;
}

}  // namespace

std::string gatherLabel(const WindowOperations& ops) {
    std::string label;
    for (const ButtonId button : characterButtons(ops)) {
        label += ops.caption(button);
    }
    return label;
}

std::string correctedSamplePath(const std::string& runDirectory, const std::string& label,
                                const std::string& digest) {
    return runDirectory + "/samples_new/" + label + "_" + digest + ".bmp";
}

void saveCorrectedSample(const std::string& runDirectory, const WindowOperations& ops,
                         const std::string& sourcePath) {
    const std::string label = gatherLabel(ops);
    if (label.empty()) {
        return;
    }
    const auto bytes = files::readWholeFile(sourcePath);
    const std::string digest = md5Hex(bytes);
    const std::string name = correctedSamplePath(runDirectory, label, digest);

    // An earlier file of this name goes first, and so does one whose label differs only in case:
    // on a case-blind file system that is the same file, and a relabelled sample must not leave
    // its old spelling behind here either. Trying the few spellings costs a handful of failed
    // unlinks and no listing of the output folder.
    for (const auto& spelling : caseSpellings(label)) {
        files::deleteFile(correctedSamplePath(runDirectory, spelling, digest));
    }
    std::vector<std::uint8_t> scratch;
    convertImage(bytes, kBmp, name, scratch, false);
}

}  // namespace sorvane
