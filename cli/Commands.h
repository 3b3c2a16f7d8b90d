#pragma once
// krvo's subcommands; each returns the process exit code
// (0 success, 1 failure; usage errors are thrown as UsageError).
int CmdInfo(int argc, char** argv);
int CmdSetup(int argc, char** argv);
int CmdShow(int argc, char** argv);
int CmdKeyName(int argc, char** argv);
int CmdLs(int argc, char** argv);
int CmdGet(int argc, char** argv);
int CmdExport(int argc, char** argv);
int CmdDownload(int argc, char** argv);
int CmdSync(int argc, char** argv);
int CmdFleet(int argc, char** argv);
int CmdReport(int argc, char** argv);
int CmdDb(int argc, char** argv);

extern const char* const kInfoUsage;
extern const char* const kSetupUsage;
extern const char* const kShowUsage;
extern const char* const kKeyNameUsage;
extern const char* const kLsUsage;
extern const char* const kGetUsage;
extern const char* const kExportUsage;
extern const char* const kDownloadUsage;
extern const char* const kSyncUsage;
extern const char* const kFleetUsage;
extern const char* const kReportUsage;
extern const char* const kDbUsage;
