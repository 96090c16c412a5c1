// The desktop builtins in a window (run on a virtual 800x600 display): the
// screen, the title, the system clipboard and the full-screen switch all go
// through the main thread.
#include "talven.h"
#include "check.h"

int main() {
  char buf[64];
  check(getsystem("width") == 800 && getsystem("height") == 600, "desktop size");
  check(getsystem("depth") >= 24, "desktop depth");
  check(caption("\x83\x5E\x83\x43\x83\x67\x83\x8B") != 0, "caption");
  check(clip_write("line1\r\nline2") == 12, "clip_write");
  check(clip_read(buf, 64) == 13 && strcmp(buf, "line1\r\nline2") == 0, "clip_read round trip");
  check(clip_read(buf, 4) == 3 && strcmp(buf, "lin") == 0, "clip_read truncated");
  check(getsystem("fullscreen") == 0, "starts in a window");
  check(setsystem("fullscreen", 0) == 0, "same mode: nothing sent");
  check(setsystem("fullscreen", 1) == 1 && getsystem("fullscreen") == 1, "to full screen");
  check(setsystem("fullscreen", 1) == 0, "already full screen");
  check(setsystem("fullscreen", 0) == 1 && getsystem("fullscreen") == 0, "back to the window");
  log_out("failures %d\n", failures);
  exit();
  return failures;
}
