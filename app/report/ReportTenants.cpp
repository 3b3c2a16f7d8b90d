#include "app/report/ReportTenants.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <map>
#include <set>

namespace {

constexpr size_t kMaxFileBytes = 1 << 20;
constexpr size_t kMaxNameBytes = 200;

std::string Trimmed(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  const size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

bool ValidUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80             ? 0
                     : (c & 0xE0) == 0xC0 ? 1
                     : (c & 0xF0) == 0xE0 ? 2
                     : (c & 0xF8) == 0xF0 ? 3
                                          : 4;
    if (n == 4 || i + n >= s.size()) return false;
    for (size_t k = 1; k <= n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n + 1;
  }
  return true;
}

// At most kMaxFileBytes + 1 bytes of a regular file; a FIFO or a device in
// its place is refused rather than waited on.
bool ReadSmallFile(const std::string& path, std::string& text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  char buf[65536];
  while (ok && text.size() <= kMaxFileBytes) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    text.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return ok;
}

bool Logged(int id, const std::array<TDataLogSetup, kGroupCount>& setups) {
  for (const TDataLogSetup& s : setups)
    for (int j = 0; j < std::min<int>(s.KeyNum, kMaxKeys); ++j)
      if (s.keyArr[j] == id) return true;
  return false;
}

}  // namespace

std::vector<TTenant> ReadTenantsFile(const std::string& path,
                                     const std::array<TDataLogSetup, kGroupCount>& setups) {
  std::string text;
  if (!ReadSmallFile(path, text)) throw ETenantsError("Unable to read the tenants file " + path);
  if (text.size() > kMaxFileBytes) throw ETenantsError(path + ": more than 1 MB, no tenants file");
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);

  std::vector<TTenant> tenants;
  std::set<std::string> names;
  size_t at = 0;
  for (int line = 1; at <= text.size(); ++line) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string raw = text.substr(at, end - at);
    at = end + 1;
    auto fail = [&](const std::string& why) {
      throw ETenantsError(path + ":" + std::to_string(line) + ": " + why);
    };
    if (!ValidUtf8(raw)) fail("not UTF-8 text");
    if (const size_t hash = raw.find('#'); hash != std::string::npos) raw.erase(hash);
    const std::string content = Trimmed(raw);
    if (content.empty()) continue;
    const size_t eq = content.find('=');
    if (eq == std::string::npos) fail("no '=' between a name and its key ids");
    TTenant t;
    t.Name = Trimmed(content.substr(0, eq));
    t.Line = line;
    if (t.Name.empty()) fail("no name before '='");
    if (t.Name.size() > kMaxNameBytes) fail("a name longer than 200 bytes");
    for (char c : t.Name)
      if (static_cast<unsigned char>(c) < 0x20) fail("a control character in the name");
    if (!names.insert(t.Name).second) fail("the tenant " + t.Name + " is named twice");
    const std::string ids = content.substr(eq + 1);
    size_t p = 0;
    while (p <= ids.size()) {
      size_t comma = ids.find(',', p);
      if (comma == std::string::npos) comma = ids.size();
      const std::string field = Trimmed(ids.substr(p, comma - p));
      p = comma + 1;
      int id = 0;
      const auto r = std::from_chars(field.data(), field.data() + field.size(), id);
      if (field.empty() || r.ec != std::errc() || r.ptr != field.data() + field.size())
        fail("'" + field + "' is no key id");
      if (!IsEnergyKey(id)) fail("key id " + field + " is no energy register (2000 to 2581)");
      if (!Logged(id, setups)) fail("no group logs key id " + field);
      for (int seen : t.KeyIds)
        if (seen == id) fail("key id " + field + " is listed twice");
      t.KeyIds.push_back(id);
    }
    tenants.push_back(std::move(t));
  }
  return tenants;
}

std::vector<TTenantPeriod> TenantConsumption(const std::vector<TTenant>& tenants,
                                             const TReport& report) {
  std::vector<TTenantPeriod> out;
  for (size_t i = 0; i < tenants.size(); ++i) {
    std::map<TReportSeconds, std::array<double, kEnergyUnits>> periods;
    for (int id : tenants[i].KeyIds) {
      for (const TReportSeries& s : report.Series) {
        if (s.KeyId != id) continue;
        for (const TPeriodStats& p : s.Periods)
          periods[p.Period][static_cast<size_t>(s.Unit)] += p.Consumption;
        break;  // the first group that logs it
      }
    }
    for (const auto& [period, sums] : periods) out.push_back({i, period, sums});
  }
  return out;
}
