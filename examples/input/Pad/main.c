// Pointer Pad: a cross follows the mouse; clicking the red square scores a
// point and sends the square elsewhere; the arrow keys (or a joystick)
// move the blue paddle; typed digits recolour the paddle; Escape quits.
// Three points end the game. The result is the score.
//
// Shows: getpoint (pointer and click events), getkey (held keys), getjoy,
// key_get (typed characters), cur_set.
#include "talven.h"

#define VK_LEFT 0x25
#define VK_RIGHT 0x27
#define SIZE 24

int tx[3] = {200, 60, 150};
int ty[3] = {60, 100, 160};

int main() {
  int pt[4];
  char keys[256];
  int joy[3];
  int score;
  int bx;
  int colour;
  int frame;
  int c;
  int quit;
  int i;

  score = 0;
  bx = 40;
  colour = 0xFF40A0E0;
  quit = 0;
  cur_set(0);  // the cross is the pointer
  for (frame = 0; frame < 3000 && score < 3 && !quit; frame++) {
    getpoint(pt);
    if ((pt[3] & 0x10000) && pt[0] >= tx[score] && pt[0] < tx[score] + SIZE && pt[1] >= ty[score] &&
        pt[1] < ty[score] + SIZE)
      score++;
    getkey(keys);
    if (keys[VK_LEFT] & 0x80) bx = bx - 4;
    if (keys[VK_RIGHT] & 0x80) bx = bx + 4;
    if (getjoy(0, joy)) bx = bx + joy[0] / 250;
    if (bx < 0) bx = 0;
    if (bx > 288) bx = 288;
    for (c = key_get(); c != 0; c = key_get()) {
      if (c == 27) quit = 1;
      if (c >= '1' && c <= '9') colour = 0xFF000000 | ((c - '0') * 0x1C3A52);
    }

    gclear(0, 0, 0xFF101820);
    if (score < 3) gfill(0, tx[score], ty[score], SIZE, SIZE, 0xFFE04040);
    gfill(0, bx, 220, 32, 8, colour);
    for (i = 0; i < score; i++) gfill(0, 4 + i * 12, 4, 8, 8, 0xFFF0D040);
    gfill(0, pt[0] - 5, pt[1], 11, 1, 0xFFFFFFFF);
    gfill(0, pt[0], pt[1] - 5, 1, 11, 0xFFFFFFFF);
    update(0);
    sleep(16);
  }
  cur_set(1);
  log_out("score %d paddle %d colour %x\n", score, bx, colour);
  return score;
}
