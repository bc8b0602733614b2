#include "core/Slots.h"

#include "core/IniFile.h"

namespace quirlon::core {

const TSlotInfo* FindSlot(int Slot) {
  return Slot >= 1 && Slot <= kSlotCount ? &kSlots[static_cast<std::size_t>(Slot - 1)] : nullptr;
}

const char* SourceSlotName(int Slot) {
  const TSlotInfo* info = FindSlot(Slot);
  return info != nullptr ? info->Name.data() : "";
}

int SourceSlotIndex(std::string_view Name) {
  const std::string upper = AsciiUpperCase(Name);
  for (const TSlotInfo& s : kSlots)
    if (upper == s.Name) return SlotNumber(s.Slot);
  return -1;
}

}  // namespace quirlon::core
