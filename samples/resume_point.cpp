#include "samples/resume_point.h"

#include <algorithm>
#include <limits>

#include "app/files.h"
#include "labelling/characters.h"

namespace sorvane {
namespace {

constexpr char kNotAscii = '\x7F';  // stands for a character that is neither space, sign nor digit

// Maps one display character to the ASCII byte it counts as.
char asciiEquivalent(const std::string& character) {
    if (character.size() == 1) {
        const auto byte = static_cast<unsigned char>(character[0]);
        return byte < 0x80 ? character[0] : kNotAscii;
    }
    if (character.size() != 3) {
        return kNotAscii;
    }
    const auto b0 = static_cast<unsigned char>(character[0]);
    const auto b1 = static_cast<unsigned char>(character[1]);
    const auto b2 = static_cast<unsigned char>(character[2]);
    const unsigned codePoint = ((b0 & 0x0Fu) << 12) | ((b1 & 0x3Fu) << 6) | (b2 & 0x3Fu);
    if (codePoint == 0x3000) {
        return ' ';  // ideographic space
    }
    if (codePoint >= 0xFF01 && codePoint <= 0xFF5E) {
        return static_cast<char>(codePoint - 0xFF01 + 0x21);  // full-width forms of ! ... ~
    }
    return kNotAscii;
}

bool isSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

std::int32_t parseResumeText(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    const auto characters = splitCharacters(text);
    auto it = characters.begin();
    while (it != characters.end() && isSpace(asciiEquivalent(*it))) {
        ++it;
    }
    bool negative = false;
    if (it != characters.end() && (asciiEquivalent(*it) == '+' || asciiEquivalent(*it) == '-')) {
        negative = asciiEquivalent(*it) == '-';
        ++it;
    }
    // Accumulate as a negative number so that INT32_MIN is reachable; stop growing at the limit.
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; it != characters.end(); ++it) {
        const char c = asciiEquivalent(*it);
        if (c < '0' || c > '9') {
            break;
        }
        magnitude = std::min(magnitude * 10 + (c - '0'), kLimit);
    }
    if (negative) {
        return static_cast<std::int32_t>(-magnitude);
    }
    return static_cast<std::int32_t>(std::min(magnitude, kLimit - 1));
}

std::string resumePointPath(const std::string& runDirectory) {
    return runDirectory + "/breakpoint.txt";
}

std::int32_t readResumePoint(const std::string& runDirectory) {
    const std::string path = resumePointPath(runDirectory);
    if (!files::pathExists(path)) {
        return 0;
    }
    const auto bytes = files::readWholeFile(path);
    return parseResumeText(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void writeResumePoint(const WorkingState& state) {
    const std::int32_t value = state.position >= 1 ? state.position - 1 : state.position;
    files::writeWholeFile(resumePointPath(state.runDirectory), std::to_string(value));
}

void clearResumePoint(WorkingState& state, WindowOperations& ops) {
    state.position = 0;
    ops.setPaneText(5, "0");
}

}  // namespace sorvane
