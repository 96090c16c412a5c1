// MIDI from a script: a two-second song played at volume 100 for its first
// second and 50 for the next; the test measures the recording.
#include "talven.h"
#include "check.h"

int main() {
  int pos;
  check(midi_load("missing.mid") == 0, "a missing file does not load");
  check(midi_getvol() == 0, "nothing loaded: volume 0");
  check(midi_load("song.mid") == 1, "midi_load");
  check(midi_getvol() == 100, "a loaded song starts at 100");
  check(midi_isplay() == 0, "not playing before midi_play");
  check(midi_play(0) == 1, "midi_play");
  check(midi_isplay() == 1, "playing");
  sleep(1000);
  check(midi_setvol(50) == 1, "midi_setvol");
  check(midi_getvol() == 50, "midi_getvol");
  pos = midi_getpos();
  check(pos >= 800 && pos <= 1300, "the position follows the clock");
  sleep(800);
  check(midi_pause() == 0, "pausing a playing song");
  check(midi_pause() == 1, "a second pause");
  check(midi_isplay() == 0, "paused");
  check(midi_replay() == 1 && midi_isplay() == 0, "one replay of two pauses");
  check(midi_replay() == 1 && midi_isplay() == 1, "the second replay");
  sleep(600);
  check(midi_isplay() == 0, "the song ended");
  check(midi_free() == 1, "midi_free");
  return failures;
}
