// Video from a script: the clip (two seconds) ends, or repeats when asked.
#include "talven.h"
#include "check.h"

int main() {
  check(media_open("clip.avi") == 1, "media_open");
  check(media_size(0) == 1, "the whole screen");
  check(media_play() == 1, "media_play");
  sleep(1500);
  check(media_isplay() == 1, "still playing after 1.5 s");
  sleep(1200);
  check(media_isplay() == 0, "ended after 2 s");
  check(media_repeat(1) == 1, "media_repeat");
  check(media_play() == 1, "played again");
  sleep(2600);
  check(media_isplay() == 1, "repeating past the end");
  check(media_stop() == 1 && media_isplay() == 0, "media_stop");
  check(media_close() == 1, "media_close");
  check(media_play() == 0, "closed: play fails");
  return failures;
}
