// Image filters and mesh effects through the real runtime: argument words,
// float arguments, script-edited meshes and the shared random generator.
#include "talven.h"

int failures;

int check(int ok, char *what) {
  if (!ok) {
    log_out("FAIL %s\n", what);
    failures++;
  }
  return ok;
}

// 1 when two planes of w x h hold the same pixels.
int same(int a, int b, int w, int h) {
  int x;
  int y;
  for (y = 0; y < h; y++)
    for (x = 0; x < w; x++)
      if (getpixel(a, x, y) != getpixel(b, x, y)) return 0;
  return 1;
}

void picture(int slot) {
  int y;
  for (y = 0; y < 48; y++) gline(slot, 0, y, 63, y, 0xFF000000 | (y * 5) << 16 | (255 - y * 4) << 8 | y);
  gfill(slot, 10, 10, 20, 12, 0xFFFFFFFF);
  gline(slot, 0, 0, 63, 47, 0xFFFF0000);
}

int main() {
  int info[3];
  int r[4];
  int pts[8];
  float *mesh;
  float zero;
  int i;

  galloc(1, 64, 48, 32);
  galloc(2, 64, 48, 32);
  galloc(3, 64, 48, 32);
  galloc(4, 64, 48, 24);
  picture(1);

  // Filters: the edge cases that must leave pictures alone.
  gcopy(2, 0, 0, 1, 0, 0);
  check(scroll(2, 0, 64, -48) == 1 && same(1, 2, 64, 48), "scroll by the full size");
  check(blur(3, 0, 0, 1, 0, 0) == 1 && same(1, 3, 64, 48), "blur radius 0");
  gclear(3, 0, 0);
  check(mosaic(3, 0, 0, 1, 0, 0, -1) == 1 && same(1, 3, 64, 48), "mosaic 0 x -1");
  check(slice(2, 0, 0) == 0 && same(1, 2, 64, 48), "slice amount 0");
  r[0] = 0; r[1] = 10; r[2] = 64; r[3] = 11;
  check(fire(2, r) == 0 && same(1, 2, 64, 48), "fire on one row");
  check(blur(4, 0, 0, 1, 0, 2) == 0, "blur across depths");
  check(freemap(2, 16, 1, 0, -1) == 0, "freemap with a wild point address");
  check(smooth(2, 0, 1, 16, -1) == 0, "smooth with a wild rectangle");
  pts[0] = 0; pts[1] = 0; pts[2] = 0; pts[3] = 47; pts[4] = 63; pts[5] = 47; pts[6] = 63; pts[7] = 0;
  gclear(2, 0, 0);
  check(freemap(2, pts, 1, 0, -1) == 1 && same(1, 2, 64, 48), "freemap onto the plane's corners");
  check(rotate(2, 0, 1, 0, 2048 * 5, -1) == 1 && same(1, 2, 64, 48), "rotate by whole turns");
  check(monotone(2, 0, 0, 0xFFFFFF) == 1, "monotone");
  check((getpixel(2, 5, 5) & 255) == (getpixel(2, 5, 5) >> 16 & 255), "monotone gives grey");

  // The filters draw from the generator that rand uses: a seed repeats them.
  gcopy(2, 0, 0, 1, 0, 0);
  gcopy(3, 0, 0, 1, 0, 0);
  srand(42);
  fire(2, 0);
  noise(2, 0, 90);
  slice(2, 0, 30);
  srand(42);
  fire(3, 0);
  noise(3, 0, 90);
  slice(3, 0, 30);
  check(same(2, 3, 64, 48), "seeded filters repeat");
  check(!same(1, 2, 64, 48), "seeded filters change the picture");

  // Mesh effects.
  check(ef_init(0, 2, 0, 4, 0) == 0, "ef_init across depths");
  check(ef_copy(0) == 0, "slot stays empty");
  check(ef_init(0, 2, 0, 1, 0) != 0, "ef_init");
  check(ef_water(0, 8.0) == 0, "ef_water before ef_blob");
  check(ef_info(0, info) == 1 && info[0] == 8 && info[1] == 6, "ef_info");
  check(ef_clear(0) == 1 && ef_copy(0) == 1 && same(1, 2, 64, 48), "identity mesh copies");
  check(ef_raster(0, 0.0, 0.0, 5.0) == 1 && ef_copy(0) == 1 && same(1, 2, 64, 48), "raster without wavelength");
  mesh = (float *)info[2];
  check(mesh[2 * 10] == 8.0 && mesh[2 * 10 + 1] == 8.0, "mesh point (1, 1)");
  // Whole source widths added to every point tile the same picture.
  for (i = 0; i < 9 * 7; i++) {
    mesh[2 * i] = mesh[2 * i] + 640.0;
    mesh[2 * i + 1] = mesh[2 * i + 1] - 96.0;
  }
  check(ef_copy(0) == 1 && same(1, 2, 64, 48), "mesh outside the source tiles it");
  zero = 0.0;
  for (i = 0; i < 9 * 7 * 2; i++) mesh[i] = zero / zero;
  check(ef_copy(0) == 1 && getpixel(2, 30, 30) == getpixel(1, 0, 0), "NaN points show the origin");
  check(ef_rotate(0, 32.0, 24.0, 1.0, 0.0) == 1 && ef_copy(0) == 1 && same(1, 2, 64, 48), "rotate by 0");
  check(ef_rotate(0, 32.0, 24.0, 1.0, 1.0) == 1 && ef_copy(0) == 1 && !same(1, 2, 64, 48), "rotate by a radian");
  check(ef_blob(0, 32.0, 24.0, 12.0, 6.0) == 1 && ef_water(0, 8.0) == 1, "blob and water");
  check(ef_lens(0, 500.0, 500.0, 10.0, 1.0) == 0, "lens off the grid");
  check(ef_free(0) == 1 && ef_copy(0) == 0 && ef_free(8) == 0, "ef_free");
  return failures;
}
