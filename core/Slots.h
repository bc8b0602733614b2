#pragma once
// The nine source slots: what templates call them, what the window shows, and the colour each
// has before a picture or colour is chosen. Slots are numbered 1..9 as templates and the window
// count them; this table is the one place that knows them.
#include <array>
#include <cstdint>
#include <string_view>

#include "raster/Color.h"

namespace quirlon::core {

inline constexpr int kSlotCount = 9;

enum class TSlot : int { Background = 1, Front, Side, Top, Disc, Front2, Side2, Top2, Disc2 };
constexpr int SlotNumber(TSlot Slot) { return static_cast<int>(Slot); }

struct TSlotInfo {
  TSlot Slot;
  std::string_view Name;       // as a template's "source" names it (upper case; compared ignoring case)
  std::string_view Caption;    // as the window's source panel shows it
  std::string_view Option;     // as the command line and batch files name it
  raster::TColor DefaultColour;  // 0x00BBGGRR
};

inline constexpr std::array<TSlotInfo, kSlotCount> kSlots{{
    {TSlot::Background, "BACKGROUND", "BACKGROUND", "background", 0xFFFFFF},  // 255, 255, 255
    {TSlot::Front, "FRONT", "FRONT", "front", 0xC0DCC0},                      // 192, 220, 192
    {TSlot::Side, "SIDE", "SIDE", "side", 0x808000},                          //   0, 128, 128
    {TSlot::Top, "TOP", "TOP", "top", 0x800080},                              // 128,   0, 128
    {TSlot::Disc, "DISC", "DISC", "disc", 0xF0CAA6},                          // 166, 202, 240
    {TSlot::Front2, "FRONT2", "FRONT 2", "front2", 0x000080},                 // 128,   0,   0
    {TSlot::Side2, "SIDE2", "SIDE 2", "side2", 0x008080},                     // 128, 128,   0
    {TSlot::Top2, "TOP2", "TOP 2", "top2", 0xFFFF00},                         //   0, 255, 255
    {TSlot::Disc2, "DISC2", "DISC 2", "disc2", 0xC0DCC0},                     // 192, 220, 192
}};

// The entry of slot 1..9; nullptr for any other number.
const TSlotInfo* FindSlot(int Slot);
// "BACKGROUND", "FRONT", ... "DISC2" for 1..9; "" for any other number.
const char* SourceSlotName(int Slot);
// The slot 1..9 whose name equals Name without regard to ASCII case, else -1.
int SourceSlotIndex(std::string_view Name);

}  // namespace quirlon::core
