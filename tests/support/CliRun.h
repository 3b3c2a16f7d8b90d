#pragma once
// krvo run to its end in the tests' locale with the link's diagnostics off,
// and bytes shown as hex for comparisons of names.
#include <string>
#include <vector>

#include "tests/support/Process.h"

inline ProcessResult Krvo(std::vector<std::string> args, std::vector<std::string> env = {}) {
  args.insert(args.begin(), KrvoPath());
  env.insert(env.end(), {"LC_ALL=C", "KRVO_DEBUG=0"});
  return RunProcess(args, env);
}

inline std::string Hex(const std::string& bytes) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}
