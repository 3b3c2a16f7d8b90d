#pragma once
// The address and port of a 227 reply to PASV.
#include <cstdint>
#include <string>

struct TPasvAddress {
  std::string Host;  // the four numbers joined with "."
  uint16_t Port = 0;
};

// Parses the first text line of a 227 reply: the numbers between "(" and ")",
// or else the text after its last blank (a leading "=" or other non-digits
// skipped). Throws EFtpError for fewer than six numbers or any number above 255.
TPasvAddress ParsePasvReply(const std::string& line);
