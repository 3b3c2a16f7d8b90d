#pragma once
// Parsing of krvo's subcommand options: --name VALUE and --name=VALUE forms,
// flags, and positional arguments.
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct UsageError {
  std::string Message;
};

class CliArgs {
 public:
  // valueOptions take a value; flagOptions take none. Throws UsageError.
  CliArgs(int argc, char** argv, int first, const std::set<std::string>& valueOptions,
          const std::set<std::string>& flagOptions);

  bool Has(const std::string& name) const { return values_.count(name) != 0; }
  std::optional<std::string> Value(const std::string& name) const;
  std::string Require(const std::string& name) const;
  // A whole number from 1 to 65535; throws UsageError otherwise.
  int Port(const std::string& name, int fallback) const;
  long Number(const std::string& name, long lo, long hi, long fallback) const;
  const std::vector<std::string>& Positional() const { return positional_; }
  bool Help() const { return help_; }

 private:
  std::map<std::string, std::string> values_;
  std::vector<std::string> positional_;
  bool help_ = false;
};
