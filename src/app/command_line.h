// The talven command line: running a game and the tools for game authors.
#pragma once

namespace talven {

// Parses argv and runs what it asks for; returns the process exit status.
int run_command_line(int argc, char** argv);

}  // namespace talven
