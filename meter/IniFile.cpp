#include "meter/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

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

CIniFile::CIniFile(std::string path) : path_(std::move(path)) {
  std::ifstream in(path_, std::ios::binary);
  if (!in) return;
  exists_ = true;
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string text = ss.str();
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

int CIniFile::FindSection(const std::string& section) const {
  const std::string want = Lower(section);
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == Kind::Section && lines_[i].name == want) return static_cast<int>(i);
  }
  return -1;
}

int CIniFile::FindKey(int header, const std::string& key) const {
  const std::string want = Lower(key);
  for (size_t i = static_cast<size_t>(header) + 1; i < lines_.size(); ++i) {
    if (lines_[i].kind == Kind::Section) break;
    if (lines_[i].kind == Kind::Key && lines_[i].name == want) return static_cast<int>(i);
  }
  return -1;
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
  lines_.insert(lines_.begin() + SectionEnd(header), Parse(line));
  modified_ = true;
}

void CIniFile::WriteInteger(const std::string& section, const std::string& key, long long value) {
  WriteString(section, key, std::to_string(value));
}

void CIniFile::Save() {
  const std::string error = "Unable to write to " + path_;
  std::string text;
  for (const Line& l : lines_) {
    text += l.raw;
    text += eol_;
  }
  std::string tmpl = path_ + ".XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) throw EIniWriteError(error);
  fchmod(fd, 0644);
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool written = done == text.size() && fsync(fd) == 0;
  ::close(fd);
  if (!written || std::rename(name.data(), path_.c_str()) != 0) {
    ::unlink(name.data());
    throw EIniWriteError(error);
  }
  exists_ = true;
  modified_ = false;
}
