#include "audio/cd/cd_builtins.h"

#include <filesystem>
#include <string>

#include "audio/cd/cd_audio.h"
#include "audio/sound.h"
#include "base/host_file.h"
#include "base/config.h"

namespace talven::audio::cd {

bool cd_device_start(const char* game_dir) {
  const Config& c = config();
  if (!c.CD) return false;
  namespace fs = std::filesystem;
  fs::path folder = host_file::fs_path(c.CDFolder.empty() ? std::string("cd") : c.CDFolder);
  if (folder.is_relative() && game_dir && *game_dir) folder = host_file::fs_path(game_dir) / folder;
  return cd_start(sound_mixer(), host_file::from_fs_path(folder));
}

void cd_release() {
  if (cd_started()) cd_stop(0);
}

void cd_device_shutdown() { cd_shutdown(); }

void cd_application_paused(bool active) {
  if (!cd_started()) return;
  if (active) cd_replay();
  else cd_pause();
}

}  // namespace talven::audio::cd
