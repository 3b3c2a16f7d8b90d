#pragma once
// What the report makes of a key id: a cumulative energy register or a
// power quantity, a sub-meter loading, the unit of an energy, and the
// circuit name a column is labelled with.
#include <string>

#include "meter/MeterState.h"

enum class TEnergyUnit { kWh = 0, kvarh = 1, kVAh = 2 };
constexpr int kEnergyUnits = 3;

// Key ids 2000 to 2581: every kWh, kvarh and kVAh register.
bool IsEnergyKey(int keyId);
// Sub-meter loading in % (ids 200 to 1739 ending in 5).
bool IsLoadingKey(int keyId);
// The unit of an energy key, from its caption.
TEnergyUnit EnergyUnitOf(int keyId);
const char* EnergyUnitName(TEnergyUnit unit);

// A single-phase sub-meter's column: its branch's name; a mains column: the
// mains input's name; any other column: "".
std::string CircuitOf(int keyId, const TPanelName& names);
