#include "retrieval/FtpPasv.h"

#include <cctype>
#include <vector>

#include "retrieval/FtpErrors.h"

TPasvAddress ParsePasvReply(const std::string& rawLine) {
  const auto bad = [&rawLine] { return EFtpError("Invalid passive mode reply: " + rawLine); };
  std::string line = rawLine;
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
  std::string text;
  const size_t open = line.find('('), close = line.find(')', open == std::string::npos ? 0 : open);
  if (open != std::string::npos && close != std::string::npos) {
    text = line.substr(open + 1, close - open - 1);
  } else {
    const size_t blank = line.rfind(' ');
    text = blank == std::string::npos ? line : line.substr(blank + 1);
  }
  size_t at = 0;
  while (at < text.size() && !std::isdigit(static_cast<unsigned char>(text[at]))) ++at;

  std::vector<int> numbers;
  while (at <= text.size() && numbers.size() < 6) {
    size_t end = at;
    long value = 0;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) {
      value = value * 10 + (text[end] - '0');
      if (value > 255) throw bad();
      ++end;
    }
    if (end == at) throw bad();
    numbers.push_back(static_cast<int>(value));
    while (end < text.size() && text[end] == ' ') ++end;
    if (numbers.size() < 6) {
      if (end >= text.size() || text[end] != ',') throw bad();
      ++end;
      while (end < text.size() && text[end] == ' ') ++end;
    }
    at = end;
  }
  if (numbers.size() != 6) throw bad();
  TPasvAddress a;
  a.Host = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
           std::to_string(numbers[2]) + "." + std::to_string(numbers[3]);
  a.Port = static_cast<uint16_t>(numbers[4] * 256 + numbers[5]);
  return a;
}
