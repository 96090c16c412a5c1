// A windowed run plays through the audio device: a tone, then exit.
#include "talven.h"

int main() {
  if (snd_load(0, "tone.wav") != 1) return 1;
  snd_play(0, 0);
  sleep(700);
  exit();
  return 0;
}
