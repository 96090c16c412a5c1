// The bundle target of POSIX builds: they write Linux programs.
#include "app/bundle.h"

namespace talven {

BundleTarget native_bundle_target() { return BundleTarget::kLinux; }

}  // namespace talven
