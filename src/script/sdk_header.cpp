#include "script/sdk_header.h"

#include "base/cp932.h"

namespace talven::script {

namespace {
#include "sdk_header_data.inc"
}  // namespace

std::string_view builtin_sdk_header() {
  return std::string_view(reinterpret_cast<const char*>(kSdkHeader), sizeof kSdkHeader - 1);
}

bool is_sdk_header_name(std::string_view name) {
  // The last separator, found character by character so that a trail byte
  // is never taken for a backslash.
  std::size_t start = 0;
  for (std::size_t i = 0; i < name.size(); i = cp932::next(name, i)) {
    if (name[i] == '/' || name[i] == '\\') start = i + 1;
  }
  return cp932::compare_nocase(name.substr(start), "talven.h") == 0;
}

}  // namespace talven::script
