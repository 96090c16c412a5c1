// Host path comparison on Windows: file systems there ignore letter case and
// take '\' and '/' alike.
#include "lib/system/system_paths.h"

namespace talven::lib::system {

PathRules host_path_rules() { return PathRules::kWindows; }

}  // namespace talven::lib::system
