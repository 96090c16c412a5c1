#include "audio/cd/cd_builtins.h"

#include <filesystem>
#include <string>

#include "audio/cd/cd_audio.h"
#include "audio/sound.h"
#include "base/config.h"

namespace talven::audio::cd {

bool cd_device_start(const char* game_dir) {
  const Config& c = config();
  if (!c.CD) return false;
  namespace fs = std::filesystem;
  fs::path folder = c.CDFolder.empty() ? fs::path("cd") : fs::path(c.CDFolder);
  if (folder.is_relative() && game_dir && *game_dir) folder = fs::path(game_dir) / folder;
  return cd_start(sound_mixer(), folder.string());
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
