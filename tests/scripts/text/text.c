// Fonts and text through the real runtime: slots, metrics, drawing and
// formatting, and the per-thread current font. Returns the failed checks.
#include "talven.h"
#include "check.h"

char desc[48];
char back[48];
int worker_result;
int worker_done;

int set_desc(char *face, int height, int angle, int style) {
  int *fields;
  memset(desc, 0, 48);
  strcpy(desc, face);
  fields = desc + 32;
  fields[0] = height;
  fields[1] = angle;
  fields[2] = style;
  fields[3] = 0;
  return 0;
}

// A new thread starts with font slot 0, whatever its creator uses.
int worker(int arg) {
  worker_result = gtext(1, 0, 0, 1, "x");
  worker_done = 1;
  return 0;
}

// Number of pixels of two planes that differ.
int differences(int a, int b, int w, int h) {
  int x;
  int y;
  int n;
  n = 0;
  for (y = 0; y < h; y++)
    for (x = 0; x < w; x++)
      if (getpixel(a, x, y) != getpixel(b, x, y)) n++;
  return n;
}

int ink(int slot, int w, int h) {
  int x;
  int y;
  int n;
  n = 0;
  for (y = 0; y < h; y++)
    for (x = 0; x < w; x++)
      if (getpixel(slot, x, y) != 0) n++;
  return n;
}

int main() {
  float abc[3];
  float kern;
  char names[256];
  int n;

  pal_set(1, 0xFFFFFF);
  pal_change();
  check(galloc(1, 160, 40, 32) != 0, "galloc 1");
  check(galloc(2, 160, 40, 32) != 0, "galloc 2");

  // Font records round-trip; slot 32 does not exist.
  check(font_get(5, back) == 1 && strcmp(back, "Meiryo") == 0, "default face");
  set_desc("IPAGothic", 20, 0, 16);
  check(font_set(3, desc) == 1, "font_set");
  check(font_get(3, back) == 1 && memcmp(back, desc, 48) == 0, "font_get round trip");
  check(font_set(32, desc) == 0, "font_set slot 32");
  check(font_get(3, 0) == 0, "font_get null");

  // Metrics.
  check(font_abc(3, 200, abc) == 0, "font_abc 200");
  check(font_abc(3, 'M', abc) == 1 && abc[1] > 0.2 && abc[1] < 1.0, "font_abc M");
  check(font_kern(3, 16384, &kern) == 0, "font_kern 16384");

  n = font_list(names, 8);
  check(n > 0 && n <= 8 && names[0] != '@', "font_list");

  // gtextf formats with the runtime's formatter before drawing.
  font_use(3);
  check(gtextf(1, 2, 2, 1, "%d-%s", 42, "ok") == 1, "gtextf");
  check(gtext(2, 2, 2, 1, "42-ok") == 1, "gtext");
  check(ink(1, 160, 40) > 20, "gtextf drew");
  check(differences(1, 2, 160, 40) == 0, "gtextf equals gtext of the formatted text");
  check(gtext(1, -1000, 0, 1, "abc") == 0, "box left of the clip");
  check(gtext(1, 0, 0, 1, 0) == 0, "null string");

  // The current font is per thread.
  font_use(200);
  check(gtext(1, 0, 0, 1, "abc") == 0, "slot 200 cannot be realised");
  thd_begin(worker, 0, 0, 0);
  while (!worker_done) sleep(1);
  check(worker_result == 1, "a new thread draws with slot 0");
  check(gtext(1, 0, 0, 1, "abc") == 0, "the creator keeps its slot");
  font_use(3);
  check(gtext(1, 0, 0, 1, "\x82\xA0") == 1, "back to slot 3");
  log_out("text checks done\n");
  return failures;
}
