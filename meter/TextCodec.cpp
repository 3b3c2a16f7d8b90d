#include "meter/TextCodec.h"

namespace {

// Code points of Windows-1252 bytes 0x80-0x9F.
constexpr char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendCodePoint(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

void AppendWindows1252(std::string& out, uint8_t byte) {
  if (byte >= 0x80 && byte <= 0x9F) {
    AppendCodePoint(out, kHigh[byte - 0x80]);
  } else {
    AppendCodePoint(out, byte);
  }
}

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) AppendWindows1252(out, static_cast<uint8_t>(c));
  return out;
}

size_t Utf8SequenceAt(std::string_view text, size_t at, char32_t& cp) {
  const auto b = static_cast<uint8_t>(text[at]);
  size_t len;
  if (b < 0x80) {
    cp = b;
    return 1;
  }
  if ((b & 0xE0) == 0xC0) {
    len = 2;
    cp = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    len = 3;
    cp = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    len = 4;
    cp = b & 0x07;
  } else {
    return 0;
  }
  if (at + len > text.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const auto c = static_cast<uint8_t>(text[at + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
      cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return len;
}

bool IsValidUtf8(std::string_view text) {
  char32_t cp;
  for (size_t i = 0; i < text.size();) {
    const size_t len = Utf8SequenceAt(text, i, cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string DecodeNameField(const uint8_t* bytes, size_t count) {
  std::string raw;
  for (size_t i = 0; i < count; ++i) {
    if (bytes[i] != 0) AppendWindows1252(raw, bytes[i]);
  }
  return Trim(raw);
}

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<uint8_t>(text[b]) <= 0x20) ++b;
  while (e > b && static_cast<uint8_t>(text[e - 1]) <= 0x20) --e;
  return std::string(text.substr(b, e - b));
}

size_t Utf8Length(std::string_view text) {
  size_t n = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}
