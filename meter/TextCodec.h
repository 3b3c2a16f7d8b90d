#pragma once
// Text helpers: the meter's single-byte names as UTF-8, and trimming.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// One Windows-1252 byte as UTF-8 (bytes the code page leaves undefined map
// to the C1 control of the same value).
void AppendWindows1252(std::string& out, uint8_t byte);
std::string Windows1252ToUtf8(std::string_view bytes);
bool IsValidUtf8(std::string_view text);
// The length of the UTF-8 sequence that starts at text[at] (1 to 4) and its
// code point; 0 when the bytes there are no valid UTF-8.
size_t Utf8SequenceAt(std::string_view text, size_t at, char32_t& cp);

// A name field from the meter: every byte that is not 0 is one character
// (a 0 byte is skipped, not a terminator), then trimmed.
std::string DecodeNameField(const uint8_t* bytes, size_t count);

// Removes blanks and control characters (every byte up to 0x20) from both ends.
std::string Trim(std::string_view text);
// Characters (code points) of UTF-8 text; bytes that do not start one are not counted.
size_t Utf8Length(std::string_view text);
