#include "cli/CliArgs.h"

#include <cctype>
#include <charconv>

#include "cli/NearestName.h"

CliArgs::CliArgs(int argc, char** argv, int first, const std::set<std::string>& valueOptions,
                 const std::set<std::string>& flagOptions) {
  bool onlyPositional = false;
  for (int i = first; i < argc; ++i) {
    std::string a = argv[i];
    // "-3" is a negative number, not an option.
    const bool negativeNumber =
        a.size() >= 2 && a[0] == '-' && std::isdigit(static_cast<unsigned char>(a[1]));
    if (onlyPositional || a.size() < 2 || a[0] != '-' || negativeNumber) {
      positional_.push_back(a);
      continue;
    }
    if (a == "--") {
      onlyPositional = true;
      continue;
    }
    if (a == "--help" || a == "-h") {
      help_ = true;
      continue;
    }
    std::string name = a, value;
    bool inlineValue = false;
    if (auto eq = a.find('='); eq != std::string::npos && a.rfind("--", 0) == 0) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
      inlineValue = true;
    }
    if (valueOptions.count(name)) {
      if (!inlineValue) {
        if (i + 1 >= argc) throw UsageError{"option " + name + " needs a value"};
        value = argv[++i];
      }
      values_[name] = value;
    } else if (flagOptions.count(name) && !inlineValue) {
      values_[name] = "";
    } else {
      std::vector<std::string> known(valueOptions.begin(), valueOptions.end());
      known.insert(known.end(), flagOptions.begin(), flagOptions.end());
      throw UsageError{"unknown option " + name + DidYouMean(name, known)};
    }
  }
}

std::optional<std::string> CliArgs::Value(const std::string& name) const {
  auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::string CliArgs::Require(const std::string& name) const {
  auto v = Value(name);
  if (!v || v->empty()) throw UsageError{"missing " + name};
  return *v;
}

long CliArgs::Number(const std::string& name, long lo, long hi, long fallback) const {
  auto v = Value(name);
  if (!v) return fallback;
  long n = 0;
  auto [ptr, ec] = std::from_chars(v->data(), v->data() + v->size(), n);
  if (ec != std::errc() || ptr != v->data() + v->size() || n < lo || n > hi)
    throw UsageError{name + " must be a whole number from " + std::to_string(lo) + " to " +
                     std::to_string(hi)};
  return n;
}

int CliArgs::Port(const std::string& name, int fallback) const {
  return static_cast<int>(Number(name, 1, 65535, fallback));
}
