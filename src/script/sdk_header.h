// The SDK header inside the binary.
//
// A game that includes "talven.h" without a file of that name of its own
// gets this copy of sdk/talven.h, so a game folder needs nothing from the
// SDK to compile. A file of the game always wins: the compiler asks for the
// copy only when the game's own file cannot be opened.
#pragma once

#include <string_view>

namespace talven::script {

// The text of sdk/talven.h as the binary was built with it.
std::string_view builtin_sdk_header();

// True when the last component of an include name ('/' or '\' separated)
// is "talven.h" in any letter case.
bool is_sdk_header_name(std::string_view name);

}  // namespace talven::script
