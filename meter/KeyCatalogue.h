#pragma once
// The meter's parameter keys: the name of each logged quantity and the
// divisor that scales its raw logged value.
#include <string>

// The column name of a key id; "None" for an id without a name.
std::string GetKeyName(int keyId);
// The raw .dat value of a key is divided by this; 1 for ids without a scale.
double KeyDivisor(int keyId);
