// CD audio from a script over the game's "cd" folder: track 1 is missing
// (a data track), tracks 2 and 3 are one-second tones.
#include "talven.h"
#include "check.h"

int main() {
  check(cd_getlen(0) == 2, "the disc is the sum of its tracks");
  check(cd_getlen(2) == 1 && cd_getlen(4) == 0 && cd_getlen(-1) == 0, "track lengths");
  check(cd_play(1, 0) == 0, "a data track does not play");
  check(cd_play(4, 0) == 0, "no track 4");
  check(cd_repeat(2) == 0, "cd_repeat answers the previous mode");
  check(cd_repeat(0) == 2, "cd_repeat again");
  check(cd_setvol(100) == 1 && cd_getvol() == 100, "cd_setvol");
  check(cd_play(2, 640) == 1, "cd_play with a fade-in");
  check(cd_isplay() == 1, "cd_isplay");
  sleep(300);
  check(cd_getpos(0) == 0, "seconds into the track");
  check(cd_pause() == 1 && cd_isplay() == 0, "cd_pause");
  check(cd_pause() == 1, "a second pause");
  check(cd_replay() == 1 && cd_isplay() == 0, "one replay of two pauses");
  check(cd_replay() == 1 && cd_isplay() == 1, "the second replay");
  sleep(1200);
  check(cd_isplay() == 0, "repeat mode 0 stops at the end");
  // Mode 3 wraps among tracks 1 .. count - 1: only track 2 is a candidate.
  cd_repeat(3);
  check(cd_play(2, 0) == 1, "play again");
  sleep(1300);
  check(cd_isplay() == 0, "mode 3 with no other audio track stops");
  // Mode 1 plays the track again.
  cd_repeat(1);
  cd_play(3, 0);
  sleep(1400);
  check(cd_isplay() == 1, "mode 1 repeats the track");
  check(cd_stop(320) == 1, "cd_stop with a fade-out");
  check(cd_isplay() == 1, "still playing while the fade runs");
  sleep(600);
  check(cd_isplay() == 0, "stopped after the fade");
  check(cd_eject() == 1, "the door opens");
  check(cd_play(2, 0) == 0 && cd_getlen(2) == 0, "no disc while the door is open");
  check(cd_eject() == 1 && cd_getlen(2) == 1, "the door closes and the disc is read again");
  return failures;
}
