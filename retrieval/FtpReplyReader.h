#pragma once
// Turns the bytes of a control connection into reply lines and replies,
// bounding what a server can make us hold. Knows no sockets.
#include <cstddef>
#include <optional>
#include <string>

#include "retrieval/FtpTypes.h"

class CFtpReplyReader {
 public:
  static constexpr size_t kMaxLineLength = 32768;
  static constexpr size_t kMaxReplyLines = 10000;
  // Far beyond any real server's reply; a bound on what one can make us hold.
  static constexpr size_t kMaxReplyBytes = 1024 * 1024;

  // Adds received bytes. Throws EFtpError "Max line length exceeded." when a
  // line grows past the limit before its end arrives.
  void Feed(const char* data, size_t n);
  // The next complete reply, if its lines have all arrived. Throws the line
  // limit errors. Bytes after the reply stay for the next call.
  std::optional<TFtpReply> NextReply();
  // Drops everything buffered (a new connection).
  void Reset();
  bool HasPendingBytes() const { return !buffer_.empty(); }

 private:
  // The next line (CR LF or LF ended, trimmed), or nothing when incomplete.
  std::optional<std::string> NextLine();

  std::string buffer_;
  // A multi-line reply being assembled.
  bool inReply_ = false;
  std::string prefix_;
  TFtpReply reply_;
  size_t replyBytes_ = 0;
};

// Reply code of a line: its first three characters as a number, else 0.
int ReplyCodeOf(const std::string& line);
