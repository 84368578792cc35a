// Code pages of the system: Windows-1251 for everything it shows and stores, 866 (OEM) for the
// device's texts and the report builder's output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Unicode code point of a byte; 0xFFFD where the code page leaves the byte undefined.
char32_t Cp1251ToUnicode(std::uint8_t byte);
char32_t Cp866ToUnicode(std::uint8_t byte);
// Byte for a code point, or '?' when the code page has none.
std::uint8_t UnicodeToCp1251(char32_t cp);
std::uint8_t UnicodeToCp866(char32_t cp);

// CharToOemBuff / OemToChar: 1251 <-> 866, byte for byte ('?' where there is no equivalent).
std::string Cp1251ToCp866(std::string_view text);
std::string Cp866ToCp1251(std::string_view text);
// The report texts' own table: only the Cyrillic letters, Ё, ё and № move (80-AF -> C0-EF,
// E0-EF -> F0-FF), FF becomes a blank, and every other byte stays, box drawing included.
std::string Cp866LettersToCp1251(std::string_view text);

// UTF-8 at the edges (terminal, GUI); malformed UTF-8 input yields '?'.
std::string Cp1251ToUtf8(std::string_view text);
std::string Utf8ToCp1251(std::string_view text);

}  // namespace platform

namespace platform {

// Lower case of a Windows-1251 byte (ASCII and Cyrillic letters); other bytes stay as they are.
std::uint8_t Cp1251ToLower(std::uint8_t byte);
// Case-insensitive equality of two 1251 texts, as the INI file compares names.
bool Cp1251EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace platform
