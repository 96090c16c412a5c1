// talven: the program entry. Everything lives in the runtime library; this
// file only hands the command line over.
#include "app/command_line.h"

int main(int argc, char** argv) { return talven::run_command_line(argc, argv); }
