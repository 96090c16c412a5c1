// Private-profile files: reading every kind of value and writing keys into
// whatever text is there.
#include <unistd.h>

#include <fstream>

#include "base/profile.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven;
  fuzz::quiet();
  static const std::string file = "/tmp/talven_fuzz_ini_" + std::to_string(::getpid()) + ".cfg";
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), std::streamsize(size));
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string section(text.substr(0, std::min<std::size_t>(size, 8)));
  profile::get_string(file, section, "Key", "default");
  profile::get_int(file, "General", "Width", 7);
  profile::write_string(file, section, "Key", "value");
  profile::write_string(file, "General", "Width", text.substr(0, 16));
  profile::get_string(file, "General", "Width", "");
  return 0;
}
