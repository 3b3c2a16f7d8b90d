#pragma once
#include <functional>

// Lets pending events run during long work; answers true when the
// application is closing and the work must stop.
using PumpHook = std::function<bool()>;
