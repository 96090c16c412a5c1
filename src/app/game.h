// Running a game: start-up, the main loop and shut-down.
//
// run_game() reads the configuration for the game, starts the runtime,
// loads the main script on a script thread and runs the main loop until the
// program closes. The loop runs on the calling (main) thread and serves the
// calls script threads send to it.
//
// A windowed run lasts until the window is closed (by the player or `exit`);
// it starts headless by itself when there is no display. A headless run has
// no window and no devices; it ends when the last script thread ends or a
// script calls exit. Its exit status is the main script's
// result (low 8 bits), or one of the statuses below.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace talven {

constexpr int kExitUsage = 2;           // bad command line, no such game
constexpr int kExitCompileError = 121;  // the main script did not compile
constexpr int kExitRuntimeError = 122;  // a run-time error stopped the scripts
constexpr int kExitTimeout = 124;       // --timeout or --frames ran out

struct RunOptions {
  std::string game;             // program path or game folder (host path)
  bool headless = false;        // no window even when a display exists
  bool log = false;             // echo log_out lines to standard output
  std::int64_t frames = -1;     // stop after this many presented frames (-1: no limit)
  double timeout_seconds = -1;  // stop after this long (-1: no limit)
  std::string screenshot;       // save the last frame here as PNG at exit
  std::vector<std::pair<std::string, std::string>> overrides;  // --config KEY=VALUE
  std::string audio_out;                                       // record the mixed sound as WAV here
  bool audio_fast = false;   // headless sound runs as fast as the game, not in real time
  std::string input_file;    // replay recorded input from this file
  std::string record_input;  // record a windowed run's input into this file
  bool untrusted = false;    // confine system calls to the game's folders
};

// The program path for GAME: a file path is taken as is; for a folder, the
// program is named after its one ".cfg" file, else after the folder.
// Empty when GAME does not exist as a folder and its folder does not exist.
// Absolute, with '/' separators on every platform (as configuration lookup
// splits it).
std::string program_path_for(const std::string& game);

// The program path of a bundled game: the running program is named NAME,
// or NAME with one extension (NAME.exe, NAME.x86_64), and NAME.cfg lies
// beside it. Empty when the program is named talven, or when there is no
// such configuration.
std::string bundled_game_program();

// Runs the game; returns the process exit status.
int run_game(const RunOptions& options);

// Runtime start and stop around the main loop (also used by tests).
bool runtime_start();
void runtime_stop();

// Holds the game still (false) or lets it go on (true): the game clock and
// every script thread's suspend count. Used on activity changes with
// GlobalFocus 0 and around a display-mode change.
void pause_application(bool active);

}  // namespace talven
