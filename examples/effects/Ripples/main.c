// Ripples: a picture drawn by the script, softened with the box blur, then
// shown through a water mesh. A click drops a stone where it lands; a few
// stones also fall on their own, so the pond moves without input.
//
// Shows: blur (both directions, one call each), monotone for a tinted
// copy, mosaic for a title strip, and the mesh effects ef_init, ef_blob,
// ef_water and ef_copy.
#include "talven.h"

#define PAGE 0
#define PICTURE 1
#define POND 2
#define W 320
#define H 240

int point[4];

// A sky, hills and a sun, drawn with lines and fills.
void draw_picture(int slot) {
  int y;
  int x;
  for (y = 0; y < H; y++) gline(slot, 0, y, W - 1, y, 0xFF000000 | (40 + y / 3) << 16 | (90 + y / 3) << 8 | (200 - y / 4));
  for (x = 0; x < W; x++) gline(slot, x, 150 + tsin(x * 12) * 20 / 65536, x, H - 1, 0xFF206030);
  gfill(slot, 230, 30, 40, 40, 0xFFFFE060);
  for (x = 0; x < W; x += 16) gline(slot, x, 200, x + 8, H - 1, 0xFF104020);
}

int main() {
  int frame;
  int x;
  int y;
  int drops;
  int strip[4];

  galloc(PICTURE, W, H, 32);
  galloc(POND, W, H, 32);
  draw_picture(PICTURE);

  // The pond shows a softened copy: blur along rows, then down columns.
  blur(POND, 0, 0, PICTURE, 0, 4);
  blur(POND, 0, 0, POND, 0, -4);
  // A tinted, coarse title strip across the top.
  strip[0] = 0; strip[1] = 0; strip[2] = W; strip[3] = 24;
  monotone(POND, strip, 0x102040, 0xC0E0FF);
  mosaic(POND, 0, 0, POND, strip, 8, 8);

  vpage(PAGE);
  apage(PAGE);
  if (!ef_init(0, PAGE, 0, POND, 0)) {
    log_out("ripples: no effect slot");
    return 1;
  }
  ef_clear(0);
  ef_blob(0, 160.0, 120.0, 32.0, 60.0);

  drops = 0;
  frame = 0;
  while (1) {
    getpoint(point);
    if (point[3] & 0x10000) {
      ef_blob(0, (float)point[0], (float)point[1], 12.0, 24.0);
    }
    if (frame % 30 == 10) {
      x = 40 + rand() % (W - 80);
      y = 40 + rand() % (H - 80);
      ef_blob(0, (float)x, (float)y, 24.0, 60.0);
      drops++;
    }
    if (ef_water(0, 24.0) && ef_copy(0) && frame == 30) log_out("ripples running, %d drops", drops);
    update(0);
    sleep(16);
    frame++;
  }
  return 0;
}
