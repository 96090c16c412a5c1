// Orbit Garden: a title, then planets circling a glowing sun. A pointer
// wanders over the scene on a fixed path (the game reads no input yet) and
// lights up the planet under it through the planets' hit areas.
//
// Shows: layered sprites over a background plane, parent-child links (a
// moon that follows its planet's spin), alpha layering, rotation with
// smoothing, scaling, hit areas and changed-area updates.
#include "..\..\..\sdk\talven.h"

#define PAGE 0
#define BG 1
#define SUN 2
#define PLANET 3
#define MOON 6
#define TITLE 7
#define POINTER 8
#define PLANETS 3

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

  layered.mode = 5;
  layered.opacity = 255;
  fading.mode = 5;
  fading.opacity = 0;

  vpage(PAGE);
  apage(PAGE);
  sp_init(-1);
  sp_setbg(BG);

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

void step(int frame) {
  int i;
  int a;
  int px;
  int py;
  struct HitArea *under;

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
    a = phase[i] + frame * speed[i];
    planets[i]->x = CX + tcos(a) * radius[i] / 65536;
    planets[i]->y = CY + tsin(a) * radius[i] / 65536 / 2;
    planets[i]->angle = frame * (i + 2) * 4;
    planets[i]->scale_x = 0x10000;
    planets[i]->flags = planets[i]->flags | 1;
  }

  // A pointer that wanders over the scene and lights up what it touches.
  px = CX + tcos(frame * 5) * 200 / 65536;
  py = CY + tsin(frame * 7) * 130 / 65536;
  pointer->x = px;
  pointer->y = py;
  pointer->flags = pointer->flags | 1;
  under = (struct HitArea *)hit_point(px, py, 2);
  if (under) {
    i = under->value;
    planets[i]->scale_x = 0x14000;
  }
  for (i = 0; i < PLANETS; i++) planets[i]->scale_y = planets[i]->scale_x;
}

int main() {
  int frame;
  if (!setup()) return 1;
  frame = 0;
  while (1) {
    step(frame);
    sp_draw(-1, changed);
    update(changed);
    sleep(16);
    frame++;
  }
  return 0;
}
