#pragma once
// The FTP client session the viewer drives: log in, change folder, list a
// folder, fetch a file over passive data connections, abort, close. It
// reports through five events and raises EFtpError (FtpErrors.h).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "retrieval/FtpConnection.h"
#include "retrieval/FtpReplyReader.h"
#include "retrieval/FtpTypes.h"

// The anonymous password the viewer logs in with, in the e-mail form servers expect.
constexpr const char* kAnonymousFtpPassword = "krvo-viewer@localhost";

class TFtpClient {
 public:
  // Settings.
  std::string Host;
  int Port = 21;
  std::string Username;
  std::string Password;
  bool Passive = true;
  int ReadTimeout = 10000;       // ms, control connection
  int ConnectTimeout = 120000;   // ms, each TCP connect
  int RecvBufferSize = 2048000;  // bytes of one progress block
  int DataIdleTimeout = 0;       // ms without data on a data connection; 0 = none
  // A data transfer whose average speed over the last LowSpeedTime ms stays
  // below LowSpeedLimit bytes/s fails (a trickle is bounded, not each wait
  // alone); 0 in either = no limit.
  int64_t LowSpeedLimit = 0;
  int LowSpeedTime = 0;
  size_t MaxListingBytes = 16 * 1024 * 1024;  // largest listing held

  // Events.
  std::function<void(TFtpStatus, const std::string&)> OnStatus;
  std::function<void(TWorkMode, int32_t)> OnWorkBegin;  // maximum count (0: unknown)
  std::function<void(TWorkMode, int32_t)> OnWork;       // count since the begin event
  std::function<void(TWorkMode)> OnWorkEnd;
  std::function<void()> OnDisconnected;
  // Runs pending window events between wait slices; true once the
  // application is closing, which ends the operation.
  std::function<bool()> Pump;
  // Every command line as sent (diagnostics).
  std::function<void(const std::string&)> OnCommand;

  TFtpClient() = default;
  ~TFtpClient();
  TFtpClient(const TFtpClient&) = delete;
  TFtpClient& operator=(const TFtpClient&) = delete;

  void OpenSession();
  void SendNoop();
  void ChangeFolder(const std::string& path);
  TFtpTransferType TransferType() const { return transferType_; }
  void SetTransferType(TFtpTransferType type);
  // LIST (details) or NLST; lines, when given, receives the listing's lines.
  void ListFolder(std::vector<std::string>* lines, const std::string& specifier, bool details);
  // The parsed entries of the last listing.
  const std::vector<TFtpListEntry>& Listing();
  const std::vector<std::string>& ListingLines() const { return listingLines_; }
  // Fetches into localPath (created anew); what arrived stays on failure.
  void FetchFile(const std::string& remoteName, const std::string& localPath, bool overwrite = true,
                 bool resume = false);
  void AbortTransfer();
  void CloseSession();
  bool IsConnected();
  void Disconnect();

  const TFtpReply& LastReply() const { return lastReply_; }
  // Whether the last transfer ended with 426 or 450 ("Transfer aborted"):
  // it ends normally, yet its data is cut.
  bool LastTransferAborted() const { return transferAborted_; }
  const TFtpReply& Greeting() const { return greeting_; }
  const TFtpReply& LoginReply() const { return loginReply_; }
  const std::string& SystemDescription() const { return system_; }
  // The address the last PASV reply named (data goes to the control peer).
  const std::string& PasvHost() const { return pasvHost_; }

 private:
  void Status(TFtpStatus kind, const std::string& text);
  void BetweenSlices();
  void SendCmd(const std::string& command);
  const TFtpReply& ReadReply();
  const TFtpReply& Expect(std::initializer_list<int> codes);
  const TFtpReply& SendCmd(const std::string& command, std::initializer_list<int> codes);
  void Transfer(const std::string& command, const std::function<void(const char*, size_t)>& sink);
  void ReadData(const std::function<void(const char*, size_t)>& sink);

  CFtpConnection control_;
  std::unique_ptr<CFtpConnection> data_;
  CFtpReplyReader reader_;
  bool peerClosed_ = false;
  bool transferAborted_ = false;
  TFtpTransferType transferType_ = TFtpTransferType::ftBinary;
  TFtpReply lastReply_, greeting_, loginReply_;
  std::string system_;
  std::string pasvHost_;
  std::vector<std::string> listingLines_;
  std::vector<TFtpListEntry> listing_;
  bool listingParsed_ = false;
  std::vector<char> block_;
};

// Ends the session whatever state it is in (abort, QUIT, close); false when
// the client's errors got in the way. The errors are not passed on.
bool FtpCloseQuietly(TFtpClient& client);
// Whether the session is open; a client error counts as closed.
bool FtpConnectedQuietly(TFtpClient& client);
