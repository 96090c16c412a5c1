// Text sample: Japanese dialogue drawn into the screen page with the font
// builtins. A smoothed title, a plain line on an opaque background, a
// rotated line, and a counter formatted by gtextf. Like every game script
// this file is CP932 text.
#include "talven.h"

#define PAGE 0
#define SMOOTH 16

char font_desc[48];

// Sets a font slot: face, height, angle in tenths of a degree, style bits.
int font(int slot, char *face, int height, int angle, int style) {
  int *fields;
  memset(font_desc, 0, 48);
  strcpy(font_desc, face);
  fields = font_desc + 32;
  fields[0] = height;
  fields[1] = angle;
  fields[2] = style;
  return font_set(slot, font_desc);
}

int main() {
  int frame;
  pal_set(1, 0xFFF0C0);
  pal_set(2, 0x283C64);
  pal_set(3, 0x80E0FF);
  pal_change();
  gclear(PAGE, 0, 0xFF182030);
  font(1, "メイリオ", 36, 0, SMOOTH);
  font(2, "ＭＳ ゴシック", 16, 0, 0);
  font(3, "ＭＳ 明朝", 24, 300, SMOOTH);
  font_use(1);
  gtext(PAGE, 20, 16, 1, "こんにちは、世界！");
  font_use(2);
  gtext(PAGE, 20, 80, 3 | 2 << 8 | 0x40000000, "「ようこそ。ここでは台詞を表示します。」");
  font_use(3);
  gtext(PAGE, 250, 120, 1, "斜めの文字も書けます");
  font_use(0);  // never set: "Meiryo" at 16
  for (frame = 0; frame < 30; frame++) {
    gtextf(PAGE, 20, 230, 3 | 2 << 8 | 0x40000000, "フレーム %3d / 漢字とカナ", frame);
    update(0);
    sleep(16);
  }
  return 0;
}
