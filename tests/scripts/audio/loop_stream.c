// A looping WAV stream with its loop point at one second: the whole file
// once, then again and again from its second second. The test reads the
// recorded output.
#include "talven.h"

int main() {
  if (snd_loads(0, "steps.wav") != 1) return 1;
  if (snd_setloop(0, 1000) != 1) return 2;
  if (snd_play(0, 1) != 1) return 3;
  sleep(5600);
  snd_free(0);
  return 0;
}
