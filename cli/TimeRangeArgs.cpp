#include "cli/TimeRangeArgs.h"

namespace {

std::optional<TReportSeconds> TimeOption(const CliArgs& args, const std::string& name) {
  const auto v = args.Value(name);
  if (!v) return std::nullopt;
  TReportSeconds t = 0;
  if (!ParseReportTime(*v, t))
    throw UsageError{name + " needs YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS]"};
  return t;
}

}  // namespace

TTimeRange RangeOptions(const CliArgs& args) {
  TTimeRange range;
  range.From = TimeOption(args, "--from");
  range.To = TimeOption(args, "--to");
  if (range.From && range.To && *range.From > *range.To) throw UsageError{"--from is after --to"};
  return range;
}
