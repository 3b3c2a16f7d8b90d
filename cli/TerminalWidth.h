#pragma once
// The width of the terminal on stderr, read again after each SIGWINCH.

// Starts watching for SIGWINCH (once per process).
void WatchTerminalWidth();
// True once per resize since the last call: the line wants a redraw.
bool TerminalResized();
// Columns of the terminal on stderr; 80 when it does not say.
int TerminalColumns();
