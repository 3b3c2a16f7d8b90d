#pragma once
// An FTP session for a krvo subcommand, logged in as the window logs in.
#include <string>

#include "cli/CliArgs.h"
#include "retrieval/FtpClient.h"

// Sets up client from --host, --ftp-port, --timeout and --verbose: the data
// idle time-out (60 s by default) keeps a stalled server from hanging a
// script, and Ctrl-C ends the operation.
void ConfigureFtpClient(TFtpClient& client, const CliArgs& args);

// True once Ctrl-C was pressed (after CatchInterrupt).
bool Interrupted();
// From now on Ctrl-C sets Interrupted instead of ending the process.
void CatchInterrupt();
