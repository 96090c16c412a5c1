// Video and media playback: one file at a time, decoded by FFmpeg on a
// decoder thread. Pictures are scaled to the video rectangle and shown by
// the presenter over the game screen (so they scale with the screen and
// appear in screenshots); sound plays through a voice of the mixer, and its
// samples really consumed are the clock that pictures follow. A picture that
// is late by more than a frame is dropped rather than letting the video
// drift. Files without a picture play as sound alone; without sound (or with
// sound off) a steady clock stands in.
//
// Media files lie loose on disk: they are found through the game-path layer
// (any letter case, '\' or '/'), not inside archives.
//
// The operations run on the main thread (the builtins reach it through
// main-thread calls); the decoder thread sleeps whenever nothing is due.
#pragma once

#include <cstdint>
#include <string_view>

namespace talven::audio {
class Mixer;
}

namespace talven::audio::video {

// The volume scale of media: 0 → -10000, 100 → 0, between them
// 5000 × log10(v / 100) truncated.
std::int32_t media_volume_to_attenuation(std::int32_t volume);

// `mixer` null: pictures only, on the steady clock. `window_minimized`
// (may be null) tells whether the main window is minimised, when
// media_open refuses.
void media_start(Mixer* mixer, bool (*window_minimized)() = nullptr);
void media_shutdown();

struct MediaRect {
  std::int32_t left, top, right, bottom;
};

std::int32_t media_open(std::string_view path);
std::int32_t media_close();
std::int32_t media_play();
std::int32_t media_stop();
std::int32_t media_pause();
std::int32_t media_replay();
std::int32_t media_isplay();
std::int32_t media_repeat(std::int32_t flag);
std::int32_t media_size(const MediaRect* rect);  // null: the whole screen
std::int32_t media_setvol(std::int32_t volume);

// Pictures shown and dropped since the file was opened (benchmarks).
struct MediaCounters {
  std::uint64_t shown = 0, dropped = 0;
};
MediaCounters media_counters();

}  // namespace talven::audio::video
