// Catch, step 1 of the tutorial (docs/tutorial.md): a window with a title
// and a line of text. Escape ends the game.
#include "talven.h"

#define PAGE 0  // the screen page: what update() shows

// palette entries for text
#define INK 1
#define GOLD 3

struct FontRecord font;
char keys[256];

// Font slot `slot`: the "Meiryo" face (any Japanese gothic face the system has).
void set_font(int slot, int height, int style) {
  memset(&font, 0, sizeof(struct FontRecord));
  strcpy(font.face, "Meiryo");
  font.height = height;
  font.style = style;
  font_set(slot, &font);
}

int main() {
  // Text colours are palette entries: set them, then make them current.
  pal_set(INK, 0xFFFFFF);
  pal_set(GOLD, 0xFFC040);
  pal_change();
  set_font(1, 56, FONT_SMOOTH | FONT_BOLD);
  set_font(2, 18, FONT_SMOOTH);

  gclear(PAGE, 0, 0xFF5A9BD8);  // 0xAARRGGBB: a blue sky
  font_use(1);
  gtext(PAGE, 210, 160, TEXT_COLOUR(GOLD, 0), "Catch!");
  font_use(2);
  gtext(PAGE, 200, 260, TEXT_COLOUR(INK, 0), "Press Escape to leave");

  // The main loop: read the keys, show the page, wait for the next frame.
  while (1) {
    getkey(keys);
    if (keys[VK_ESCAPE] & 0x80) break;
    update(0);
    sleep(16);
  }
  return 0;
}
