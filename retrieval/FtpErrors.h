#pragma once
// The FTP client's one family of errors: each carries its message text; a
// reply error also carries the server's reply code.
#include <stdexcept>
#include <string>

class EFtpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// text cut to a length a person can read in a message box or a terminal,
// ending with a note of how much was left out; shorter texts are unchanged.
std::string ReadableErrorText(const std::string& text);

class FtpReplyError : public EFtpError {
 public:
  // The server chooses the text: it is kept to a readable length.
  FtpReplyError(int code, const std::string& text)
      : EFtpError(ReadableErrorText(text)), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

// "Read Timeout": no data on a connection within its time-out.
class EFtpReadTimeout : public EFtpError {
 public:
  EFtpReadTimeout() : EFtpError("Read Timeout") {}
};

// "Connection Closed Gracefully.": the server closed the control connection.
class EFtpConnClosedGracefully : public EFtpError {
 public:
  EFtpConnClosedGracefully() : EFtpError("Connection Closed Gracefully.") {}
};

// A reply or listing past the limits of what a server may make us hold.
class EFtpLimitError : public EFtpError {
 public:
  using EFtpError::EFtpError;
};

// "Transfer too slow: ...": a data transfer whose average speed over the
// low-speed window stayed below the low-speed limit.
class EFtpTransferTooSlow : public EFtpError {
 public:
  using EFtpError::EFtpError;
};
