#pragma once
// krvo's subcommands; each returns the process exit code
// (0 success, 1 failure, 2 usage error, thrown as UsageError).
int CmdInfo(int argc, char** argv);

extern const char* const kInfoUsage;
