#pragma once
// An FTP session for a krvo subcommand, logged in as the window logs in.
#include <string>

#include "cli/CliArgs.h"
#include "retrieval/FtpClient.h"

// Sets up client from --host, --ftp-port, --timeout, --low-speed and
// --verbose: --timeout (60 s by default) bounds every connect and every wait
// for data, so a stalled server cannot hang a script; a transfer slower than
// --low-speed bytes/s (1024; 0: no limit) over --timeout fails, so a trickling
// one cannot either; Ctrl-C ends the operation.
void ConfigureFtpClient(TFtpClient& client, const CliArgs& args);

// True once Ctrl-C was pressed (after CatchInterrupt).
bool Interrupted();
// From now on Ctrl-C sets Interrupted instead of ending the process.
void CatchInterrupt();
