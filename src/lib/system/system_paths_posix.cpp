// Host path comparison on POSIX systems: names are bytes, '/' separates them.
#include "lib/system/system_paths.h"

namespace talven::lib::system {

PathRules host_path_rules() { return PathRules::kPosix; }

}  // namespace talven::lib::system
