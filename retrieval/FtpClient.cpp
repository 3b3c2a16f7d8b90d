#include "retrieval/FtpClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>

#include "retrieval/FtpErrors.h"
#include "retrieval/FtpListing.h"
#include "retrieval/FtpPasv.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPumpEvery = std::chrono::milliseconds(250);

bool IsDottedIPv4(const std::string& host) {
  in_addr a{};
  return inet_pton(AF_INET, host.c_str(), &a) == 1;
}

sockaddr_in Resolve(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &res);
  if (rc != 0 || res == nullptr) {
    throw EFtpError("Socket Error # " + std::to_string(rc) + "\nHost not found: " + host);
  }
  sockaddr_in a = *reinterpret_cast<const sockaddr_in*>(res->ai_addr);
  freeaddrinfo(res);
  a.sin_port = htons(static_cast<uint16_t>(port));
  return a;
}

// A file descriptor that closes itself.
struct LocalFile {
  int fd;
  ~LocalFile() {
    if (fd >= 0) ::close(fd);
  }
};

// The bytes of a transfer over a sliding window: samples of the running
// total, the oldest at or before the window's start.
class CSpeedWindow {
 public:
  CSpeedWindow(int64_t limit, int windowMs)
      : limit_(limit), window_(std::chrono::milliseconds(windowMs)), samples_{{Clock::now(), 0}} {}

  // Throws EFtpTransferTooSlow once a whole window has passed below the limit.
  void Check(int64_t total) {
    const auto now = Clock::now();
    if (now - samples_.back().first >= window_ / 16) samples_.emplace_back(now, total);
    while (samples_.size() > 1 && samples_[1].first <= now - window_) samples_.pop_front();
    const auto span = now - samples_.front().first;
    if (span < window_) return;
    const int64_t bytes = total - samples_.front().second;
    const double seconds = std::chrono::duration<double>(span).count();
    if (static_cast<double>(bytes) >= static_cast<double>(limit_) * seconds) return;
    char text[160];
    std::snprintf(text, sizeof text,
                  "Transfer too slow: %lld bytes in the last %.1f s, below %lld bytes/s.",
                  static_cast<long long>(bytes), seconds, static_cast<long long>(limit_));
    throw EFtpTransferTooSlow(text);
  }

 private:
  int64_t limit_;
  Clock::duration window_;
  std::deque<std::pair<Clock::time_point, int64_t>> samples_;
};

}  // namespace

TFtpClient::~TFtpClient() {
  if (data_) data_->Close();
  control_.Close();
}

void TFtpClient::Status(TFtpStatus kind, const std::string& text) {
  if (OnStatus) OnStatus(kind, text);
}

void TFtpClient::BetweenSlices() {
  if (Pump && Pump()) {
    // The application is closing: end the session so the wait ends.
    if (data_) data_->Close();
    if (control_.IsOpen()) Disconnect();
  }
}

void TFtpClient::SendCmd(const std::string& command) {
  if (OnCommand) OnCommand(command);
  control_.SendAll(command + "\r\n");
}

const TFtpReply& TFtpClient::ReadReply() {
  const auto hook = [this] { BetweenSlices(); };
  for (;;) {
    if (auto reply = reader_.NextReply()) {
      lastReply_ = std::move(*reply);
      return lastReply_;
    }
    if (!control_.IsOpen()) throw EFtpError("Not connected.");
    switch (control_.WaitReadable(ReadTimeout, hook)) {
      case CFtpConnection::WaitResult::TimedOut:
        throw EFtpReadTimeout();
      case CFtpConnection::WaitResult::Closed:
        throw EFtpError("Not connected.");
      case CFtpConnection::WaitResult::Ready:
        break;
    }
    char buf[4096];
    const long n = control_.Receive(buf, sizeof buf);
    if (n == 0) {
      peerClosed_ = true;
      throw EFtpConnClosedGracefully();
    }
    if (n < 0) throw EFtpError(SocketErrorText(errno));
    reader_.Feed(buf, static_cast<size_t>(n));
  }
}

const TFtpReply& TFtpClient::Expect(std::initializer_list<int> codes) {
  const TFtpReply& r = ReadReply();
  if (codes.size() != 0 && std::find(codes.begin(), codes.end(), r.Code) == codes.end())
    throw FtpReplyError(r.Code, r.JoinedText());
  return r;
}

const TFtpReply& TFtpClient::SendCmd(const std::string& command, std::initializer_list<int> codes) {
  SendCmd(command);
  return Expect(codes);
}

void TFtpClient::OpenSession() {
  if (control_.IsOpen()) throw EFtpError("Already connected.");
  try {
    if (!IsDottedIPv4(Host)) Status(TFtpStatus::hsResolving, "Resolving hostname " + Host + ".");
    const sockaddr_in to = Resolve(Host, Port);
    Status(TFtpStatus::hsConnecting, "Connecting to " + AddressText(to) + ".");
    reader_.Reset();
    peerClosed_ = false;
    control_.Connect(to, ConnectTimeout, [this] { BetweenSlices(); });
    Status(TFtpStatus::hsConnected, "Connected.");
    greeting_ = Expect({220});
    const TFtpReply& user = SendCmd("USER " + Username, {230, 331});
    if (user.Code == 331) SendCmd("PASS " + Password, {230});
    loginReply_ = lastReply_;
    SendCmd(transferType_ == TFtpTransferType::ftASCII ? "TYPE A" : "TYPE I", {200});
    const TFtpReply& syst = SendCmd("SYST", {200, 215, 500});
    system_ = syst.Code == 500 ? "Unknown" : (syst.Text.empty() ? "" : syst.Text[0]);
    Status(TFtpStatus::ftpReady, "Connection established");
  } catch (...) {
    Disconnect();
    throw;
  }
}

void TFtpClient::SendNoop() { SendCmd("NOOP", {200}); }

void TFtpClient::ChangeFolder(const std::string& path) { SendCmd("CWD " + path, {200, 250}); }

void TFtpClient::SetTransferType(TFtpTransferType type) {
  if (type == transferType_ || data_) return;
  transferType_ = type;
  if (control_.IsOpen()) SendCmd(type == TFtpTransferType::ftASCII ? "TYPE A" : "TYPE I", {200});
}

void TFtpClient::ReadData(const std::function<void(const char*, size_t)>& sink) {
  const size_t blockSize = static_cast<size_t>(std::max(1, RecvBufferSize));
  if (block_.size() != blockSize) block_.assign(blockSize, 0);
  const auto hook = [this] { BetweenSlices(); };
  if (OnWorkBegin) OnWorkBegin(TWorkMode::wmRead, 0);
  size_t filled = 0;
  int64_t total = 0;
  auto lastPump = Clock::now();
  const bool lowSpeed = LowSpeedLimit > 0 && LowSpeedTime > 0;
  CSpeedWindow speed(LowSpeedLimit, LowSpeedTime);
  auto lastData = Clock::now();
  try {
    for (;;) {
      int waitMs = DataIdleTimeout;
      if (lowSpeed) {
        // Wake once a slice to look at the speed, also while nothing comes.
        waitMs = CFtpConnection::kWaitSliceMs;
        if (DataIdleTimeout > 0) {
          const auto idle =
              std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastData)
                  .count();
          waitMs = static_cast<int>(std::clamp<long long>(DataIdleTimeout - idle, 1, waitMs));
        }
      }
      const auto wait = data_->WaitReadable(waitMs, hook);
      if (wait == CFtpConnection::WaitResult::TimedOut) {
        if (!lowSpeed || (DataIdleTimeout > 0 &&
                          Clock::now() - lastData >= std::chrono::milliseconds(DataIdleTimeout)))
          throw EFtpReadTimeout();
        // Silence is the idle time-out's to report, when there is one.
        if (DataIdleTimeout <= 0) speed.Check(total);
        hook();  // a wait of one slice runs none
        continue;
      }
      if (wait == CFtpConnection::WaitResult::Closed) break;  // aborted: what came stays
      const long n = data_->Receive(block_.data() + filled, blockSize - filled);
      if (n == 0) break;
      if (n < 0) {
        if (!data_->IsOpen()) break;
        throw EFtpError(SocketErrorText(errno));
      }
      filled += static_cast<size_t>(n);
      total += n;
      lastData = Clock::now();
      if (lowSpeed) speed.Check(total);
      if (filled == blockSize) {
        filled = 0;
        sink(block_.data(), blockSize);
        if (OnWork) OnWork(TWorkMode::wmRead, static_cast<int32_t>(total));
      }
      // Data that keeps flowing must not starve the window either.
      if (Clock::now() - lastPump >= kPumpEvery) {
        hook();
        lastPump = Clock::now();
      }
    }
  } catch (...) {
    // Whatever arrived before the failure is kept, not dropped with the block.
    if (filled != 0) sink(block_.data(), filled);
    throw;
  }
  if (filled != 0) sink(block_.data(), filled);
  if (OnWorkEnd) OnWorkEnd(TWorkMode::wmRead);
}

void TFtpClient::Transfer(const std::string& command,
                          const std::function<void(const char*, size_t)>& sink) {
  Status(TFtpStatus::ftpTransfer, "Starting FTP transfer");
  try {
    const TFtpReply& pasv = SendCmd("PASV", {227});
    const TPasvAddress where = ParsePasvReply(pasv.Text.empty() ? "" : pasv.Text[0]);
    pasvHost_ = where.Host;
    // The data connection goes to the server we are talking to, whatever
    // address its reply names: a reply must not send us to another host.
    sockaddr_in to = control_.Peer();
    to.sin_port = htons(where.Port);
    transferAborted_ = false;
    data_ = std::make_unique<CFtpConnection>();
    data_->Connect(to, ConnectTimeout, [this] { BetweenSlices(); });
    SendCmd(command, {125, 150, 154});
    ReadData(sink);
    data_.reset();
  } catch (...) {
    data_.reset();
    Status(TFtpStatus::ftpReady, "Transfer complete");
    throw;
  }
  Status(TFtpStatus::ftpReady, "Transfer complete");
  const TFtpReply& done = Expect({225, 226, 250, 426, 450});
  if (done.Code == 426 || done.Code == 450) {
    transferAborted_ = true;
    Expect({226, 225});
    Status(TFtpStatus::ftpAborted, "Transfer aborted");
  }
}

void TFtpClient::ListFolder(std::vector<std::string>* lines, const std::string& specifier,
                            bool details) {
  std::string trimmed = specifier;
  trimmed.erase(0, trimmed.find_first_not_of(' '));
  trimmed.erase(trimmed.find_last_not_of(' ') + 1);
  std::string text;
  const std::string command = (details ? "LIST " : "NLST ") + trimmed;
  Transfer(command.substr(0, command.find_last_not_of(' ') + 1), [&](const char* p, size_t n) {
    if (text.size() + n > MaxListingBytes)
      throw EFtpLimitError("Listing exceeds " + std::to_string(MaxListingBytes) + " bytes.");
    text.append(p, n);
  });
  listingParsed_ = false;
  listing_.clear();
  listingLines_.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    listingLines_.push_back(text.substr(start, end - start));
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
      ++end;
    start = end + 1;
  }
  if (lines != nullptr) *lines = listingLines_;
}

const std::vector<TFtpListEntry>& TFtpClient::Listing() {
  if (!listingParsed_) {
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    listing_ = ParseListing(listingLines_, local);
    listingParsed_ = true;
  }
  return listing_;
}

void TFtpClient::FetchFile(const std::string& remoteName, const std::string& localPath,
                           bool overwrite, bool /*resume*/) {
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL);
  LocalFile file{::open(localPath.c_str(), flags, 0644)};
  if (file.fd < 0)
    throw EFtpError("Cannot create file \"" + localPath + "\". " + std::strerror(errno));
  Transfer("RETR " + remoteName, [&](const char* p, size_t n) {
    while (n > 0) {
      const ssize_t w = ::write(file.fd, p, n);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0)
        throw EFtpError("Cannot write file \"" + localPath + "\". " + std::strerror(errno));
      p += w;
      n -= static_cast<size_t>(w);
    }
  });
}

void TFtpClient::AbortTransfer() {
  if (control_.IsOpen()) {
    try {
      SendCmd("ABOR");
    } catch (const EFtpError&) {
      // A broken control connection shows at the next reply.
    }
  }
  if (data_) data_->Close();
}

void TFtpClient::CloseSession() {
  if (control_.IsOpen()) {
    try {
      SendCmd("QUIT");
    } catch (const EFtpError&) {
    }
  }
  Disconnect();
}

bool TFtpClient::IsConnected() {
  if (control_.IsOpen() && peerClosed_) {
    control_.Close();
    peerClosed_ = false;
    Status(TFtpStatus::hsDisconnected, "Disconnected.");
    if (OnDisconnected) OnDisconnected();
  }
  return control_.IsOpen();
}

void TFtpClient::Disconnect() {
  Status(TFtpStatus::hsDisconnecting, "Disconnecting.");
  if (data_) data_->Close();
  control_.Close();
  reader_.Reset();
  peerClosed_ = false;
  if (OnDisconnected) OnDisconnected();
  Status(TFtpStatus::hsDisconnected, "Disconnected.");
}

bool FtpCloseQuietly(TFtpClient& client) {
  try {
    client.AbortTransfer();
    client.CloseSession();
    client.Disconnect();
    return true;
  } catch (const EFtpError&) {
    return false;
  }
}

bool FtpConnectedQuietly(TFtpClient& client) {
  try {
    return client.IsConnected();
  } catch (const EFtpError&) {
    return false;
  }
}
