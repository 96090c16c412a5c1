// The General MIDI fonts shipped with the program: the .sf2 files of the
// `soundfonts` folder beside talven.exe, in name order.
#include "audio/midi/system_soundfonts.h"

#include <algorithm>

#include "base/host_file.h"

namespace talven::audio::midi {

std::vector<std::string> system_soundfonts() {
  std::vector<std::string> fonts;
  const std::optional<std::string> program = host_file::running_program();
  if (!program) return fonts;
  const std::size_t slash = program->find_last_of("/\\");
  const std::string dir =
      (slash == std::string::npos ? std::string(".") : program->substr(0, slash)) + "/soundfonts";
  const auto names = host_file::list_directory(dir);
  if (!names) return fonts;
  for (const std::string& name : *names) {
    std::string ext = name.size() >= 4 ? name.substr(name.size() - 4) : "";
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    if (ext == ".sf2") fonts.push_back(dir + "/" + name);
  }
  std::sort(fonts.begin(), fonts.end());
  return fonts;
}

}  // namespace talven::audio::midi
