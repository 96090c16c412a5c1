#include "input/keymap.h"

#include <SDL_keycode.h>
#include <SDL_scancode.h>

#include <array>
#include <atomic>
#include <cctype>

namespace talven::input {

namespace {

// Every key of a US 104 and a Japanese 106/109 keyboard, the numeric keypad,
// F1-F24 and the media keys SDL reports. F16-F24 have no DirectInput names;
// they keep the scan codes the keyboard sends for them.
constexpr KeyRow kKeys[] = {
    {SDL_SCANCODE_ESCAPE, "Escape", 0x1B, 0x01},
    {SDL_SCANCODE_1, "1", 0x31, 0x02},
    {SDL_SCANCODE_2, "2", 0x32, 0x03},
    {SDL_SCANCODE_3, "3", 0x33, 0x04},
    {SDL_SCANCODE_4, "4", 0x34, 0x05},
    {SDL_SCANCODE_5, "5", 0x35, 0x06},
    {SDL_SCANCODE_6, "6", 0x36, 0x07},
    {SDL_SCANCODE_7, "7", 0x37, 0x08},
    {SDL_SCANCODE_8, "8", 0x38, 0x09},
    {SDL_SCANCODE_9, "9", 0x39, 0x0A},
    {SDL_SCANCODE_0, "0", 0x30, 0x0B},
    {SDL_SCANCODE_MINUS, "Minus", 0xBD, 0x0C},
    {SDL_SCANCODE_EQUALS, "Equals", 0xBB, 0x0D},
    {SDL_SCANCODE_BACKSPACE, "Backspace", 0x08, 0x0E},
    {SDL_SCANCODE_TAB, "Tab", 0x09, 0x0F},
    {SDL_SCANCODE_Q, "Q", 0x51, 0x10},
    {SDL_SCANCODE_W, "W", 0x57, 0x11},
    {SDL_SCANCODE_E, "E", 0x45, 0x12},
    {SDL_SCANCODE_R, "R", 0x52, 0x13},
    {SDL_SCANCODE_T, "T", 0x54, 0x14},
    {SDL_SCANCODE_Y, "Y", 0x59, 0x15},
    {SDL_SCANCODE_U, "U", 0x55, 0x16},
    {SDL_SCANCODE_I, "I", 0x49, 0x17},
    {SDL_SCANCODE_O, "O", 0x4F, 0x18},
    {SDL_SCANCODE_P, "P", 0x50, 0x19},
    {SDL_SCANCODE_LEFTBRACKET, "LeftBracket", 0xDB, 0x1A},
    {SDL_SCANCODE_RIGHTBRACKET, "RightBracket", 0xDD, 0x1B},
    {SDL_SCANCODE_RETURN, "Return", 0x0D, 0x1C},
    {SDL_SCANCODE_LCTRL, "LCtrl", 0xA2, 0x1D},
    {SDL_SCANCODE_A, "A", 0x41, 0x1E},
    {SDL_SCANCODE_S, "S", 0x53, 0x1F},
    {SDL_SCANCODE_D, "D", 0x44, 0x20},
    {SDL_SCANCODE_F, "F", 0x46, 0x21},
    {SDL_SCANCODE_G, "G", 0x47, 0x22},
    {SDL_SCANCODE_H, "H", 0x48, 0x23},
    {SDL_SCANCODE_J, "J", 0x4A, 0x24},
    {SDL_SCANCODE_K, "K", 0x4B, 0x25},
    {SDL_SCANCODE_L, "L", 0x4C, 0x26},
    {SDL_SCANCODE_SEMICOLON, "Semicolon", 0xBA, 0x27},
    {SDL_SCANCODE_APOSTROPHE, "Apostrophe", 0xDE, 0x28},
    {SDL_SCANCODE_GRAVE, "Grave", 0xC0, 0x29},
    {SDL_SCANCODE_LSHIFT, "LShift", 0xA0, 0x2A},
    {SDL_SCANCODE_BACKSLASH, "Backslash", 0xDC, 0x2B},
    {SDL_SCANCODE_NONUSHASH, "NonUSHash", 0xDC, 0x2B},
    {SDL_SCANCODE_Z, "Z", 0x5A, 0x2C},
    {SDL_SCANCODE_X, "X", 0x58, 0x2D},
    {SDL_SCANCODE_C, "C", 0x43, 0x2E},
    {SDL_SCANCODE_V, "V", 0x56, 0x2F},
    {SDL_SCANCODE_B, "B", 0x42, 0x30},
    {SDL_SCANCODE_N, "N", 0x4E, 0x31},
    {SDL_SCANCODE_M, "M", 0x4D, 0x32},
    {SDL_SCANCODE_COMMA, "Comma", 0xBC, 0x33},
    {SDL_SCANCODE_PERIOD, "Period", 0xBE, 0x34},
    {SDL_SCANCODE_SLASH, "Slash", 0xBF, 0x35},
    {SDL_SCANCODE_RSHIFT, "RShift", 0xA1, 0x36},
    {SDL_SCANCODE_KP_MULTIPLY, "KP_Multiply", 0x6A, 0x37},
    {SDL_SCANCODE_LALT, "LAlt", 0xA4, 0x38},
    {SDL_SCANCODE_SPACE, "Space", 0x20, 0x39},
    {SDL_SCANCODE_CAPSLOCK, "CapsLock", 0x14, 0x3A},
    {SDL_SCANCODE_F1, "F1", 0x70, 0x3B},
    {SDL_SCANCODE_F2, "F2", 0x71, 0x3C},
    {SDL_SCANCODE_F3, "F3", 0x72, 0x3D},
    {SDL_SCANCODE_F4, "F4", 0x73, 0x3E},
    {SDL_SCANCODE_F5, "F5", 0x74, 0x3F},
    {SDL_SCANCODE_F6, "F6", 0x75, 0x40},
    {SDL_SCANCODE_F7, "F7", 0x76, 0x41},
    {SDL_SCANCODE_F8, "F8", 0x77, 0x42},
    {SDL_SCANCODE_F9, "F9", 0x78, 0x43},
    {SDL_SCANCODE_F10, "F10", 0x79, 0x44},
    {SDL_SCANCODE_NUMLOCKCLEAR, "NumLock", 0x90, 0x45},
    {SDL_SCANCODE_SCROLLLOCK, "ScrollLock", 0x91, 0x46},
    {SDL_SCANCODE_KP_7, "KP_7", 0x67, 0x47},
    {SDL_SCANCODE_KP_8, "KP_8", 0x68, 0x48},
    {SDL_SCANCODE_KP_9, "KP_9", 0x69, 0x49},
    {SDL_SCANCODE_KP_MINUS, "KP_Minus", 0x6D, 0x4A},
    {SDL_SCANCODE_KP_4, "KP_4", 0x64, 0x4B},
    {SDL_SCANCODE_KP_5, "KP_5", 0x65, 0x4C},
    {SDL_SCANCODE_KP_6, "KP_6", 0x66, 0x4D},
    {SDL_SCANCODE_KP_PLUS, "KP_Plus", 0x6B, 0x4E},
    {SDL_SCANCODE_KP_1, "KP_1", 0x61, 0x4F},
    {SDL_SCANCODE_KP_2, "KP_2", 0x62, 0x50},
    {SDL_SCANCODE_KP_3, "KP_3", 0x63, 0x51},
    {SDL_SCANCODE_KP_0, "KP_0", 0x60, 0x52},
    {SDL_SCANCODE_KP_PERIOD, "KP_Period", 0x6E, 0x53},
    {SDL_SCANCODE_NONUSBACKSLASH, "NonUSBackslash", 0xE2, 0x56},
    {SDL_SCANCODE_F11, "F11", 0x7A, 0x57},
    {SDL_SCANCODE_F12, "F12", 0x7B, 0x58},
    {SDL_SCANCODE_F13, "F13", 0x7C, 0x64},
    {SDL_SCANCODE_F14, "F14", 0x7D, 0x65},
    {SDL_SCANCODE_F15, "F15", 0x7E, 0x66},
    {SDL_SCANCODE_F16, "F16", 0x7F, 0x67},
    {SDL_SCANCODE_F17, "F17", 0x80, 0x68},
    {SDL_SCANCODE_F18, "F18", 0x81, 0x69},
    {SDL_SCANCODE_F19, "F19", 0x82, 0x6A},
    {SDL_SCANCODE_F20, "F20", 0x83, 0x6B},
    {SDL_SCANCODE_F21, "F21", 0x84, 0x6C},
    {SDL_SCANCODE_F22, "F22", 0x85, 0x6D},
    {SDL_SCANCODE_F23, "F23", 0x86, 0x6E},
    {SDL_SCANCODE_F24, "F24", 0x87, 0x76},
    {SDL_SCANCODE_INTERNATIONAL2, "Kana", 0x15, 0x70},  // katakana/hiragana
    {SDL_SCANCODE_LANG3, "Katakana", 0x15, 0x70},
    {SDL_SCANCODE_LANG4, "Hiragana", 0x15, 0x70},
    {SDL_SCANCODE_INTERNATIONAL1, "Ro", 0xE2, 0x73},  // \ _ on Japanese keyboards
    {SDL_SCANCODE_INTERNATIONAL4, "Henkan", 0x1C, 0x79},
    {SDL_SCANCODE_INTERNATIONAL5, "Muhenkan", 0x1D, 0x7B},
    {SDL_SCANCODE_INTERNATIONAL3, "Yen", 0xDC, 0x7D},
    {SDL_SCANCODE_LANG5, "Zenkaku", 0x19, 0x94},  // half/full width (kanji)
    {SDL_SCANCODE_LANG1, "Hangul", 0x15, 0xF2},
    {SDL_SCANCODE_LANG2, "Hanja", 0x19, 0xF1},
    {SDL_SCANCODE_KP_EQUALS, "KP_Equals", 0x92, 0x8D},
    {SDL_SCANCODE_AUDIOPREV, "AudioPrev", 0xB1, 0x90},
    {SDL_SCANCODE_AUDIONEXT, "AudioNext", 0xB0, 0x99},
    {SDL_SCANCODE_KP_ENTER, "KP_Enter", 0x0D, 0x9C},
    {SDL_SCANCODE_RCTRL, "RCtrl", 0xA3, 0x9D},
    {SDL_SCANCODE_MUTE, "Mute", 0xAD, 0xA0},
    {SDL_SCANCODE_CALCULATOR, "Calculator", 0xB7, 0xA1},
    {SDL_SCANCODE_AUDIOPLAY, "AudioPlay", 0xB3, 0xA2},
    {SDL_SCANCODE_AUDIOSTOP, "AudioStop", 0xB2, 0xA4},
    {SDL_SCANCODE_VOLUMEDOWN, "VolumeDown", 0xAE, 0xAE},
    {SDL_SCANCODE_VOLUMEUP, "VolumeUp", 0xAF, 0xB0},
    {SDL_SCANCODE_AC_HOME, "BrowserHome", 0xAC, 0xB2},
    {SDL_SCANCODE_KP_COMMA, "KP_Comma", 0x6C, 0xB3},
    {SDL_SCANCODE_KP_DIVIDE, "KP_Divide", 0x6F, 0xB5},
    {SDL_SCANCODE_PRINTSCREEN, "PrintScreen", 0x2C, 0xB7},
    {SDL_SCANCODE_RALT, "RAlt", 0xA5, 0xB8},
    {SDL_SCANCODE_PAUSE, "Pause", 0x13, 0xC5},
    {SDL_SCANCODE_HOME, "Home", 0x24, 0xC7},
    {SDL_SCANCODE_UP, "Up", 0x26, 0xC8},
    {SDL_SCANCODE_PAGEUP, "PageUp", 0x21, 0xC9},
    {SDL_SCANCODE_LEFT, "Left", 0x25, 0xCB},
    {SDL_SCANCODE_RIGHT, "Right", 0x27, 0xCD},
    {SDL_SCANCODE_END, "End", 0x23, 0xCF},
    {SDL_SCANCODE_DOWN, "Down", 0x28, 0xD0},
    {SDL_SCANCODE_PAGEDOWN, "PageDown", 0x22, 0xD1},
    {SDL_SCANCODE_INSERT, "Insert", 0x2D, 0xD2},
    {SDL_SCANCODE_DELETE, "Delete", 0x2E, 0xD3},
    {SDL_SCANCODE_LGUI, "LGui", 0x5B, 0xDB},
    {SDL_SCANCODE_RGUI, "RGui", 0x5C, 0xDC},
    {SDL_SCANCODE_APPLICATION, "Menu", 0x5D, 0xDD},
    {SDL_SCANCODE_POWER, "Power", 0x00, 0xDE},
    {SDL_SCANCODE_SLEEP, "Sleep", 0x5F, 0xDF},
    {SDL_SCANCODE_AC_SEARCH, "BrowserSearch", 0xAA, 0xE5},
    {SDL_SCANCODE_AC_BOOKMARKS, "BrowserFavorites", 0xAB, 0xE6},
    {SDL_SCANCODE_AC_REFRESH, "BrowserRefresh", 0xA8, 0xE7},
    {SDL_SCANCODE_AC_STOP, "BrowserStop", 0xA9, 0xE8},
    {SDL_SCANCODE_AC_FORWARD, "BrowserForward", 0xA7, 0xE9},
    {SDL_SCANCODE_AC_BACK, "BrowserBack", 0xA6, 0xEA},
    {SDL_SCANCODE_COMPUTER, "MyComputer", 0xB6, 0xEB},
    {SDL_SCANCODE_MAIL, "Mail", 0xB4, 0xEC},
    {SDL_SCANCODE_MEDIASELECT, "MediaSelect", 0xB5, 0xED},
    {SDL_SCANCODE_CLEAR, "Clear", 0x0C, 0x00},
    {SDL_SCANCODE_HELP, "Help", 0x2F, 0x00},
    {SDL_SCANCODE_SELECT, "Select", 0x29, 0x00},
    {SDL_SCANCODE_EXECUTE, "Execute", 0x2B, 0x00},
};

// Punctuation on a Japanese 106/109 keyboard: the same positions carry
// other characters, hence other virtual keys, and DirectInput gives the
// keys of its own there.
struct LayoutOverride {
  int scancode;
  std::uint8_t vk, dik;
};
constexpr LayoutOverride kJapanese[] = {
    {SDL_SCANCODE_GRAVE, 0xF3, 0x94},         // half/full width
    {SDL_SCANCODE_EQUALS, 0xDE, 0x90},        // ^ ~
    {SDL_SCANCODE_LEFTBRACKET, 0xC0, 0x91},   // @ `
    {SDL_SCANCODE_RIGHTBRACKET, 0xDB, 0x1B},  // [ {
    {SDL_SCANCODE_BACKSLASH, 0xDD, 0x2B},     // ] }
    {SDL_SCANCODE_NONUSHASH, 0xDD, 0x2B},    {SDL_SCANCODE_SEMICOLON, 0xBB, 0x27},  // ; +
    {SDL_SCANCODE_APOSTROPHE, 0xBA, 0x92},                                          // : *
};

struct Index {
  std::array<const KeyRow*, SDL_NUM_SCANCODES> by_code{};
  Index() {
    for (const KeyRow& r : kKeys)
      if (r.scancode >= 0 && r.scancode < SDL_NUM_SCANCODES && !by_code[r.scancode])
        by_code[r.scancode] = &r;
  }
};

const Index& index() {
  static const Index i;
  return i;
}

std::atomic<bool> japanese{false};

const LayoutOverride* override_of(int scancode) {
  if (!japanese.load(std::memory_order_relaxed)) return nullptr;
  for (const LayoutOverride& o : kJapanese)
    if (o.scancode == scancode) return &o;
  return nullptr;
}

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

const KeyRow* key_by_scancode(int scancode) {
  if (scancode < 0 || scancode >= SDL_NUM_SCANCODES) return nullptr;
  return index().by_code[scancode];
}

const KeyRow* key_by_name(std::string_view name) {
  for (const KeyRow& r : kKeys)
    if (same_name(r.name, name)) return &r;
  return nullptr;
}

std::uint8_t vk_of(int scancode, std::int32_t keycode) {
  if (keycode >= SDLK_a && keycode <= SDLK_z)
    return static_cast<std::uint8_t>('A' + (keycode - SDLK_a));
  // Digits of the main block only: the keypad keeps its own codes.
  if (keycode >= SDLK_0 && keycode <= SDLK_9 &&
      !(scancode >= SDL_SCANCODE_KP_DIVIDE && scancode <= SDL_SCANCODE_KP_PERIOD))
    return static_cast<std::uint8_t>(keycode);
  if (const LayoutOverride* o = override_of(scancode)) return o->vk;
  const KeyRow* r = key_by_scancode(scancode);
  return r ? r->vk : 0;
}

std::uint8_t dik_of(int scancode) {
  if (const LayoutOverride* o = override_of(scancode)) return o->dik;
  const KeyRow* r = key_by_scancode(scancode);
  return r ? r->dik : 0;
}

void use_japanese_layout(bool on) { japanese = on; }
bool japanese_layout() { return japanese.load(); }

int control_char_for_vk(std::uint8_t vk, bool ctrl, bool alt) {
  if (alt) return -1;
  switch (vk) {
    case kVkReturn: return '\r';
    case kVkBack: return '\b';
    case kVkTab: return '\t';
    case kVkEscape: return 0x1B;
    default: break;
  }
  if (ctrl && vk >= 'A' && vk <= 'Z') return vk - 'A' + 1;
  return -1;
}

}  // namespace talven::input
