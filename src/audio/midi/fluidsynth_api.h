// FluidSynth for the MIDI device, loaded on first use
// (audio/shared_library.h). Code calls fl::name(...) for every FluidSynth
// function, after fl::available() said yes.
#pragma once

#include <fluidsynth.h>

#include <string>

namespace talven::audio::fl {

// clang-format off
#define TALVEN_FLUID_FUNCTIONS(X)                                                                               \
  X(new_fluid_settings) X(delete_fluid_settings) X(new_fluid_synth) X(delete_fluid_synth)                      \
  X(fluid_settings_setint) X(fluid_settings_setnum) X(fluid_set_log_function) X(fluid_synth_sfload)            \
  X(fluid_synth_write_float) X(fluid_synth_program_change) X(fluid_synth_pitch_bend) X(fluid_synth_noteon)     \
  X(fluid_synth_noteoff) X(fluid_synth_key_pressure) X(fluid_synth_channel_pressure) X(fluid_synth_cc)         \
  X(fluid_synth_all_sounds_off)
// clang-format on

struct Api {
#define TALVEN_FL_MEMBER(name) decltype(&::name) name;
  TALVEN_FLUID_FUNCTIONS(TALVEN_FL_MEMBER)
#undef TALVEN_FL_MEMBER
};

// The functions, loaded on the first call (thread-safe); nullptr when the
// library cannot be loaded, with the reason in *why.
const Api* api(std::string* why = nullptr);
inline bool available() { return api() != nullptr; }

#define TALVEN_FL_CALL(name) \
  template <typename... Args> \
  inline auto name(Args... args) { \
    return api()->name(args...); \
  }
TALVEN_FLUID_FUNCTIONS(TALVEN_FL_CALL)
#undef TALVEN_FL_CALL

}  // namespace talven::audio::fl
