#include "retrieval/FtpErrors.h"

std::string ReadableErrorText(const std::string& text) {
  constexpr size_t kReadable = 2000;  // a screenful; a server may send a megabyte
  if (text.size() <= kReadable) return text;
  size_t cut = kReadable;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut) + "\n[message cut: " + std::to_string(text.size() - cut) +
         " more bytes]";
}
