// Levels and an echo on recorded output: a tone at full volume, the same at
// volume 50, then a click with a 200 ms echo (feedback 50 %) ringing in the
// margin of its buffer.
#include "talven.h"

int main() {
  float echo[5];
  if (snd_load(0, "tone.wav") != 1) return 1;
  snd_play(0, 0);
  sleep(600);
  snd_setvol(0, 50);
  snd_play(0, 0);
  sleep(600);
  snd_setmargin(700);
  if (snd_load(1, "click.wav") != 1) return 2;
  echo[0] = 50; echo[1] = 50; echo[2] = 200; echo[3] = 200; echo[4] = 0;
  snd_setecho(1, echo);
  snd_play(1, 0);
  sleep(1000);
  return 0;
}
