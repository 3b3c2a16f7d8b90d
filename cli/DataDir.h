#pragma once
#include "cli/CliArgs.h"

// --data-dir DIR overrides the base folder for this run.
void ApplyDataDir(const CliArgs& args);
