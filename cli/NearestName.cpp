#include "cli/NearestName.h"

#include <algorithm>

namespace {

// Optimal string alignment distance: insertions, deletions, substitutions
// and swaps of neighbours, each one edit.
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

}  // namespace

std::string NearestName(const std::string& typed, const std::vector<std::string>& candidates) {
  if (typed.empty()) return "";
  std::string best;
  size_t bestDistance = 0;
  bool tie = false;
  for (const std::string& c : candidates) {
    const size_t d = EditDistance(typed, c);
    // Two edits at most, and fewer than half the name: "xx" is no guess at "ls".
    if (d > 2 || d * 2 > c.size()) continue;
    if (best.empty() || d < bestDistance) {
      best = c;
      bestDistance = d;
      tie = false;
    } else if (d == bestDistance) {
      tie = true;
    }
  }
  if (!best.empty() && !tie) return best;
  // An abbreviation that only one name begins with.
  std::string prefixOf;
  for (const std::string& c : candidates) {
    if (typed.size() < 2 || c.compare(0, typed.size(), typed) != 0) continue;
    if (!prefixOf.empty()) return "";
    prefixOf = c;
  }
  return prefixOf;
}

std::string DidYouMean(const std::string& typed, const std::vector<std::string>& candidates) {
  const std::string name = NearestName(typed, candidates);
  return name.empty() ? "" : "; did you mean '" + name + "'?";
}
