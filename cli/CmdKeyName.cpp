#include <charconv>
#include <cstdio>

#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "meter/KeyCatalogue.h"

const char* const kKeyNameUsage =
    "usage: krvo keyname ID...\n"
    "  Prints each parameter key id with its column name, TAB-separated.\n";

int CmdKeyName(int argc, char** argv) {
  CliArgs args(argc, argv, 2, {"--data-dir"}, {});
  if (args.Help()) {
    std::fputs(kKeyNameUsage, stdout);
    return 0;
  }
  if (args.Positional().empty()) throw UsageError{"at least one ID is needed"};
  std::vector<int> ids;
  for (const std::string& a : args.Positional()) {
    int id = 0;
    auto [p, ec] = std::from_chars(a.data(), a.data() + a.size(), id);
    if (ec != std::errc() || p != a.data() + a.size()) throw UsageError{"not a key id: " + a};
    ids.push_back(id);
  }
  for (int id : ids) std::printf("%d\t%s\n", id, GetKeyName(id).c_str());
  return 0;
}
