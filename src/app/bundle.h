// `talven bundle`: the folder a player starts a game from.
//
// A bundle holds the runtime under the game's program name (NAME on Linux,
// NAME.x86_64 or the like when a folder of the game, by default the
// scripts' one, is named NAME; NAME.exe with its DLLs and soundfonts on
// Windows), the game's
// configuration NAME.cfg and every data file of the game folder, scripts'
// sources included (the runtime compiles them at start). Started with no
// arguments, the program finds NAME.cfg beside itself and runs that game.
//
// With archive packing, each top-level data folder becomes FOLDER.bin
// beside the program; the scripts' folder stays loose when the
// configuration reads loose files, and the CD audio folder always does.
//
// The bundle is written into a fresh sibling folder OUT.tmp-XXXXXX and
// renamed to OUT only when complete: a failure leaves no OUT behind.
#pragma once

#include <string>

namespace talven {

enum class BundleTarget { kLinux, kWindows };

// The platform whose programs this build writes (bundle_posix.cpp,
// bundle_win32.cpp): the default target of `talven bundle`.
BundleTarget native_bundle_target();

struct BundleRequest {
  std::string game;  // the game folder, or its program path as on the command line
  std::string out;   // the folder to create (absent or empty)
  BundleTarget target = BundleTarget::kLinux;
  // A folder holding a Windows talven.exe and its DLLs, for Windows bundles
  // made on another platform (or to use another Windows build).
  std::string windows_from;
  // The runtime program for bundles of the native platform; empty means the
  // running program.
  std::string program;
  bool archive = false;    // pack top-level data folders into FOLDER.bin
  bool backslash = false;  // archive entry names use '\' (as the scripts name them)
};

struct BundleOutcome {
  int status = 0;       // 0 done, 1 failed, 2 refused (bad request)
  std::string message;  // what was written, or why not
};

BundleOutcome make_bundle(const BundleRequest& request);

// The `bundle` tool: argv[0] is the first argument after "bundle". Returns
// the process exit status (0, 1 or 2 as in BundleOutcome).
int run_bundle_tool(int argc, char** argv);

}  // namespace talven
