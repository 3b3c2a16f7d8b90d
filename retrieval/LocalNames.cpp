#include "retrieval/LocalNames.h"

#include <cstdint>
#include <cstdio>
#include <set>

#include "meter/DataFolder.h"

namespace {

constexpr size_t kMaxNameBytes = 255;

std::string HashSuffix(const std::string& name) {
  uint32_t h = 2166136261u;  // FNV-1a: stable across runs and builds
  for (const char c : name) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  char text[16];
  std::snprintf(text, sizeof text, "~%08x", h);
  return text;
}

// Cuts a name to at most n bytes without splitting a UTF-8 character.
std::string CutTo(const std::string& text, size_t n) {
  if (text.size() <= n) return text;
  size_t cut = n;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::string LocalLogName(const std::string& remoteName) {
  if (remoteName.empty()) return "";
  std::string safe = SafePathComponent(remoteName);
  // Names of our own making (temporary files, kept partial bytes) are never
  // a remote file's: such a name is changed like an unsafe one.
  const bool reserved = safe.find(".~krvo-") != std::string::npos || EndsWith(safe, ".partial");
  if (safe == remoteName && !reserved) return safe;
  if (reserved) {
    for (size_t at = safe.find(".~krvo-"); at != std::string::npos; at = safe.find(".~krvo-", at))
      safe[at] = '_';
    const std::string suffix = HashSuffix(remoteName);
    return CutTo(safe, kMaxNameBytes - suffix.size()) + suffix;
  }
  // The suffix goes before the extension, so a ".dat" file stays one.
  const size_t dot = safe.rfind('.');
  const std::string ext =
      dot == std::string::npos || dot == 0 || safe.size() - dot > 16 ? "" : safe.substr(dot);
  const std::string stem = safe.substr(0, safe.size() - ext.size());
  const std::string suffix = HashSuffix(remoteName);
  return CutTo(stem, kMaxNameBytes - suffix.size() - ext.size()) + suffix + ext;
}

std::unordered_map<std::string, std::string> LocalLogNames(
    const std::vector<std::string>& remoteNames) {
  std::unordered_map<std::string, std::string> out;
  std::set<std::string> taken;
  // Names kept as they are claim their local names first, so that a changed
  // name can never take the place of a real one.
  for (int pass = 0; pass < 2; ++pass) {
    for (const std::string& remote : remoteNames) {
      if (out.count(remote) != 0) continue;
      const std::string local = LocalLogName(remote);
      if ((local == remote) != (pass == 0)) continue;
      out[remote] = !local.empty() && taken.insert(local).second ? local : "";
    }
  }
  return out;
}

std::string PartialName(const std::string& localName) {
  const std::string partial = localName + ".partial";
  return partial.size() <= kMaxNameBytes ? partial : "";
}
