#include "labelling/characters.h"

#include <cstddef>

namespace sorvane {
namespace {

// How many bytes the UTF-8 sequence led by `lead` should have; 1 for anything that leads none.
std::size_t sequenceLength(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 1;
}

bool isContinuation(unsigned char byte) {
    return byte >= 0x80 && byte <= 0xBF;
}

std::size_t elementLength(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead == '\r' && at + 1 < text.size() && text[at + 1] == '\n') {
        return 2;
    }
    const std::size_t wanted = sequenceLength(lead);
    std::size_t length = 1;
    while (length < wanted && at + length < text.size() &&
           isContinuation(static_cast<unsigned char>(text[at + length]))) {
        ++length;
    }
    return length;
}

}  // namespace

std::vector<std::string> splitCharacters(std::string_view text) {
    std::vector<std::string> characters;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = elementLength(text, at);
        characters.emplace_back(text.substr(at, length));
        at += length;
    }
    return characters;
}

std::string labelFromName(std::string_view fileName) {
    // 0x5F never occurs inside a UTF-8 sequence, so a byte search is exact.
    return std::string(fileName.substr(0, fileName.find('_')));
}

std::string toUpper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 0x20);
        }
    }
    return result;
}

std::string toLower(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 0x20);
        }
    }
    return result;
}

bool isAllUpper(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (c < 'A' || c > 'Z') {
            return false;
        }
    }
    return true;
}

}  // namespace sorvane
