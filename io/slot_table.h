// The numbered slots of a FileService: a table that grows to cover the
// numbers callers choose.
#pragma once

#include <memory>
#include <vector>

namespace mpo {

// Slot numbers are chosen by callers; a table this large is already far
// beyond any real use and keeps a stray number from exhausting memory.
inline constexpr int kMaxSlots = 1 << 16;

// Empties `slot` (closing what it held) and makes the table cover it. False
// for a negative or absurdly large slot number.
template <class T>
bool claim_slot(std::vector<std::unique_ptr<T>>& table, int slot) {
  if (slot < 0 || slot >= kMaxSlots) return false;
  if (static_cast<size_t>(slot) >= table.size()) table.resize(static_cast<size_t>(slot) + 1);
  table[static_cast<size_t>(slot)].reset();
  return true;
}

// What `slot` holds; null for an empty or unknown slot.
template <class T>
T* slot_entry(const std::vector<std::unique_ptr<T>>& table, int slot) {
  if (slot < 0 || static_cast<size_t>(slot) >= table.size()) return nullptr;
  return table[static_cast<size_t>(slot)].get();
}

}  // namespace mpo
