// Chime: writes its own sounds, then plays them. A bell (a decaying tone)
// rings three times, the last time with an echo in the silence its margin
// leaves after it; a two-note tune is streamed in a loop from its second
// note while the bell plays high and to the right. The result is the number
// of builtins that failed.
//
// Shows: snd_setmargin, snd_load, snd_loads, snd_play, snd_setvol,
// snd_setpan, snd_setfreq, snd_setecho, snd_setloop, snd_getpos, snd_isplay.
#include "talven.h"

#define RATE 22050

// A 16-bit mono WAV file of `frames` samples made by `voice`.
int write_wav(char *path, int frames, int voice) {
  int header[11];
  short *samples;
  int f;
  int i;
  float t;
  float v;

  samples = malloc(frames * 2);
  for (i = 0; i < frames; i++) {
    t = (float)i / RATE;
    if (voice == 0) {
      // bell: 880 Hz falling away over half a second
      v = sin(6.2831853 * 880 * t) * 12000 * (1.0 - t * 2);
      if (t >= 0.5) v = 0;
    } else {
      // tune: one second of 440 Hz, then one of 660 Hz
      if (i < RATE) v = sin(6.2831853 * 440 * t) * 6000;
      else v = sin(6.2831853 * 660 * t) * 6000;
    }
    samples[i] = (int)v;
  }
  header[0] = 0x46464952;  // "RIFF"
  header[1] = 36 + frames * 2;
  header[2] = 0x45564157;  // "WAVE"
  header[3] = 0x20746D66;  // "fmt "
  header[4] = 16;
  header[5] = 0x00010001;  // PCM, one channel
  header[6] = RATE;
  header[7] = RATE * 2;
  header[8] = 0x00100002;  // block align 2, 16 bits
  header[9] = 0x61746164;  // "data"
  header[10] = frames * 2;
  f = fopen(path, "wb");
  if (!f) return 0;
  fwrite(header, 4, 11, f);
  fwrite(samples, 2, frames, f);
  fclose(f);
  free(samples);
  return 1;
}

int main() {
  int failed;
  float echo[5];

  failed = 0;
  if (!write_wav("bell.wav", RATE / 2, 0)) failed++;
  if (!write_wav("tune.wav", RATE * 2, 1)) failed++;

  snd_setmargin(800);  // room for the echo to ring out
  if (!snd_load(0, "bell.wav")) failed++;
  if (!snd_loads(1, "tune.wav")) failed++;
  snd_setloop(1, 1000);
  snd_setvol(1, 40);
  snd_play(1, 1);

  snd_play(0, 0);
  sleep(700);
  snd_setfreq(0, RATE * 3 / 2);  // a fifth higher
  snd_setpan(0, 60);
  snd_play(0, 0);
  sleep(700);
  echo[0] = 40; echo[1] = 40; echo[2] = 250; echo[3] = 320; echo[4] = 0;
  snd_setecho(0, echo);
  snd_setfreq(0, 0);
  snd_setpan(0, 0);
  snd_play(0, 0);
  log_out("tune at %d ms\n", snd_getpos(1));
  while (snd_isplay(0)) sleep(50);
  if (snd_getpos(1) < 1000) failed++;  // the loop runs in its second second
  snd_free(-1);
  return failed;
}
