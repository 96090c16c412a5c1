// Game configuration: the keys of the private-profile files beside the game
// (and in the player's documents folder), read once at start.
//
// Values are process-wide; they are written on the main thread before the
// first script thread starts, and read everywhere without a lock. The few
// that change during a run (Confirmation, the window keys, FullScreen) are
// single words written by one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace talven {

struct Config {
  // General
  std::string Company;  // 260
  std::string Product;  // 260
  std::int32_t Inheritance = 1;
  std::int32_t DebugMode = 0;
  std::int32_t Error = 1;
  std::int32_t MultiInstance = 0;
  std::string Title;  // 256
  std::int32_t FileSystem = 1;
  std::string Icon;  // 260: game path of the window's icon image (PNG or BMP; "" = none)
  // Window
  std::int32_t Resize = 0;
  std::int32_t RestoreBounds = 1;
  std::int32_t WindowLeft = 0;
  std::int32_t WindowTop = 0;
  std::int32_t WindowWidth = 0;
  std::int32_t WindowHeight = 0;
  // Screen
  std::int32_t Width = 1280;
  std::int32_t Height = 720;
  std::int32_t Depth = 24;
  std::int32_t FullScreen = 0;
  std::int32_t FixedAspectRatio = 1;
  std::int32_t Smoothing = 1;
  // System
  std::int32_t MultiThreading = 1;
  std::int32_t Direct3D = 1;
  std::int32_t DirectSound = 1;
  std::int32_t DirectMusic = 0;
  std::int32_t DirectInput = 0;
  std::int32_t Net = 0;
  std::int32_t Untrusted = 0;  // nonzero: system calls confined to the game's folders
  // Drive
  std::int32_t CD = 0;
  std::string CDFolder;  // 260: the virtual disc's folder ("" = "cd" beside the program)
  std::string
      SoundFont;  // 260: the MIDI SoundFont ("" = a .sf2 beside the program, else the system's)
  // Option
  std::int32_t GlobalFocus = 1;
  std::int32_t GlobalSound = 1;
  std::int32_t Confirmation = 1;
  // Script
  std::string Load;  // 260
  std::int32_t ProgramSize = 0;
  std::int32_t StackSize = 0x40000;
  std::int32_t HeapSize = 0x800000;
  std::string SourceEncoding;  // 16: "auto" (or empty), "utf8" or "cp932"

  // Derived values.
  std::string config_path;   // host path that configuration writes go to
  std::string script_dir;    // game-path prefix ("" or ending in '\') of script sources
  std::string module_dir;    // host directory of the program file, ending in '/'
  std::string program_name;  // program file name without extension (UTF-8)
  std::string frame_class = "TALVEN_GAMES_FRAME";
  std::string view_class = "TALVEN_GAMES_VIEW";
  std::string mutex_name = "TALVEN_GAMES_MUTEX";
};

// The process-wide configuration.
Config& config();

// Resets every value to its default and reads the configuration files in
// their search order for the program at host path `program_path` (the file
// need not exist: only its folder and name matter). Sets config_path,
// script_dir, Load and module_dir.
void load_configuration(const std::string& program_path);

// Splits `Load` into script_dir and the main script name (an empty Load
// means "main.c" in the folder named after the program).
void derive_script_location();

// Reads every key from a host file, each key keeping its current value when
// the file lacks it; afterwards a FileSystem without bit 0 or 1 becomes 3.
void read_config(const std::string& file);

// Writes FullScreen and the four window keys (zeros when RestoreBounds is 0).
// `full_screen` is the screen mode in use. False when the file cannot be written.
bool write_back_config(const std::string& file, bool full_screen);

// Sets one key by name ("Width", "Load"...) from text, as a --config override
// would (a new Load is split into script_dir and name); false for an unknown key.
bool set_config_value(std::string_view key, std::string_view value);

// The player's documents folder (XDG documents directory, else $HOME), or ""
// when neither is known.
std::string documents_dir();

}  // namespace talven
