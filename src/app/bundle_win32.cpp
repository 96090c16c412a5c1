// The bundle target of Windows builds: they write Windows programs.
#include "app/bundle.h"

namespace talven {

BundleTarget native_bundle_target() { return BundleTarget::kWindows; }

}  // namespace talven
