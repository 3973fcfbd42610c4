// Label text routines. Texts are UTF-8 byte strings; nothing here assumes they are valid UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sorvane {

// Cuts a text into display characters: a UTF-8 sequence (a lead byte 0xC2 ... 0xF4 with the
// continuation bytes that follow it, no more than its length and not past the end), the pair
// CR LF, or any other single byte (a stray continuation byte included).
std::vector<std::string> splitCharacters(std::string_view text);

// The label of a sample's file name: the bytes before the first "_", or the whole name.
std::string labelFromName(std::string_view fileName);

// Case changes touch the ASCII letters only; every byte from 0x80 up is copied unchanged.
std::string toUpper(std::string_view text);
std::string toLower(std::string_view text);
// True for a non-empty text made of the letters A ... Z only.
bool isAllUpper(std::string_view text);

}  // namespace sorvane
