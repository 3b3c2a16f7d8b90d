#pragma once
// The name a mistyped word was most likely meant to be, for "did you mean"
// hints.
#include <string>
#include <vector>

// The candidate closest to typed (edits, a swap of neighbours counting as
// one, or a unique prefix); empty when none is close enough to be a guess.
std::string NearestName(const std::string& typed, const std::vector<std::string>& candidates);

// "; did you mean 'NAME'?" for NearestName's answer, or "".
std::string DidYouMean(const std::string& typed, const std::vector<std::string>& candidates);
