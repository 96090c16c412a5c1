// sounds.h: writes the game's sounds as WAV files when it starts, so that
// the tutorial needs nothing but its scripts. A real game ships its own
// .wav or .ogg files and loads them the same way.

#define RATE 22050
#define TWO_PI 6.2831853

short *wav_samples;

// Writes the first `frames` samples of wav_samples as a 16-bit mono WAV file.
int save_wav(char *path, int frames) {
  int header[11];
  int f;
  header[0] = 0x46464952;  // "RIFF"
  header[1] = 36 + frames * 2;
  header[2] = 0x45564157;  // "WAVE"
  header[3] = 0x20746D66;  // "fmt "
  header[4] = 16;
  header[5] = 0x00010001;  // PCM, one channel
  header[6] = RATE;
  header[7] = RATE * 2;
  header[8] = 0x00100002;  // two bytes a sample, 16 bits
  header[9] = 0x61746164;  // "data"
  header[10] = frames * 2;
  f = fopen(path, "wb");
  if (!f) return 0;
  fwrite(header, 4, 11, f);
  fwrite(wav_samples, 2, frames, f);
  fclose(f);
  return 1;
}

// A tone of `ms` milliseconds gliding from one pitch to another and fading
// out, written from sample `at` on; returns the sample after it.
int tone(int at, float from_hz, float to_hz, int ms, int loudness) {
  int frames;
  int i;
  float phase;
  float t;
  frames = RATE * ms / 1000;
  phase = 0.0;
  for (i = 0; i < frames; i++) {
    t = (float)i / frames;
    phase = phase + TWO_PI * (from_hz + (to_hz - from_hz) * t) / RATE;
    wav_samples[at + i] = (int)(sin(phase) * loudness * (1.0 - t));
  }
  return at + frames;
}

int tune_notes[8] = {523, 659, 784, 659, 587, 698, 880, 698};

// catch.wav (a rising blip), miss.wav (a falling buzz) and tune.wav (eight
// notes, two seconds, played in a loop as the music). 1 when all are written.
int make_sounds() {
  int i;
  int at;
  int ok;
  wav_samples = malloc(RATE * 2 * 2);
  if (!wav_samples) return 0;
  ok = save_wav("catch.wav", tone(0, 660.0, 1320.0, 150, 14000));
  ok = ok && save_wav("miss.wav", tone(0, 220.0, 110.0, 300, 14000));
  at = 0;
  for (i = 0; i < 8; i++) at = tone(at, (float)tune_notes[i], (float)tune_notes[i], 250, 5000);
  ok = ok && save_wav("tune.wav", at);
  free(wav_samples);
  return ok;
}
