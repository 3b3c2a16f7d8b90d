#pragma once
// --from T and --to T of krvo's commands (T: YYYY-MM-DD or
// YYYY-MM-DD HH:MM[:SS] of the wall clock).
#include "app/report/ReportTime.h"
#include "cli/CliArgs.h"

// Throws UsageError for a time that is none, or a --from after --to.
TTimeRange RangeOptions(const CliArgs& args);
