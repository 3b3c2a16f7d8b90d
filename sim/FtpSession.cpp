// One control connection of the simulator's FTP server.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "sim/FtpServer.h"

namespace {

constexpr size_t kChunk = 4 << 20;

class Session {
 public:
  Session(int control, const SimFtpOptions& o, const std::string& root)
      : ctl_(control), o_(o), root_(root) {
    // Replies are small writes right after one another (150, then 226): without
    // this each file waits for the client's delayed acknowledgement.
    const int one = 1;
    setsockopt(ctl_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  ~Session() {
    ClosePassive();
    if (ctl_ >= 0) close(ctl_);
  }
  void Run();

 private:
  bool ReadLine(std::string& line, int timeoutMs);
  long commands_ = 0;
  void Reply(const std::string& text) { SendRaw(ctl_, text + "\r\n"); }
  static bool SendRaw(int fd, const std::string& text);
  void Dispatch(const std::string& verb, const std::string& arg);
  // Virtual path of arg relative to the current folder, "" when it leaves the root.
  std::string Resolve(const std::string& arg) const;
  std::string Real(const std::string& virt) const { return root_ + virt; }
  void Pasv();
  void ClosePassive();
  int AcceptData();
  void List(const std::string& arg);
  void Retr(const std::string& arg);
  // Sends the file on the data connection and closes it, obeying the faults
  // and ABOR; false when the session must end.
  bool SendData(int data, int file, long long size);
  std::string ListingLine(const std::string& name, const struct stat& st) const;

  int ctl_;
  const SimFtpOptions& o_;
  std::string root_;
  std::string cwd_ = "/";
  std::string pending_;  // received control bytes not yet a line
  int passive_ = -1;
  bool quit_ = false;
};

bool Session::SendRaw(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool Session::ReadLine(std::string& line, int timeoutMs) {
  for (;;) {
    const size_t lf = pending_.find('\n');
    if (lf != std::string::npos) {
      line = pending_.substr(0, lf);
      pending_.erase(0, lf + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return true;
    }
    pollfd p{ctl_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    char buf[4096];
    const ssize_t n = recv(ctl_, buf, sizeof buf, 0);
    if (n <= 0) {
      quit_ = true;
      return false;
    }
    pending_.append(buf, static_cast<size_t>(n));
    if (pending_.size() > 65536) {
      quit_ = true;
      return false;
    }
  }
}

void Session::Run() {
  if (o_.GreetingCode == 220) {
    Reply("220-Welcome to the KRVO meter.");
    Reply("220-Data logs are under /DataLog.");
    Reply("220 Ready.");
  } else {
    Reply(std::to_string(o_.GreetingCode) + " Service not available, closing control connection.");
    return;
  }
  std::string line;
  while (!quit_) {
    if (!ReadLine(line, o_.IdleCloseMs >= 0 ? static_cast<int>(o_.IdleCloseMs) : 300000)) {
      if (o_.IdleCloseMs >= 0 && !quit_) Reply("421 Timeout.");  // as servers end an idle session
      break;
    }
    const size_t blank = line.find(' ');
    std::string verb = line.substr(0, blank);
    for (char& c : verb) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string arg = blank == std::string::npos ? "" : line.substr(blank + 1);
    if (!o_.HoldCommand.empty() && verb == o_.HoldCommand)
      std::this_thread::sleep_for(std::chrono::seconds(11));  // past the client's read time-out
    Dispatch(verb, arg);
    if (o_.CloseAfterCommands >= 0 && ++commands_ >= o_.CloseAfterCommands && !quit_) {
      Reply("421 Service closing control connection.");
      break;
    }
  }
}

void Session::Dispatch(const std::string& verb, const std::string& arg) {
  if (verb == "USER") {
    if (o_.RefuseLogin) return Reply("530 Login incorrect.");
    return Reply(o_.UserLogsIn ? "230 Login successful." : "331 Please specify the password.");
  }
  if (verb == "PASS")
    return Reply(o_.RefuseLogin ? "530 Login incorrect." : "230 Login successful.");
  if (verb == "SYST") return Reply("215 UNIX Type: L8");
  if (verb == "TYPE") {
    if (arg == "A" || arg == "I")
      return Reply(std::string("200 Switching to ") + (arg == "A" ? "ASCII" : "Binary") + " mode.");
    return Reply("504 Bad TYPE command.");
  }
  if (verb == "NOOP") return Reply("200 NOOP ok.");
  if (verb == "PWD") return Reply("257 \"" + cwd_ + "\" is the current directory");
  if (verb == "CWD") {
    const std::string v = Resolve(arg);
    struct stat st {};
    if (v.empty() || stat(Real(v).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      return Reply("550 Failed to change directory.");
    cwd_ = v;
    return Reply("250 Directory successfully changed.");
  }
  if (verb == "PASV") return Pasv();
  if (verb == "LIST") return List(arg);
  if (verb == "RETR") return Retr(arg);
  if (verb == "ABOR") return Reply("225 No transfer to ABOR.");
  if (verb == "QUIT") {
    Reply("221 Goodbye.");
    quit_ = true;
    return;
  }
  Reply("502 Command not implemented.");
}

std::string Session::Resolve(const std::string& arg) const {
  std::vector<std::string> parts;
  const std::string full = !arg.empty() && arg[0] == '/' ? arg : cwd_ + "/" + arg;
  size_t at = 0;
  while (at <= full.size()) {
    size_t slash = full.find('/', at);
    if (slash == std::string::npos) slash = full.size();
    const std::string part = full.substr(at, slash - at);
    if (part == "..") {
      if (parts.empty()) return "";
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = slash + 1;
  }
  std::string v = "/";
  for (size_t i = 0; i < parts.size(); ++i) v += (i ? "/" : "") + parts[i];
  return v;
}

void Session::ClosePassive() {
  if (passive_ >= 0) close(passive_);
  passive_ = -1;
}

void Session::Pasv() {
  ClosePassive();
  passive_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (bind(passive_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(passive_, 1) != 0 ||
      getsockname(passive_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ClosePassive();
    return Reply("425 Cannot open passive connection.");
  }
  const int port = ntohs(a.sin_port);
  std::string host = o_.PasvHost;
  std::replace(host.begin(), host.end(), '.', ',');
  Reply("227 Entering Passive Mode (" + host + "," + std::to_string(port / 256) + "," +
        std::to_string(port % 256) + ").");
}

int Session::AcceptData() {
  if (passive_ < 0) return -1;
  pollfd p{passive_, POLLIN, 0};
  const int data = poll(&p, 1, 10000) > 0 ? accept4(passive_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
  ClosePassive();
  return data;
}

std::string Session::ListingLine(const std::string& name, const struct stat& st) const {
  const bool dir = S_ISDIR(st.st_mode);
  tm t{};
  localtime_r(&st.st_mtime, &t);
  char line[600];
  if (o_.ListStyle == "dos") {
    char when[32];
    std::snprintf(when, sizeof when, "%02d-%02d-%02d  %02d:%02d%s", t.tm_mon + 1, t.tm_mday,
                  t.tm_year % 100, t.tm_hour % 12 == 0 ? 12 : t.tm_hour % 12, t.tm_min,
                  t.tm_hour < 12 ? "AM" : "PM");
    if (dir) {
      std::snprintf(line, sizeof line, "%s       <DIR>          %s", when, name.c_str());
    } else {
      std::snprintf(line, sizeof line, "%s%21lld %s", when, static_cast<long long>(st.st_size),
                    name.c_str());
    }
    return line;
  }
  char date[32];
  const time_t now = time(nullptr);
  if (now - st.st_mtime < 180L * 86400 && st.st_mtime <= now + 3600) {
    strftime(date, sizeof date, "%b %e %H:%M", &t);
  } else {
    strftime(date, sizeof date, "%b %e  %Y", &t);
  }
  const char* perms = dir ? "drwxr-xr-x" : "-rw-r--r--";
  const long long size = dir ? 4096 : static_cast<long long>(st.st_size);
  if (o_.ListStyle == "nogroup") {
    std::snprintf(line, sizeof line, "%s %3d %-8s %10lld %s %s", perms, dir ? 2 : 1, "krvo", size,
                  date, name.c_str());
  } else {
    std::snprintf(line, sizeof line, "%s %3d %-8s %-8s %10lld %s %s", perms, dir ? 2 : 1, "krvo",
                  "krvo", size, date, name.c_str());
  }
  return line;
}

void Session::List(const std::string& arg) {
  const std::string v = Resolve(arg.empty() || arg[0] == '-' ? "." : arg);
  DIR* d = v.empty() ? nullptr : opendir(Real(v).c_str());
  if (d == nullptr) {
    ClosePassive();
    return Reply("550 Failed to open directory.");
  }
  std::vector<std::string> names;
  while (const dirent* e = readdir(d))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      names.emplace_back(e->d_name);
  closedir(d);
  std::sort(names.begin(), names.end());
  std::string text =
      o_.ListStyle == "dos" ? "" : "total " + std::to_string(names.size() * 8) + "\r\n";
  for (const std::string& n : names) {
    struct stat st {};
    if (stat((Real(v) + "/" + n).c_str(), &st) == 0) text += ListingLine(n, st) + "\r\n";
  }
  const int data = AcceptData();
  if (data < 0) return Reply("425 Use PASV first.");
  Reply("150 Here comes the directory listing.");
  const bool ok = SendRaw(data, text);
  close(data);
  Reply(ok ? "226 Directory send OK." : "426 Failure writing network stream.");
}

void Session::Retr(const std::string& arg) {
  const std::string v = Resolve(arg);
  const int file = v.empty() ? -1 : open(Real(v).c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (file < 0 || fstat(file, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (file >= 0) close(file);
    ClosePassive();
    return Reply("550 Failed to open file.");
  }
  const int data = AcceptData();
  if (data < 0) {
    close(file);
    return Reply("425 Use PASV first.");
  }
  const std::string opening = "150 Opening BINARY mode data connection for " + arg + " (" +
                              std::to_string(st.st_size) + " bytes).";
  if (o_.Early226) {
    SendRaw(ctl_, opening + "\r\n226 Transfer complete.\r\n");
  } else {
    Reply(opening);
  }
  SendData(data, file, st.st_size);
  close(file);
}

bool Session::SendData(int data, int file, long long size) {
  long long sent = 0;
  auto limitFor = [&](long long want) {
    if (o_.AbortAfter >= 0) want = std::min(want, o_.AbortAfter - sent);
    if (o_.StallAfter >= 0) want = std::min(want, o_.StallAfter - sent);
    return want;
  };
  off_t offset = 0;
  while (sent < size) {
    // An ABOR (or QUIT) on the control connection ends the transfer at once;
    // a trickle waits for it between its bytes.
    pollfd p{ctl_, POLLIN, 0};
    if (poll(&p, 1, o_.TrickleMs > 0 && sent > 0 ? static_cast<int>(o_.TrickleMs) : 0) > 0) {
      std::string line;
      if (!ReadLine(line, 1000)) {
        close(data);
        return false;
      }
      if (line.rfind("ABOR", 0) == 0) {
        close(data);
        Reply("426 Connection closed; transfer aborted.");
        Reply("226 Closing data connection.");
        return true;
      }
    }
    const long long want = limitFor(
        std::min<long long>(o_.TrickleMs > 0 ? 1 : static_cast<long long>(kChunk), size - sent));
    if (want <= 0) break;
    const ssize_t n = sendfile(data, file, &offset, static_cast<size_t>(want));
    if (n <= 0) {
      close(data);
      Reply("426 Failure writing network stream.");
      Reply("226 Closing data connection.");
      return true;
    }
    sent += n;
    if (o_.CloseDuringTransfer && sent >= std::min<long long>(size / 2, 65536)) {
      close(data);
      quit_ = true;
      return true;  // the session ends: the control connection closes
    }
  }
  if (sent < size && o_.AbortAfter >= 0 && sent >= o_.AbortAfter) {
    close(data);
    Reply("426 Connection closed; transfer aborted.");
    Reply("226 Closing data connection.");
    return true;
  }
  if (sent < size && o_.StallAfter >= 0) {
    // Keep the data connection open and silent until the client gives up.
    std::string line;
    while (ReadLine(line, 60000)) {
      if (line.rfind("ABOR", 0) == 0) {
        close(data);
        Reply("426 Connection closed; transfer aborted.");
        Reply("226 Closing data connection.");
        return true;
      }
      Reply("503 Transfer in progress.");
    }
    close(data);
    return true;
  }
  close(data);
  if (!o_.Early226) Reply("226 Transfer complete.");
  return true;
}

}  // namespace

void RunFtpSession(int control, const SimFtpOptions& options, const std::string& root) {
  Session(control, options, root).Run();
}
