// Music Box: writes a short Standard MIDI File, then plays it once while a
// bar follows the position. Halfway it pauses (a paused song reads as not
// playing, at 0), plays on from where it stopped, and fades the volume for
// the last notes. The result is the number of
// checks that failed.
//
// Shows: midi_load, midi_play, midi_getpos, midi_pause, midi_replay,
// midi_setvol, midi_getvol, midi_isplay, midi_repeat, midi_free.
#include "talven.h"

#define PAGE 0
#define TICKS 96  // per quarter note: at 120 a minute, sixteen eighths last 4 s

char *song;
int length;

void put(int byte) {
  song[length] = byte;
  length++;
}

void put32(int v) {
  put(v >> 24 & 255);
  put(v >> 16 & 255);
  put(v >> 8 & 255);
  put(v & 255);
}

int notes[16] = {60, 64, 67, 72, 71, 67, 64, 62, 60, 65, 69, 72, 74, 72, 67, 60};

// Format 0, one track: tempo, a celesta, sixteen eighth notes.
int write_song(char *path) {
  int i;
  int track_at;
  int f;
  song = malloc(512);
  length = 0;
  put('M'); put('T'); put('h'); put('d');
  put32(6);
  put(0); put(0); put(0); put(1); put(0); put(TICKS);
  put('M'); put('T'); put('r'); put('k');
  track_at = length;
  put32(0);  // the track's length, filled in below
  put(0); put(0xFF); put(0x51); put(3); put(0x07); put(0xA1); put(0x20);  // 500000 us a beat
  put(0); put(0xC0); put(8);
  for (i = 0; i < 16; i++) {
    put(0); put(0x90); put(notes[i]); put(96);
    put(TICKS / 2); put(0x80); put(notes[i]); put(0);
  }
  put(0); put(0xFF); put(0x2F); put(0);
  i = length - track_at - 4;
  song[track_at + 2] = i >> 8 & 255;
  song[track_at + 3] = i & 255;
  f = fopen(path, "wb");
  if (!f) return 0;
  fwrite(song, 1, length, f);
  fclose(f);
  free(song);
  return 1;
}

int failed;

void check(int ok, char *what) {
  if (!ok) {
    failed++;
    log_out("failed: %s", what);
  }
}

void draw(int position) {
  gclear(PAGE, 0, 0xFF201830);
  gfill(PAGE, 20, 110, 280, 20, 0xFF403858);
  gfill(PAGE, 20, 110, position * 280 / 4000, 20, 0xFFF0C060);
  gtextf(PAGE, 20, 150, 1, "%d ms  volume %d", position, midi_getvol());
  update(0);
}

int main() {
  int pos;
  int held;
  int n;
  pal_set(1, 0xF0E8FF);
  pal_change();
  check(write_song("tune.mid"), "write the song");
  check(midi_load("tune.mid"), "midi_load");
  midi_repeat(0);
  midi_setvol(100);
  check(midi_play(0), "midi_play");
  pos = 0;
  for (n = 0; n < 300 && pos < 1500; n++) {
    pos = midi_getpos();
    draw(pos);
    sleep(16);
  }
  held = midi_getpos();
  check(midi_pause() == 0, "midi_pause of a playing song");
  check(midi_isplay() == 0 && midi_getpos() == 0, "paused: not playing, position 0");
  sleep(300);
  midi_replay();
  sleep(50);
  pos = midi_getpos();
  log_out("paused at %d ms, on again at %d ms", held, pos);
  check(pos >= held - 20 && pos < held + 300, "play goes on from the pause");
  for (n = 0; n < 600 && midi_isplay(); n++) {
    pos = midi_getpos();
    if (pos > 2500 && midi_getvol() > 40) midi_setvol(midi_getvol() - 2);
    draw(pos);
    sleep(16);
  }
  log_out("ended at %d ms, volume %d", pos, midi_getvol());
  check(pos > 3000, "the song played to its end");
  check(midi_getvol() == 40, "the fade reached 40");
  midi_free();
  return failed;
}
