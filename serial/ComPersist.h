#pragma once
// The text forms port settings are stored in.

#include <cstdint>
#include <string>

// "Yes" / "No"; reading is true exactly for "YES" in any case.
std::string BoolText(bool value);
bool TextToBool(const std::string& text);

// Printable codes 33..127 as the character itself, every other code as "#" and its number.
// Reading: "" is 0; "#n" is n's low 8 bits (0 when n is no number); else the first byte.
std::string CharText(std::uint8_t value);
std::uint8_t TextToChar(const std::string& text);
