// Orbit Garden: a title, then planets circling a glowing sun over a pond.
// The pointer follows the mouse (until the mouse first moves it wanders on
// a fixed path); clicking a planet catches it: the planet grows and the
// pond ripples from it. Space turns the orbits around and Escape ends the
// game. Catching all three shows the clear message and ends the game; the
// result is the number of planets caught. examples/orbit/demo.txt plays it
// through: talven --input examples/orbit/demo.txt examples/orbit
//
// Shows: layered sprites over a background plane, parent-child links (a
// moon that follows its planet's spin), alpha layering, rotation with
// smoothing, scaling, hit areas, Japanese text drawn with the font
// builtins, a blur filter, a water mesh effect, mouse, click and key input.
// Like every game script this file is CP932 text.
#include "talven.h"

#define PAGE 0
#define BG 1
#define SUN 2
#define PLANET 3
#define MOON 6
#define TITLE 7
#define POINTER 8
#define WATER 9
#define PLANETS 3
#define VK_SPACE 0x20
#define VK_ESCAPE 0x1B

#define CX 320
#define CY 180

struct BlendMode layered;
struct BlendMode fading;
int changed[4];

struct Sprite *sun;
struct Sprite *planets[PLANETS];
struct Sprite *moon;
struct Sprite *title;
struct Sprite *pointer;
struct HitArea *areas[PLANETS];

int caught[PLANETS];
int caught_count;
int ripples;      // frames the pond still moves
int mouse_seen;   // the mouse has moved: the pointer follows it
int first_x;
int first_y;
int full[4] = {0, 0, 640, 360};
char font_desc[48];

int radius[PLANETS] = {80, 125, 165};
int speed[PLANETS] = {9, -6, 4};
int phase[PLANETS] = {0, 700, 1400};

int load(int slot, char *path) {
  if (!gload(slot, path)) {
    log_out("cannot load %s", path);
    return 0;
  }
  return 1;
}

// Places a sprite so that (x, y) is the centre of its picture.
void centre(struct Sprite *s, int w, int h) {
  s->pivot_x = w / 2;
  s->pivot_y = h / 2;
}

// Font slot `slot`: face, height, smoothing.
int font(int slot, char *face, int height) {
  int *fields;
  memset(font_desc, 0, 48);
  strcpy(font_desc, face);
  fields = font_desc + 32;
  fields[0] = height;
  fields[2] = 16;  // smoothing
  return font_set(slot, font_desc);
}

// Words on the pond (drawn into the background, so they ripple with it).
void write_on_pond(int y, char *japanese, char *english) {
  font_use(1);
  gtext(BG, 20, y, 1, japanese);
  font_use(2);
  gtext(BG, 22, y + 34, 2, english);
}

int setup() {
  int i;
  if (!load(BG, "Orbit\\img\\bg.png")) return 0;
  if (!load(SUN, "Orbit\\img\\sun.png")) return 0;
  if (!load(PLANET, "Orbit\\img\\planet1.png")) return 0;
  if (!load(PLANET + 1, "Orbit\\img\\planet2.png")) return 0;
  if (!load(PLANET + 2, "Orbit\\img\\planet3.png")) return 0;
  if (!load(MOON, "Orbit\\img\\moon.png")) return 0;
  if (!load(TITLE, "Orbit\\img\\title.png")) return 0;
  if (!load(POINTER, "Orbit\\img\\cursor.png")) return 0;

  // A softer title: blurred along rows, then down columns.
  blur(TITLE, 0, 0, TITLE, 0, 1);
  blur(TITLE, 0, 0, TITLE, 0, -1);
  pal_set(1, 0xFFF0C0);
  pal_set(2, 0xA0C8FF);
  pal_change();
  font(1, "メイリオ", 26);
  font(2, "メイリオ", 14);
  write_on_pond(290, "惑星をクリックしてつかまえよう", "Click the planets to catch them");

  // The pond: the background seen through a water mesh.
  if (!galloc(WATER, 640, 360, 24)) {
    log_out("cannot make the pond plane");
    return 0;
  }
  if (!ef_init(0, WATER, 0, BG, 0)) {
    log_out("cannot start the water effect");
    return 0;
  }
  ef_clear(0);
  ef_copy(0);

  layered.mode = 5;
  layered.opacity = 255;
  fading.mode = 5;
  fading.opacity = 0;

  vpage(PAGE);
  apage(PAGE);
  sp_init(-1);
  sp_setbg(WATER);

  sun = (struct Sprite *)sp_set(0, 2, CX, CY, SUN, 0, &layered);
  centre(sun, 128, 128);
  for (i = 0; i < PLANETS; i++) {
    planets[i] = (struct Sprite *)sp_set(1, 2, CX + radius[i], CY, PLANET + i, 0, &layered);
    centre(planets[i], planets[i]->source[2], planets[i]->source[3]);
    areas[i] = (struct HitArea *)hit_set(1, 2, (int)planets[i], 0, i);
  }
  // The moon is linked to the third planet: its offset turns with the
  // planet's spin, so it circles the planet without any code of its own.
  moon = (struct Sprite *)sp_set(1, 2, 40, 0, MOON, 0, &layered);
  centre(moon, 14, 14);
  sp_link((int)planets[2], (int)moon);

  title = (struct Sprite *)sp_set(2, 2, CX, 70, TITLE, 0, &fading);
  centre(title, title->source[2], title->source[3]);
  pointer = (struct Sprite *)sp_set(2, 2, 0, 0, POINTER, 0, &layered);
  centre(pointer, 24, 24);
  return 1;
}

// One frame; 0 when the game is over.
int step(int frame) {
  int i;
  int a;
  int px;
  int py;
  int pt[4];
  char keys[256];
  int direction;
  struct HitArea *under;

  getkey(keys);
  if (keys[VK_ESCAPE] & 0x80) return 0;
  direction = (keys[VK_SPACE] & 1) ? -1 : 1;  // each press of Space turns the orbits

  // The title fades in, then out, and is taken off.
  if (title) {
    if (frame < 64) title->blend.opacity = frame * 4;
    else if (frame < 96) title->blend.opacity = 255 - (frame - 64) * 8;
    else {
      sp_reset((int)title);
      title = 0;
    }
    if (title) title->flags = title->flags | 1;
  }

  sun->angle = frame * 3;
  sun->scale_x = 0x10000 + tsin(frame * 16) / 16;
  sun->scale_y = sun->scale_x;
  sun->flags = sun->flags | 1;

  for (i = 0; i < PLANETS; i++) {
    a = phase[i] + frame * speed[i] * direction;
    planets[i]->x = CX + tcos(a) * radius[i] / 65536;
    planets[i]->y = CY + tsin(a) * radius[i] / 65536 / 2;
    planets[i]->angle = frame * (i + 2) * 4 * (caught[i] ? 3 : 1);
    planets[i]->scale_x = caught[i] ? 0x18000 : 0x10000;
    planets[i]->flags = planets[i]->flags | 1;
  }

  // The pointer: the mouse once it has moved, else a wandering path. It
  // lights up what it touches; a click catches the planet under it.
  getpoint(pt);
  if (frame == 0) {
    first_x = pt[0];
    first_y = pt[1];
  } else if (pt[0] >= 0 && (pt[0] != first_x || pt[1] != first_y)) {
    mouse_seen = 1;
  }
  if (mouse_seen) {
    px = pt[0];
    py = pt[1];
  } else {
    px = CX + tcos(frame * 5) * 200 / 65536;
    py = CY + tsin(frame * 7) * 130 / 65536;
  }
  pointer->x = px;
  pointer->y = py;
  pointer->flags = pointer->flags | 1;
  under = (struct HitArea *)hit_point(px, py, 2);
  if (under) {
    i = under->value;
    if (!caught[i]) planets[i]->scale_x = 0x14000;
    if ((pt[3] & 0x10000) && !caught[i]) {
      caught[i] = 1;
      caught_count++;
      ef_blob(0, (float)px, (float)py, 24.0, 60.0);
      ripples = 240;
      if (caught_count == PLANETS) {
        write_on_pond(200, "ぜんぶつかまえた！", "All three caught!");
        ef_blob(0, 320.0, 230.0, 60.0, 90.0);
      }
    }
  }
  for (i = 0; i < PLANETS; i++) planets[i]->scale_y = planets[i]->scale_x;
  return 1;
}

int main() {
  int frame;
  int ending;
  if (!setup()) return 1;
  frame = 0;
  ending = 0;
  while (step(frame)) {
    if (ripples > 0) {
      // The pond moved: the whole background is new.
      ef_water(0, 24.0);
      ef_copy(0);
      ripples--;
      drt_set(full);
      sp_redraw(-1);
      sp_draw(-1, changed);
      update(0);
    } else {
      sp_draw(-1, changed);
      update(changed);
    }
    if (caught_count == PLANETS && ++ending > 120) break;
    sleep(16);
    frame++;
  }
  log_out("caught %d planets", caught_count);
  return caught_count;
}
