// Starting points for game authors.
//
//   talven new NAME [DIR]
//
// creates a game that runs at once: DIR/NAME.cfg (loose files enabled, the
// common keys with a comment each), DIR/NAME/main.c (includes "talven.h",
// which the binary supplies, and draws a moving square) and DIR/README.txt.
// DIR defaults to a new folder NAME. Existing files are never overwritten.
//
// missing_main_script_hint() explains the most common first-run failure:
// the main script lies loose beside the game but FileSystem reads archives
// only.
#pragma once

#include <string>

#include "base/config.h"

namespace talven {

// argv[0] is NAME. Returns the exit status: 0 done, 1 cannot write, 2 usage.
int run_new_game(int argc, char** argv);

// The English hint for a main script that could not be loaded, or "" when
// the cause is something else.
std::string missing_main_script_hint(const Config& c);

}  // namespace talven
