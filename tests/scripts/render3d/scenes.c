// Renders the 3D test scenes through the builtins and saves each as PNG:
// a lit cube (flat and Gouraud), a textured cube, an environment-mapped
// sphere and an additive cube over an opaque one. The models were written
// beside this script by the test; the bad ones must be refused.
#include "talven.h"
#include "check.h"

struct P3dMaterial mat;
struct P3dLight light;
float camera[3];
int level[3];
float pos[3];
int angles[3];
int cube;
int sphere;

int material(int model, int groups, int color, int texture, int type) {
  int g;
  mat.color = color;
  mat.texture = texture;
  mat.type = type;
  for (g = 0; g < groups; g++) {
    if (!p3d_material(model, g, &mat)) return 0;
  }
  return 1;
}

// Clears the target and the scene, sets camera, ambient and one light.
int begin() {
  gclear(1, 0, 0xFF202030);
  p3d_clear();
  p3d_view(camera, level);
  p3d_env(0.2, 0.2, 0.25);
  light.red = 0.9;
  light.green = 0.85;
  light.blue = 0.8;
  light.range = 0.0;
  light.kind = 0;
  return p3d_light(&light, 200, 150, 0);
}

int put(int model, float x, float y, float z, int ax, int ay, int az) {
  pos[0] = x;
  pos[1] = y;
  pos[2] = z;
  angles[0] = ax;
  angles[1] = ay;
  angles[2] = az;
  return p3d_setobj(model, pos, angles);
}

int finish(char *file) {
  check(p3d_render() == 1, "p3d_render");
  return check(gsave(file, 1, 0) == 1, file);
}

int main() {
  int x;
  int y;
  int tex;

  check(galloc(1, 160, 120, 32) != 0, "target");
  check(p3d_init(1, 150.0, 0.5, 100.0) == 1, "p3d_init");
  check(p3d_load("truncated.mdl") == 0, "truncated model refused");
  check(p3d_load("bad_index.mdl") == 0, "vertex index out of range refused");
  check(p3d_load("nan.mdl") == 0, "NaN vertex refused");
  check(p3d_load("missing.mdl") == 0, "missing model");
  cube = p3d_load("cube.mdl");
  sphere = p3d_load("SPHERE.MDL");
  check(cube != 0 && sphere != 0, "models load");
  check(*(int *)cube == 1 && *(int *)(cube + 8) == 8 && *(int *)(cube + 16) == 12,
        "the model record is script memory");
  check(p3d_tex(99) == 0, "p3d_tex of an empty slot");

  material(cube, 6, 0xE04030, 0, 0);
  begin();
  put(cube, 0.0, 0.0, 5.0, 150, 250, 0);
  finish("flat.png");

  material(cube, 6, 0xE04030, 0, 1);
  begin();
  put(cube, 0.0, 0.0, 5.0, 150, 250, 0);
  finish("gouraud.png");

  galloc(2, 32, 32, 24);
  for (y = 0; y < 4; y++) {
    for (x = 0; x < 4; x++) {
      if ((x + y) & 1) gfill(2, x * 8, y * 8, 8, 8, 0xFFF0E8D0);
      else gfill(2, x * 8, y * 8, 8, 8, 0xFF3060C0);
    }
  }
  gfill(2, 0, 0, 32, 2, 0xFFC02020);
  tex = p3d_tex(2);
  check(tex != 0, "p3d_tex");
  material(cube, 6, 0xFFFFFF, tex, 7);
  begin();
  put(cube, 0.0, 0.0, 4.5, 150, 250, 0);
  finish("textured.png");

  galloc(3, 64, 64, 24);
  for (y = 0; y < 8; y++) gfill(3, 0, y * 8, 64, 8, 0xFF000000 + y * 0x201008 + 0x102040);
  gfill(3, 28, 0, 8, 64, 0xFFFFFFFF);
  material(sphere, 1, 0xFFFFFF, p3d_tex(3), 9);
  begin();
  put(sphere, 0.0, 0.0, 4.0, 0, 0, 0);
  finish("env.png");

  material(cube, 6, 0x3050C0, 0, 0);
  begin();
  put(cube, -0.6, 0.0, 6.0, 150, 250, 0);
  check(p3d_free(sphere) == 1, "p3d_free");
  material(sphere, 1, 0x804020, 0, 3);  // freed: ignored
  check(put(sphere, 0.0, 0.0, 4.0, 0, 0, 0) == 0, "a freed model is not queued");
  sphere = p3d_load("sphere.mdl");
  material(sphere, 1, 0x906030, 0, 3);
  put(sphere, 0.7, 0.3, 4.0, 0, 0, 0);
  finish("additive.png");

  check(p3d_uninit() == 1, "p3d_uninit");
  check(put(cube, 0.0, 0.0, 5.0, 0, 0, 0) == 0, "models are gone after p3d_uninit");
  return failures;
}
