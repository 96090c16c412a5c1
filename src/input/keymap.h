// Key numbering: one table row per physical key, naming it (the names the
// input files use) and giving its virtual-key code (the plain back end's key
// state index) and its DirectInput scan code (the DirectInput back end's).
//
// Rows are found by SDL scancode (a position on the keyboard, USB usage
// numbering) or by name, case-insensitively. Virtual-key codes of letters and
// digits follow the typed character, so they move with the layout; the
// punctuation keys follow the key position of the layout in use: US 104 by
// default, Japanese 106/109 after use_japanese_layout(true).
//
// The table is constant data; the layout switch is a single flag set at
// start-up on the main thread.
#pragma once

#include <cstdint>
#include <string_view>

namespace talven::input {

struct KeyRow {
  int scancode;      // SDL scancode
  const char* name;  // as written in input files
  std::uint8_t vk;   // virtual-key code (US position), 0: none
  std::uint8_t dik;  // DirectInput scan code, 0: none
};

// Row of a scancode, or null for keys the table does not know.
const KeyRow* key_by_scancode(int scancode);
// Row of a name ("A", "Return", "F13", "KP_7", "Henkan"...), or null.
const KeyRow* key_by_name(std::string_view name);

// Virtual-key code of a key: from the typed character for letters and
// digits (keycode is SDL's, 0 when unknown), else from the position.
std::uint8_t vk_of(int scancode, std::int32_t keycode);
// DirectInput scan code of a key position.
std::uint8_t dik_of(int scancode);

void use_japanese_layout(bool on);
bool japanese_layout();

// Virtual-key codes the key state keeps besides the keys themselves.
constexpr std::uint8_t kVkLButton = 0x01, kVkRButton = 0x02, kVkMButton = 0x04, kVkXButton1 = 0x05,
                       kVkXButton2 = 0x06;
constexpr std::uint8_t kVkShift = 0x10, kVkControl = 0x11, kVkMenu = 0x12;
constexpr std::uint8_t kVkLShift = 0xA0, kVkRShift = 0xA1, kVkLControl = 0xA2, kVkRControl = 0xA3,
                       kVkLMenu = 0xA4, kVkRMenu = 0xA5;
constexpr std::uint8_t kVkBack = 0x08, kVkTab = 0x09, kVkReturn = 0x0D, kVkEscape = 0x1B;

// The control character a key types (Return, Backspace, Tab, Escape,
// Ctrl+letter), or -1 when it types none this way.
int control_char_for_vk(std::uint8_t vk, bool ctrl, bool alt);

}  // namespace talven::input
