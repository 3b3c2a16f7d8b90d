#pragma once
// The simulated meter's holding registers, encoded here independently of the
// client's decoders.
#include <cstdint>
#include <string>

#include "sim/SimOptions.h"
#include "sim/SimProfile.h"

class MeterImage {
 public:
  // regs points at 65536 registers owned by the caller.
  explicit MeterImage(uint16_t* regs) : regs_(regs) {}

  void LoadIdentity(const SimIdentity& id);
  // Setup blocks of the ten groups (8250 + 71 x g) and the names (6050, 50000 + 20 x (n - 1)).
  void LoadProfile(const SimProfile& profile);
  // Writes the current local time (milliseconds included) into the clock
  // block, or the identity's fixed clock when it has one.
  void UpdateClock();

  void SetU16(uint16_t reg, uint16_t value) { regs_[reg] = value; }
  void SetU32(uint16_t reg, uint32_t value);  // high word first
  // Bytes of text, first character in the high byte, zero-padded to `regs` registers.
  void SetText(uint16_t reg, const std::string& text, int regs);

 private:
  uint16_t* regs_;
  SimIdentity identity_;
};
