#include "meter/IniFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "meter/DataFolder.h"
#include "meter/FileReplace.h"
#include "meter/TextCodec.h"

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A line's text as UTF-8: lines that are not valid UTF-8 came from Windows-1252.
std::string Decoded(const std::string& raw) {
  return IsValidUtf8(raw) ? raw : Windows1252ToUtf8(raw);
}

// "[name]" gives name; anything else gives false.
bool SectionName(const std::string& raw, std::string& name) {
  std::string t = Trim(raw);
  if (t.size() < 2 || t.front() != '[') return false;
  const size_t close = t.find(']');
  if (close == std::string::npos) return false;
  name = Trim(t.substr(1, close - 1));
  return true;
}

// "key=value" gives key and value, both trimmed.
bool KeyValue(const std::string& raw, std::string& key, std::string& value) {
  const size_t eq = raw.find('=');
  if (eq == std::string::npos) return false;
  key = Trim(raw.substr(0, eq));
  if (key.empty() || key[0] == ';') return false;
  value = Trim(raw.substr(eq + 1));
  return true;
}

}  // namespace

bool ParseProfileInteger(const std::string& text, long long& value) {
  std::string t = Trim(text);
  if (t.empty()) return false;
  bool negative = false;
  size_t i = 0;
  if (t[0] == '+' || t[0] == '-') {
    negative = t[0] == '-';
    i = 1;
  }
  int base = 10;
  if (t.size() > i + 1 && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= t.size()) return false;
  unsigned long long magnitude = 0;
  auto [p, ec] = std::from_chars(t.data() + i, t.data() + t.size(), magnitude, base);
  if (ec != std::errc() || p != t.data() + t.size()) return false;
  if (magnitude > 0x7FFFFFFFFFFFFFFFull) return false;
  value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
  return true;
}

CIniFile::CIniFile(std::string path, TIniAccess access) : path_(std::move(path)) { Load(access); }

void CIniFile::Load(TIniAccess access) {
  const bool strict = access != TIniAccess::Lenient;
  auto unfit = [&](const std::string& why) {
    if (strict) throw EIniReadError(why);
  };
  struct stat st {};
  if (lstat(path_.c_str(), &st) != 0) {
    if (errno != ENOENT) unfit("Cannot read " + path_ + ": " + std::strerror(errno));
    return;
  }
  if (access == TIniAccess::Update && S_ISLNK(st.st_mode))
    return unfit(path_ + " is a symbolic link; it is neither read nor replaced.");
  // Non-blocking, so that a FIFO put in the file's place cannot hang us.
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK |
                                           (access == TIniAccess::Update ? O_NOFOLLOW : 0));
  if (fd < 0) return unfit("Cannot read " + path_ + ": " + std::strerror(errno));
  std::string text;
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (regular && st.st_size <= kMaxBytes) {
    text.resize(static_cast<size_t>(kMaxBytes) + 1);
    size_t got = 0;
    while (got < text.size()) {
      const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    text.resize(got);
  }
  ::close(fd);
  if (!regular) return unfit(path_ + " is not a regular file.");
  if (st.st_size > kMaxBytes || static_cast<off_t>(text.size()) > kMaxBytes)
    return unfit(path_ + " is larger than " + std::to_string(kMaxBytes) +
                 " bytes; such a file is not read.");
  exists_ = true;
  mode_ = st.st_mode & 07777;
  if (text.find("\r\n") != std::string::npos) eol_ = "\r\n";
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string raw = text.substr(start, end - start);
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    lines_.push_back(Parse(std::move(raw)));
    start = end + 1;
  }
}

CIniFile::Line CIniFile::Parse(std::string raw) {
  Line line;
  std::string name, value;
  if (SectionName(raw, name)) {
    line.kind = Kind::Section;
    line.name = Lower(Decoded(name));
  } else if (KeyValue(raw, name, value)) {
    line.kind = Kind::Key;
    line.name = Lower(Decoded(name));
  }
  line.raw = std::move(raw);
  return line;
}

void CIniFile::BuildIndex() const {
  if (indexed_) return;
  sections_.clear();
  keys_.clear();
  int header = -1;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const Line& l = lines_[i];
    if (l.kind == Kind::Section) {
      header = static_cast<int>(i);
      sections_.emplace(l.name, header);
    } else if (l.kind == Kind::Key && header >= 0) {
      keys_.emplace(std::to_string(header) + '\n' + l.name, static_cast<int>(i));
    }
  }
  indexed_ = true;
}

int CIniFile::FindSection(const std::string& section) const {
  BuildIndex();
  const auto it = sections_.find(Lower(section));
  return it == sections_.end() ? -1 : it->second;
}

int CIniFile::FindKey(int header, const std::string& key) const {
  BuildIndex();
  const auto it = keys_.find(std::to_string(header) + '\n' + Lower(key));
  return it == keys_.end() ? -1 : it->second;
}

int CIniFile::SectionEnd(int header) const {
  int last = header;
  for (size_t i = static_cast<size_t>(header) + 1; i < lines_.size(); ++i) {
    if (lines_[i].kind == Kind::Section) break;
    if (!Trim(lines_[i].raw).empty()) last = static_cast<int>(i);
  }
  return last + 1;
}

std::string CIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& fallback) const {
  const int header = FindSection(section);
  if (header < 0) return fallback;
  const int at = FindKey(header, key);
  if (at < 0) return fallback;
  std::string k, v;
  KeyValue(lines_[static_cast<size_t>(at)].raw, k, v);
  return Decoded(v);
}

long long CIniFile::ReadInteger(const std::string& section, const std::string& key,
                                long long fallback) const {
  long long v = 0;
  return ParseProfileInteger(ReadString(section, key, ""), v) ? v : fallback;
}

void CIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  std::string oneLine = value;
  for (char& c : oneLine)
    if (c == '\r' || c == '\n') c = ' ';
  const std::string line = key + "=" + oneLine;

  int header = FindSection(section);
  if (header < 0) {
    lines_.push_back(Parse("[" + section + "]"));
    lines_.push_back(Parse(line));
    header = static_cast<int>(lines_.size()) - 2;
    sections_.emplace(lines_[static_cast<size_t>(header)].name, header);
    keys_.emplace(std::to_string(header) + '\n' + lines_.back().name, header + 1);
    modified_ = true;
    return;
  }
  const int at = FindKey(header, key);
  if (at >= 0) {
    Line& existing = lines_[static_cast<size_t>(at)];
    std::string k, v;
    KeyValue(existing.raw, k, v);
    if (Decoded(v) == Trim(oneLine)) return;  // same value: nothing to rewrite
    existing = Parse(line);
    modified_ = true;
    return;
  }
  const int end = SectionEnd(header);
  lines_.insert(lines_.begin() + end, Parse(line));
  if (end == static_cast<int>(lines_.size()) - 1) {
    keys_.emplace(std::to_string(header) + '\n' + lines_.back().name, end);
  } else {
    indexed_ = false;  // the lines after it moved
  }
  modified_ = true;
}

void CIniFile::WriteInteger(const std::string& section, const std::string& key, long long value) {
  WriteString(section, key, std::to_string(value));
}

namespace {

// The temporary files of earlier versions' saves.
constexpr const char* kTempMark = ".krvo-tmp-";
constexpr int kStaleSeconds = 60;

}  // namespace

void CIniFile::RemoveStaleTemporaries() const {
  const size_t slash = path_.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path_.substr(0, slash + 1);
  const std::string prefix =
      (slash == std::string::npos ? path_ : path_.substr(slash + 1)) + kTempMark;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  const time_t now = time(nullptr);
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string path = WithSeparator(folder) + name;
    // A save in progress holds a lock on its file; an old unlocked one was
    // left by a save that was killed.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) continue;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && now - st.st_mtime >= kStaleSeconds &&
        flock(fd, LOCK_EX | LOCK_NB) == 0)
      ::unlink(path.c_str());
    ::close(fd);
  }
  closedir(dir);
}

void CIniFile::Save() {
  const std::string error = "Unable to write to " + path_;
  std::string text;
  for (const Line& l : lines_) {
    text += l.raw;
    text += eol_;
  }
  // A killed save leaves its temporary file: the next writer clears it
  // (those of dead processes), and the old-style ones of earlier versions.
  RemoveStaleTemps(path_);
  RemoveStaleTemporaries();
  std::string temp;
  try {
    temp = CreateTempBeside(path_);
  } catch (const std::exception&) {
    throw EIniWriteError(error, errno);
  }
  const int fd = ::open(temp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    throw EIniWriteError(error, err);
  }
  if (!exists_) {
    const mode_t mask = umask(0);
    umask(mask);
    mode_ = 0666 & ~mask;
  }
  fchmod(fd, mode_);
  size_t done = 0;
  int err = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 && err == 0) err = errno;
  if (done != text.size() || err != 0) {
    ::unlink(temp.c_str());
    throw EIniWriteError(error, err);
  }
  // CommitTemp flushes the file before the rename and removes it on failure.
  if (!CommitTemp(temp, path_)) throw EIniWriteError(error, errno);
  exists_ = true;
  modified_ = false;
}
