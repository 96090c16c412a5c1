// Sound slots: the 64 numbered sounds scripts load, play and shape.
//
// A slot holds one WAV (PCM) or Ogg Vorbis sound, either whole in a static
// PcmBuffer (snd_load, with the margin of silence after it) or streamed
// through a two-second ring that a feeder thread of its own refills half by
// half while it plays (snd_loads). Each slot is one voice of the mixer.
//
// Every operation here runs on the main thread (the builtins reach it by a
// main-thread call); the only other threads are the feeders, which touch
// their own slot's decoder (under the slot's decoder lock), counters and
// ring, and the mixer's thread.
//
// Units at this boundary: volume 0..100, pan -100..100, frequency in samples
// per second (0: the sound's own rate), positions and lengths in
// milliseconds. Inside, levels are attenuations in hundredths of a decibel.
//
// With sound off (DirectSound=0, or no audio device) every operation yields
// 0 and nothing is reported.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "audio/effects.h"

namespace talven::audio {

constexpr int kSoundSlots = 64;

// The unit conversions.
std::int32_t volume_to_attenuation(std::int32_t volume);
std::int32_t attenuation_to_volume(std::int32_t attenuation);
std::int32_t pan_to_platform(std::int32_t pan);
std::int32_t platform_to_pan(std::int32_t platform_pan);
// 0 stays 0 (the sound's own rate); anything else is clamped to 100..100000.
std::uint32_t clamp_frequency(std::int32_t frequency);

struct SoundStart {
  bool enabled = true;       // configuration: DirectSound
  bool global_focus = true;  // configuration: GlobalSound
  bool device = false;       // open the audio device (a windowed run)
  bool fast = false;         // headless: paced by the game clock, not the wall clock
  std::string record_path;   // record the mixed output as WAV
};

// Starts sound (idempotent: a running sound device is shut down first).
// False when sound stays off.
bool InitSound(const SoundStart& start);
// Frees every slot and closes the output; finishes the recording.
void ShutdownSound();
// Frees every slot (the runtime's release step).
void release_sound_buffers();
// Application focus: sounds without global focus hold while inactive.
void sound_activity(bool active);
bool sound_on();
// The mixer while sound is on (null when off), for the other audio devices
// (MIDI, CD tracks, video sound) to add their voices. Valid until
// ShutdownSound; those devices stop before it.
class Mixer;
Mixer* sound_mixer();

// The operations, with the builtins' arguments and results. `no` -1 means
// every slot (or the master output) where the builtin allows it.
std::int32_t sound_load(std::int32_t no, std::string_view path);
std::int32_t sound_load_stream(std::int32_t no, std::string_view path);
std::int32_t sound_free(std::int32_t no);
std::int32_t sound_play(std::int32_t no, std::int32_t loop);
std::int32_t sound_stop(std::int32_t no);
std::int32_t sound_pause(std::int32_t no);
std::int32_t sound_replay(std::int32_t no);
std::int32_t sound_set_volume(std::int32_t no, std::int32_t volume);
std::int32_t sound_get_volume(std::int32_t no);
std::int32_t sound_set_pan(std::int32_t no, std::int32_t pan);
std::int32_t sound_get_pan(std::int32_t no);
std::int32_t sound_set_frequency(std::int32_t no, std::int32_t frequency);
std::int32_t sound_get_frequency(std::int32_t no);
std::int32_t sound_is_playing(std::int32_t no);
std::int32_t sound_set_loop(std::int32_t no, std::int32_t ms);
std::int32_t sound_set_position(std::int32_t no, std::int32_t ms);
std::int32_t sound_get_position(std::int32_t no);
std::int32_t sound_get_length(std::int32_t no);
// The Ogg "COMMENT=" text (at most 255 bytes); false for other sources.
// `text` is emptied first for a loaded slot.
std::int32_t sound_get_text(std::int32_t no, std::string& text);
std::int32_t sound_set_margin(std::int32_t ms);
// Stores (record non-null) or clears an effect of kind 0..7.
std::int32_t sound_set_effect(std::int32_t no, int kind, const EffectRecord* record);

// For tests: a slot's attenuation, platform pan and whether its buffer can
// take effects; the number of effects attached at the last play.
struct SlotView {
  bool loaded = false;
  bool is_stream = false;
  bool effects_capable = false;
  std::int32_t attenuation = 0;
  std::int32_t pan = 0;
  std::int32_t effects_attached = 0;
  std::int32_t pause_count = 0;
};
SlotView sound_slot_view(std::int32_t no);
std::int32_t sound_master_attenuation();

}  // namespace talven::audio
