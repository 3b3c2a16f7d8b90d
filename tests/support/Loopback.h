#pragma once
// A listening TCP socket on a free loopback port.
int ListenLoopback(int& port);
