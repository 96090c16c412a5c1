// Catch, step 2 of the tutorial (docs/tutorial.md): a basket that Left and
// Right move along the grass. Escape ends the game.
#include "talven.h"

#define PAGE 0    // the screen page
#define BG 1      // the background: sky and grass
#define BASKET 2  // the basket's picture

#define W 640
#define H 480
#define GROUND 440  // top of the grass

// palette entries for text
#define INK 1

// sprite layers
#define L_BASKET 1

#define BASKET_SPEED 8

struct FontRecord font;
struct BlendMode layered;
char keys[256];

struct Sprite *basket;

// Font slot `slot`: the "Meiryo" face (any Japanese gothic face the system has).
void set_font(int slot, int height, int style) {
  memset(&font, 0, sizeof(struct FontRecord));
  strcpy(font.face, "Meiryo");
  font.height = height;
  font.style = style;
  font_set(slot, &font);
}

// Pictures drawn by the script: the background and the basket (on a
// transparent plane: colour 0 has alpha 0).
int make_pictures() {
  if (!galloc(BG, W, H, 32) || !galloc(BASKET, 64, 28, 32)) return 0;
  gclear(BG, 0, 0xFF5A9BD8);
  gfill(BG, 0, GROUND, W, H - GROUND, 0xFF3C8C3C);
  gclear(BASKET, 0, 0);
  gfill(BASKET, 0, 0, 64, 6, 0xFFE0A060);
  gfill(BASKET, 6, 6, 52, 22, 0xFF8B5A2B);
  return 1;
}

void build_scene() {
  layered.mode = 5;  // alpha layering: the pictures' transparent parts stay unseen
  layered.opacity = 255;
  sp_init(-1);
  sp_setbg(BG);
  basket = (struct Sprite *)sp_set(L_BASKET, 2, W / 2, GROUND + 4, BASKET, 0, &layered);
  basket->pivot_x = 32;  // (x, y) is the middle of the basket's bottom
  basket->pivot_y = 28;
}

// Shows one frame: every sprite over the background, then the page; about
// 60 frames a second.
void show_frame() {
  sp_redraw(-1);
  sp_draw(-1, 0);
  update(0);
  sleep(16);
}

int main() {
  pal_set(INK, 0xFFFFFF);
  pal_change();
  set_font(2, 18, FONT_SMOOTH);
  if (!make_pictures()) {
    log_out("cannot make the pictures");
    return 255;
  }
  font_use(2);
  gtext(BG, 10, 6, TEXT_COLOUR(INK, 0), "Left and Right move the basket");
  build_scene();
  while (1) {
    getkey(keys);
    if (keys[VK_ESCAPE] & 0x80) break;
    if (keys[VK_LEFT] & 0x80) basket->x = basket->x - BASKET_SPEED;
    if (keys[VK_RIGHT] & 0x80) basket->x = basket->x + BASKET_SPEED;
    if (basket->x < 32) basket->x = 32;
    if (basket->x > W - 32) basket->x = W - 32;
    show_frame();
  }
  log_out("the basket stopped at x %d", basket->x);
  return 0;
}
