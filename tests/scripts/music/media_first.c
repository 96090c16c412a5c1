// Video from a script: results before and after opening; the test then
// finds the clip's first colour in the screenshot taken at exit.
#include "talven.h"
#include "check.h"

int main() {
  int rect[4];
  check(media_play() == 0, "nothing open: play fails");
  check(media_pause() == 0, "nothing plays: pause fails");
  check(media_open("missing.avi") == 0, "a missing file does not open");
  check(media_open("CLIP.AVI") == 1, "media_open finds the file in any letter case");
  check(media_isplay() == 0, "opened, not playing");
  check(media_setvol(100) == 1, "media_setvol");
  rect[0] = 0; rect[1] = 0; rect[2] = 640; rect[3] = 360;
  check(media_size(rect) == 1, "media_size");
  check(media_play() == 1 && media_isplay() == 1, "media_play");
  check(media_pause() == 1 && media_isplay() == 1, "paused but still playing");
  check(media_pause() == 1, "a second pause");
  check(media_replay() == 1 && media_replay() == 1, "two replays");
  sleep(900);
  return failures;
}
