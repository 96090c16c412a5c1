// Picture Show: plays clip.mp4 (make it with make_clip.sh) once in a frame
// on the screen, with a caption the script keeps drawing beneath it, then
// closes it. The result is 0 when the clip played to its end, else 1.
//
// Shows: media_open, media_size, media_setvol, media_play, media_isplay,
// media_pause, media_replay, media_close.
#include "talven.h"

#define PAGE 0

int main() {
  int rect[4];
  int n;
  int played;
  pal_set(1, 0xF0F0F0);
  pal_change();
  if (!media_open("clip.mp4")) {
    log_out("no clip.mp4: run make_clip.sh first");
    return 1;
  }
  gclear(PAGE, 0, 0xFF102030);
  gfill(PAGE, 152, 52, 336, 196, 0xFFC0A060);  // the frame around the picture
  rc_set(rect, 160, 60, 480, 240);
  media_size(rect);
  media_setvol(80);
  media_play();
  played = 0;
  for (n = 0; n < 600 && media_isplay(); n++) {
    if (n == 30) media_pause();  // half a second's pause, then on
    if (n == 60) media_replay();
    gfill(PAGE, 0, 280, 640, 40, 0xFF102030);
    gtextf(PAGE, 160, 284, 1, "Picture Show  %d", n);
    update(0);
    sleep(16);
    played++;
  }
  log_out("shown for %d frames", played);
  media_close();
  return media_isplay() || played >= 600;
}
