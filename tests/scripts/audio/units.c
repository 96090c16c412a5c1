// Sound builtins from a script: results, units and slot rules. The test
// writes tone.wav (0.5 s, 22050 Hz mono) and stream.wav (3 s) beside it.
#include "talven.h"
#include "check.h"

int main() {
  char text[64];
  float echo[5];

  check(snd_load(0, "tone.wav") == 1, "snd_load");
  check(snd_load(0, "") == 0, "snd_load empty path");
  check(snd_load(1, "nothing.wav") == 0, "snd_load missing file");
  check(snd_load(64, "tone.wav") == 0, "snd_load slot 64");
  check(snd_getlen(0) == 500, "snd_getlen");

  check(snd_setvol(0, 50) == 0, "snd_setvol result");
  check(snd_getvol(0) == 50, "volume 50");
  snd_setvol(0, 0);
  check(snd_getvol(0) == 0, "volume 0");
  snd_setvol(0, 150);
  check(snd_getvol(0) == 100, "volume 150 acts as 100");
  snd_setpan(0, -100);
  check(snd_getpan(0) == -99, "pan -100");
  snd_setpan(0, 0);
  check(snd_getpan(0) == 0, "pan 0");
  snd_setfreq(0, 50);
  check(snd_getfreq(0) == 100, "frequency 50 gives 100");
  snd_setfreq(0, 0);
  check(snd_getfreq(0) == 22050, "frequency 0 gives the own rate");
  check(snd_setvol(-1, 50) == 0 && snd_getvol(-1) == 50, "master volume");
  snd_setvol(-1, 100);
  check(snd_getvol(5) == 0 && snd_getfreq(5) == 0 && snd_isplay(5) == 0, "free slot");

  check(snd_play(0, 1) == 1, "snd_play");
  check(snd_isplay(0) == 1, "playing");
  snd_pause(0);
  snd_pause(0);
  snd_replay(0);
  check(snd_isplay(0) == 0, "two pauses need two replays");
  snd_replay(0);
  check(snd_isplay(0) == 1, "second replay resumes");
  check(snd_stop(0) == 1 && snd_isplay(0) == 0, "snd_stop");

  strcpy(text, "junk");
  check(snd_gettext(0, text) == 0 && text[0] == 0, "snd_gettext on a WAV");

  check(snd_loads(2, "stream.wav") == 1, "snd_loads");
  check(snd_setloop(2, 1000) == 1, "snd_setloop");
  check(snd_setloop(0, 1000) == 0, "snd_setloop on a static sound");
  check(snd_play(2, 1) == 1, "stream plays");
  check(snd_setpos(2, 500) == 0, "snd_setpos on a playing stream");
  sleep(300);
  check(snd_getpos(2) >= 200 && snd_getpos(2) <= 450, "stream position");

  echo[0] = 50; echo[1] = 50; echo[2] = 200; echo[3] = 200; echo[4] = 0;
  check(snd_setecho(0, echo) == 1, "snd_setecho");
  check(snd_setecho(0, 0) == 1, "snd_setecho clears");
  check(snd_setecho(7, echo) == 0, "snd_setecho on a free slot");
  check(snd_setecho(0, 16) == 0, "snd_setecho with a bad address");
  check(snd_gettext(0, 16) == 0, "snd_gettext with a bad address");
  check(snd_setmargin(100) == 1, "snd_setmargin");
  check(snd_free(-1) == 1 && snd_isplay(2) == 0, "snd_free all");
  return failures;
}
