// Control-connection bytes, PASV replies and listings from a hostile server.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "retrieval/FtpErrors.h"
#include "retrieval/FtpListing.h"
#include "retrieval/FtpPasv.h"
#include "retrieval/FtpReplyReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CFtpReplyReader reader;
  try {
    for (size_t at = 0; at < size; at += 97) {
      reader.Feed(text.data() + at, std::min<size_t>(97, size - at));
      while (auto reply = reader.NextReply()) {
        if (!reply->Text.empty()) {
          try {
            ParsePasvReply(reply->Text[0]);
          } catch (const EFtpError&) {
          }
        }
      }
    }
  } catch (const EFtpError&) {
  }
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  tm now{};
  now.tm_year = 126;
  now.tm_mon = 2;
  now.tm_mday = 10;
  ParseListing(lines, now);
  return 0;
}
