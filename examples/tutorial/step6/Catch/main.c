// Catch, step 6 of the tutorial (docs/tutorial.md): the finished game.
// Fruit falls from the sky; move the basket with Left and Right to catch
// it. Three missed fruits end the game; the best score is saved. The
// result of main is the score, so a headless run with a recorded input is
// a test: talven --headless --input demo.txt examples/tutorial/step6
#include "talven.h"
#include "sounds.h"

#define PAGE 0    // the screen page
#define BG 1      // the background: sky, grass and the score bar
#define BASKET 2  // the basket's picture
#define FRUIT 3   // the fruit's picture

#define W 640
#define H 480
#define BAR 32      // height of the score bar
#define GROUND 440  // top of the grass

// palette entries for text
#define INK 1
#define BAR_COLOUR 2
#define GOLD 3

// sprite and hit-area layers
#define L_FRUIT 0
#define L_BASKET 1

#define FRUITS 3
#define LIVES 3
#define BASKET_SPEED 8

// sound slots
#define S_CATCH 0
#define S_MISS 1
#define S_MUSIC 2

struct SaveData {
  int best;   // the best score so far
  int games;  // games played
};

struct FontRecord font;
struct BlendMode layered;
struct SaveData save;
char keys[256];

struct Sprite *basket;
struct Sprite *fruit[FRUITS];
struct HitArea *fruit_area[FRUITS];
int fruit_speed[FRUITS];
int score;
int misses;

// Font slot `slot`: the "Meiryo" face (any Japanese gothic face the system has).
void set_font(int slot, int height, int style) {
  memset(&font, 0, sizeof(struct FontRecord));
  strcpy(font.face, "Meiryo");
  font.height = height;
  font.style = style;
  font_set(slot, &font);
}

// Pictures drawn by the script: the background, the basket and the fruit
// (a red disc with a leaf on a transparent plane).
int make_pictures() {
  int y;
  int half;
  if (!galloc(BG, W, H, 32) || !galloc(BASKET, 64, 28, 32) || !galloc(FRUIT, 24, 26, 32)) return 0;
  gclear(BG, 0, 0xFF5A9BD8);
  gfill(BG, 0, GROUND, W, H - GROUND, 0xFF3C8C3C);
  gclear(BASKET, 0, 0);
  gfill(BASKET, 0, 0, 64, 6, 0xFFE0A060);
  gfill(BASKET, 6, 6, 52, 22, 0xFF8B5A2B);
  gclear(FRUIT, 0, 0);
  for (y = 0; y < 20; y++) {
    half = (int)sqrt((float)(100 - (y - 10) * (y - 10)));
    gfill(FRUIT, 12 - half, 5 + y, half * 2, 1, 0xFFE03020);
  }
  gfill(FRUIT, 12, 0, 7, 5, 0xFF30A030);
  return 1;
}

// Puts fruit i back above the sky at a random place, with a random speed.
void drop_fruit(int i) {
  fruit[i]->x = 20 + rand() % (W - 40);
  fruit[i]->y = -20 - rand() % 200;
  fruit_speed[i] = 3 + rand() % 4;
}

void build_scene() {
  int i;
  int r[4];
  layered.mode = 5;  // alpha layering: the pictures' transparent parts stay unseen
  layered.opacity = 255;
  sp_init(-1);
  sp_setbg(BG);
  basket = (struct Sprite *)sp_set(L_BASKET, 2, W / 2, GROUND + 4, BASKET, 0, &layered);
  basket->pivot_x = 32;  // (x, y) is the middle of the basket's bottom
  basket->pivot_y = 28;
  rc_set(r, -30, -28, 30, -14);  // the basket's opening, from (x, y)
  hit_set(L_BASKET, 1 << L_FRUIT, (int)basket, r, 0);
  rc_set(r, -9, -9, 9, 9);  // the fruit's body, from its centre
  for (i = 0; i < FRUITS; i++) {
    fruit[i] = (struct Sprite *)sp_set(L_FRUIT, 2, 0, 0, FRUIT, 0, &layered);
    fruit[i]->pivot_x = 12;
    fruit[i]->pivot_y = 15;
    fruit_area[i] = (struct HitArea *)hit_set(L_FRUIT, 1 << L_BASKET, (int)fruit[i], r, i);
    drop_fruit(i);
  }
}

// The score bar is drawn into the background with an opaque text
// background, which paints over the previous numbers.
void draw_bar() {
  font_use(2);
  gtextf(BG, 10, 6, TEXT_COLOUR(INK, BAR_COLOUR) | TEXT_OPAQUE,
         "Score %d   Misses %d/%d   Best %d   ", score, misses, LIVES, save.best);
}

// Shows one frame: every sprite over the background, then the page; about
// 60 frames a second.
void show_frame() {
  sp_redraw(-1);
  sp_draw(-1, 0);
  update(0);
  sleep(16);
}

// One round; the score.
int play() {
  int i;
  score = 0;
  misses = 0;
  while (misses < LIVES) {
    getkey(keys);
    if (keys[VK_ESCAPE] & 0x80) break;
    if (keys[VK_LEFT] & 0x80) basket->x = basket->x - BASKET_SPEED;
    if (keys[VK_RIGHT] & 0x80) basket->x = basket->x + BASKET_SPEED;
    if (basket->x < 32) basket->x = 32;
    if (basket->x > W - 32) basket->x = W - 32;
    for (i = 0; i < FRUITS; i++) {
      fruit[i]->y = fruit[i]->y + fruit_speed[i];
      if (hit_check((int)fruit_area[i])) {
        score++;
        snd_play(S_CATCH, 0);
        log_out("caught at x %d: score %d", fruit[i]->x, score);
        drop_fruit(i);
      } else if (fruit[i]->y > GROUND) {
        misses++;
        snd_play(S_MISS, 0);
        log_out("missed at x %d", fruit[i]->x);
        drop_fruit(i);
      }
    }
    draw_bar();
    show_frame();
  }
  return score;
}

int main() {
  int i;
  int seed;
  // Seed=0 in Catch.cfg: different fruit every game; any other number: the
  // same fruit every time, so that a recorded input replays the same game.
  seed = ini_geti("Game", "Seed", 0, "Catch.cfg");
  srand(seed);
  pal_set(INK, 0xFFFFFF);
  pal_set(BAR_COLOUR, 0x203050);
  pal_set(GOLD, 0xFFC040);
  pal_change();
  set_font(1, 56, FONT_SMOOTH | FONT_BOLD);
  set_font(2, 18, FONT_SMOOTH);
  if (!make_pictures() || !make_sounds()) {
    log_out("cannot make the pictures or the sounds");
    return 255;
  }
  snd_load(S_CATCH, "catch.wav");
  snd_load(S_MISS, "miss.wav");
  snd_loads(S_MUSIC, "tune.wav");
  snd_setvol(S_MUSIC, 60);
  snd_play(S_MUSIC, 1);

  // The save data: read at start, written when a game beats the best.
  sysfile("catch.sav", &save, sizeof(struct SaveData));
  gfill(BG, 0, 0, W, BAR, 0xFF203050);
  build_scene();
  play();
  save.games++;
  if (score > save.best) {
    save.best = score;
    font_use(1);
    gtext(BG, 130, 200, TEXT_COLOUR(GOLD, 0), "New best!");
  } else {
    font_use(1);
    gtext(BG, 150, 200, TEXT_COLOUR(INK, 0), "Game over");
  }
  sysio(1);
  draw_bar();
  log_out("game over: score %d, best %d, games %d", score, save.best, save.games);
  for (i = 0; i < 30; i++) show_frame();
  snd_stop(S_MUSIC);
  return score;
}
