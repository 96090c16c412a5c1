// Spinning Torus: a textured, Gouraud-lit torus turns in front of the
// camera while a glowing point light circles it.
//
// Shows: models made with `talven model` from OBJ files, materials with a
// texture drawn by the script, ambient, directional and point lights, and
// an additive, two-sided glow drawn over the scene.
#include "talven.h"

#define PAGE 0
#define TEXTURE 1

struct P3dMaterial ring;
struct P3dMaterial glowing;
struct P3dLight sun;
struct P3dLight lamp;
float camera[3] = {0.0, 1.2, -4.2};
int look[3] = {90, 0, 0};
float centre[3] = {0.0, 0.0, 0.0};
float lamp_at[3];
int turn[3];
int still[3];

float phase;
int torus;
int glow;

// A checkerboard with a stripe, drawn with plain fills.
int make_texture() {
  int x;
  int y;
  galloc(TEXTURE, 64, 64, 24);
  for (y = 0; y < 8; y++) {
    for (x = 0; x < 8; x++) {
      if ((x + y) & 1) gfill(TEXTURE, x * 8, y * 8, 8, 8, 0xFFF2E6C8);
      else gfill(TEXTURE, x * 8, y * 8, 8, 8, 0xFF2A6FB0);
    }
  }
  gfill(TEXTURE, 0, 28, 64, 8, 0xFFD04020);
  return 1;
}

int setup() {
  torus = p3d_load("Model\\torus.mdl");
  glow = p3d_load("Model\\glow.mdl");
  if (!torus || !glow) {
    log_out("cannot load the models");
    return 0;
  }
  make_texture();
  if (!p3d_init(PAGE, 420.0, 0.5, 50.0)) return 0;
  // p3d_init frees every model: load them again.
  torus = p3d_load("Model\\torus.mdl");
  glow = p3d_load("Model\\glow.mdl");
  ring.color = 0xFFFFFF;
  ring.texture = p3d_tex(TEXTURE);
  ring.type = 7;
  p3d_material(torus, 0, &ring);
  glowing.color = 0xFFB040;
  glowing.texture = 0;
  glowing.type = 5;
  p3d_material(glow, 0, &glowing);
  sun.red = 0.55;
  sun.green = 0.55;
  sun.blue = 0.6;
  sun.kind = 0;
  lamp.red = 1.6;
  lamp.green = 1.0;
  lamp.blue = 0.4;
  lamp.range = 4.0;
  lamp.kind = 1;
  vpage(PAGE);
  apage(PAGE);
  return 1;
}

int frame(int n) {
  gclear(PAGE, 0, 0xFF101828);
  p3d_clear();
  p3d_view(camera, look);
  p3d_env(0.15, 0.15, 0.2);
  p3d_light(&sun, 300, 200, 0);
  phase = phase + 0.03;
  lamp_at[0] = 2.0 * cos(phase);
  lamp_at[1] = 0.6;
  lamp_at[2] = 2.0 * sin(phase);
  p3d_light(&lamp, lamp_at[0], lamp_at[1], lamp_at[2]);
  turn[0] = 300;
  turn[1] = n * 6;
  turn[2] = n * 2;
  p3d_setobj(torus, centre, turn);
  still[1] = n * 20;
  p3d_setobj(glow, lamp_at, still);
  return p3d_render();
}

int main() {
  int n;
  if (!setup()) return 1;
  n = 0;
  while (1) {
    frame(n);
    update(0);
    sleep(16);
    n++;
  }
  return 0;
}
