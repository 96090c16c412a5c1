// Save writer for the kill trials: saves every kind of file over and over
// with a rising generation number g, logging "DONE kind g" once each save
// has returned. The driver kills the process at a random moment and checks
// every file on its own. START_GEN comes from settings.h.
//   save.ini  [Soak] Gen="g:<g>:" followed by 1500 letters made from g
//   save.dat  65536 bytes bound by sysfile: bytes g & 255, first and last word g
//   pack.dat  32768 bytes in the compressed form, laid out as save.dat
//   img.bmp, img.png, img.jpg  64x48 planes of one colour made from g
#include "talven.h"
#include "settings.h"

char text[1600];
char head[32];

int fill_text(int g) {
  int i;
  sprintf(head, "g:%d:", g);
  strcpy(text, head);
  i = strlen(text);
  while (i < 1500) {
    text[i] = 'a' + (g + i) % 26;
    i++;
  }
  text[i] = 0;
  return 0;
}

int fill_block(int *block, int size, int g) {
  memset(block, g & 255, size);
  block[0] = g;
  block[size / 4 - 1] = g;
  return 0;
}

// One colour per generation, 16 levels a channel, so a lossy save still
// shows which generation it holds: g mod 4096.
int colour(int g) {
  int v;
  v = g % 4096;
  return 0xFF000000 + ((v / 256) * 16 + 8) * 65536 + ((v / 16 % 16) * 16 + 8) * 256 + (v % 16) * 16 + 8;
}

int main() {
  int g;
  int *sys;
  int *pack;

  sys = malloc(65536);
  pack = malloc(32768);
  sysfile("save.dat", sys, 65536);
  galloc(2, 64, 48, 32);
  g = START_GEN;
  log_out("READY %d\n", g);
  while (1) {
    fill_text(g);
    if (ini_sets("Soak", "Gen", text, "save.ini")) log_out("DONE ini %d\n", g);
    fill_block(sys, 65536, g);
    if (sysio(1)) log_out("DONE sys %d\n", g);
    fill_block(pack, 32768, g);
    if (pack_save("pack.dat", pack, 32768)) log_out("DONE pack %d\n", g);
    gfill(2, 0, 0, 64, 48, colour(g));
    if (gsave("img.bmp", 2, 0)) log_out("DONE bmp %d\n", g);
    if (gsave("img.png", 2, 0)) log_out("DONE png %d\n", g);
    if (gsave("img.jpg", 2, 0)) log_out("DONE jpg %d\n", g);
    g++;
  }
  return 0;
}
