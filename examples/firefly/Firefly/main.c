// Firefly Night: catch fireflies in a jar by the pond before the night
// ends, and keep away from the wasps.
//
// Title (menu by keyboard, mouse or joystick) -> a short 3D scene of a
// paper lantern -> the round -> the result and the high-score table (kept
// in a save-data file) -> the title again; Quit closes the program.
//
// Controls: arrows or WASD, the mouse, or joystick 0 move the jar; Space,
// Return, a click or joystick button 0 swoops it. A firefly in the jar at
// the swoop counts 1, a wasp touching the jar costs 2.
//
// Shows: layered sprites with alpha layering, rotation and scaling, hit
// areas, coverage text sprites (Japanese and English), the blur, mosaic and
// monotone filters, a water mesh effect, the 3D renderer, sound effects
// with echo, distortion and reverb, a streamed ambience, MIDI music and
// save data.
#include "talven.h"
#include "text.h"

#define W 1280
#define H 720
#define POND_TOP 560

// planes
#define PAGE 0
#define BG 1
#define JAR 2
#define FLY 3
#define WASP 4
#define BAR 5
#define POND_SRC 6
#define POND 7
#define PAPER 8
#define SNAP 9
#define TXT_TITLE 10
#define TXT_SUB 11
#define TXT_MENU 12
#define TXT_HINT 15
#define TXT_HUD 16
#define TXT_TABLE 17
#define TXT_BIG 18

// layers
#define L_BACK 0
#define L_FLY 1
#define L_JAR 2
#define L_WASP 3
#define L_UI 4

// sounds
#define S_SELECT 0
#define S_CATCH 1
#define S_BUZZ 2
#define S_NIGHT 3

// virtual keys
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_A 0x41
#define VK_D 0x44
#define VK_S 0x53
#define VK_W 0x57

#define FLIES 8
#define WASPS 3
#define ANCHORS 16
#define TABLE 5
#define SAVE_MAGIC 0x59464C46

#define F_BIG 1
#define F_MENU 2
#define F_SMALL 3

#define SCENE_PLAY 1
#define SCENE_QUIT 2

// ---- shared state ----------------------------------------------------------

struct BlendMode layered;
struct BlendMode covered;
char font_desc[48];

char keys[256];
char last_keys[256];
int point[4];
int last_point_x;
int last_point_y;
int joy[3];
int last_joy[3];

int frames_shown;
int frame_wait;
int clock_base;
int changed[4];

struct Sprite *pond;
int pond_rect[4];

// The save-data block: magic, the table (best first) with dates as
// yyyymmdd, and a CRC-32 of everything before it.
struct SaveData {
  int magic;
  int score[TABLE];
  int date[TABLE];
  int check;
};
struct SaveData save;

// Where fireflies hover: a firefly of number i in generation g uses anchor
// (i * 3 + g * 5) % ANCHORS, so the night always plays the same way.
int anchor_x[ANCHORS] = {180, 420, 700, 980, 1130, 300, 560, 840, 1060, 140, 380, 640, 900, 1180, 500, 760};
int anchor_y[ANCHORS] = {140, 220, 120, 200, 320, 380, 300, 420, 460, 470, 520, 200, 300, 140, 440, 520};
int wasp_start_vx[WASPS] = {5, -4, 3};
int wasp_start_vy[WASPS] = {3, 4, -5};
int wasp_vx[WASPS];
int wasp_vy[WASPS];

// ---- helpers -----------------------------------------------------------------

int load(int slot, char *path) {
  if (gload(slot, path)) return 1;
  log_out("cannot load %s", path);
  return 0;
}

int font(int slot, int height, int style) {
  int *fields;
  memset(font_desc, 0, 48);
  strcpy(font_desc, "IPAPGothic");
  fields = font_desc + 32;
  fields[0] = height;
  fields[1] = 0;
  fields[2] = style;
  return font_set(slot, font_desc);
}

// An 8-bit plane holding the smoothed coverage of one line of text: shown
// by a sprite in blend mode 11, it layers that text in any colour.
int text_plane(int slot, int w, int h, int face, char *text) {
  if (!galloc(slot, w, h, 8)) return 0;
  gclear(slot, 0, 0);
  font_use(face);
  return gtext(slot, 0, 0, 255, text);
}

struct Sprite *text_sprite(int slot, int x, int y, int colour) {
  struct Sprite *s;
  s = (struct Sprite *)sp_set(L_UI, 2, x, y, slot, 0, &covered);
  s->blend.param2 = colour;
  return s;
}

void centre(struct Sprite *s) {
  s->pivot_x = (s->source[2] - s->source[0]) / 2;
  s->pivot_y = (s->source[3] - s->source[1]) / 2;
}

void touch(struct Sprite *s) { s->flags = s->flags | 1; }

int pressed(int vk) { return (keys[vk] & 0x80) && !(last_keys[vk] & 0x80); }

int held(int vk) { return keys[vk] & 0x80; }

int joy_pressed() { return (joy[2] & 1) && !(last_joy[2] & 1); }

int clicked() { return point[3] & 0x10000; }

int pointer_moved() { return point[0] != last_point_x || point[1] != last_point_y; }

void read_input() {
  last_point_x = point[0];
  last_point_y = point[1];
  memcpy(last_keys, keys, 256);
  memcpy(last_joy, joy, 12);
  getkey(keys);
  getpoint(point);
  if (!getjoy(0, joy)) memset(joy, 0, 12);
}

// Presents the page and keeps to 60 frames a second (unless FrameWait=0).
void next_frame() {
  int due;
  update(0);
  frames_shown++;
  if (!frame_wait) return;
  due = frames_shown * 50 / 3 - (getcount(0) - clock_base);
  if (due > 0) sleep(due);
  else sleep(0);
}

// The pond: the bank's bottom strip, softened, seen through a water mesh.
int pond_setup() {
  int source[4];
  rc_set(source, 0, POND_TOP, W, H);
  if (!galloc(POND_SRC, W, H - POND_TOP, 32) || !galloc(POND, W, H - POND_TOP, 32)) return 0;
  blur(POND_SRC, 0, 0, BG, source, 3);
  blur(POND_SRC, 0, 0, POND_SRC, 0, -2);
  if (!ef_init(0, POND, 0, POND_SRC, 0)) return 0;
  ef_clear(0);
  return 1;
}

void pond_show() {
  pond = (struct Sprite *)sp_set(L_BACK, 2, 0, POND_TOP, POND, 0, 0);
}

void pond_step() {
  ef_water(0, 20.0);
  ef_copy(0);
  touch(pond);
}

void drop(int x, int y, float size) { ef_blob(0, (float)x, (float)(y - POND_TOP), size, size * 4.0); }

// ---- save data -------------------------------------------------------------

int save_valid() {
  int i;
  if (save.magic != SAVE_MAGIC) return 0;
  if (save.check != crc32(&save, 44)) return 0;
  for (i = 0; i < TABLE; i++)
    if (save.score[i] < 0 || save.score[i] > 9999 || (i > 0 && save.score[i] > save.score[i - 1])) return 0;
  return 1;
}

void save_load() {
  int existed;
  existed = sysfile("Firefly.sav", &save, sizeof(struct SaveData));
  if (existed && save_valid()) return;
  if (existed) log_out("the save data was damaged: a new table starts");
  memset(&save, 0, sizeof(struct SaveData));
  save.magic = SAVE_MAGIC;
  save.check = crc32(&save, 44);
}

// Puts a score in the table; its place (0 best) or -1.
int save_add(int score) {
  int i;
  int place;
  short now[8];
  place = -1;
  for (i = 0; i < TABLE; i++) {
    if (score > save.score[i]) {
      place = i;
      break;
    }
  }
  if (place < 0) return -1;
  for (i = TABLE - 1; i > place; i--) {
    save.score[i] = save.score[i - 1];
    save.date[i] = save.date[i - 1];
  }
  gettime(now);
  save.score[place] = score;
  save.date[place] = now[0] * 10000 + now[1] * 100 + now[3];
  save.check = crc32(&save, 44);
  if (!sysio(1)) log_out("the high scores could not be saved");
  return place;
}

// The table as text lines in an 8-bit coverage plane.
void table_plane(int highlight) {
  int i;
  galloc(TXT_TABLE, 520, 300, 8);
  gclear(TXT_TABLE, 0, 0);
  font_use(F_MENU);
  gtext(TXT_TABLE, 0, 0, 255, T_TABLE);
  font_use(F_SMALL);
  gtext(TXT_TABLE, 250, 14, 255, "HIGH SCORES");
  for (i = 0; i < TABLE; i++) {
    if (save.date[i] == 0) {
      gtextf(TXT_TABLE, 20, 60 + i * 46, 255, "%d.  %s", i + 1, T_EMPTY);
    } else {
      gtextf(TXT_TABLE, 20, 60 + i * 46, 255, "%d.  %4d   %04d-%02d-%02d%s", i + 1, save.score[i], save.date[i] / 10000,
             save.date[i] / 100 % 100, save.date[i] % 100, i == highlight ? "  <" : "");
    }
  }
}

// ---- start-up ----------------------------------------------------------------

int setup() {
  struct BlendMode *b;
  float reverb[4];
  if (!load(BG, "data\\img\\bg.png") || !load(JAR, "data\\img\\jar.png") || !load(FLY, "data\\img\\fly.png") ||
      !load(WASP, "data\\img\\wasp.png") || !load(BAR, "data\\img\\bar.png") || !load(PAPER, "data\\img\\paper.png"))
    return 0;
  layered.mode = 5;
  layered.opacity = 255;
  covered.mode = 11;
  covered.opacity = 255;
  font(F_BIG, 96, 16 | 1);
  font(F_MENU, 40, 16);
  font(F_SMALL, 26, 16);
  vpage(PAGE);
  apage(PAGE);
  if (!galloc(SNAP, W, H, 32) || !pond_setup()) return 0;
  // Text drawn straight onto the page takes its colours from the palette.
  pal_set(1, 0xFFF0A0);
  pal_set(2, 0xA0D0FF);
  pal_change();

  // Sounds: echo on the catch, distortion on the wasp, reverb on the night.
  snd_load(S_SELECT, "data\\snd\\select.wav");
  snd_setmargin(600);
  snd_load(S_CATCH, "data\\snd\\catch.wav");
  snd_setmargin(0);
  snd_load(S_BUZZ, "data\\snd\\buzz.wav");
  reverb[0] = 0.0;
  reverb[1] = -6.0;
  reverb[2] = 1800.0;
  reverb[3] = 0.3;
  if (snd_loads(S_NIGHT, "data\\snd\\night.wav")) {
    snd_setreverb(S_NIGHT, reverb);
    snd_setvol(S_NIGHT, 70);
    snd_play(S_NIGHT, 1);
  }
  if (midi_load("data\\music\\sky.mid")) {
    midi_repeat(1);
    midi_setvol(80);
    midi_play(0);
  }
  save_load();
  return 1;
}

void effects_on() {
  float echo[5];
  float distortion[5];
  echo[0] = 35.0;
  echo[1] = 30.0;
  echo[2] = 180.0;
  echo[3] = 240.0;
  echo[4] = 0;
  snd_setecho(S_CATCH, echo);
  distortion[0] = -12.0;
  distortion[1] = 40.0;
  distortion[2] = 1200.0;
  distortion[3] = 1200.0;
  distortion[4] = 4000.0;
  snd_setdistortion(S_BUZZ, distortion);
}

// ---- title -------------------------------------------------------------------

struct Sprite *menu_bar;
struct Sprite *menu_items[3];
struct Sprite *table_sprite;
struct Sprite *glows[6];

void title_build(int choice) {
  int i;
  int area[4];
  struct Sprite *s;
  sp_init(-1);
  hit_init(-1);
  sp_setbg(BG);
  pond_show();
  text_plane(TXT_TITLE, 560, 120, F_BIG, T_TITLE);
  text_plane(TXT_SUB, 560, 60, F_MENU, "F I R E F L Y   N I G H T");
  s = text_sprite(TXT_TITLE, 120, 70, 0xFFF0A0);
  s = text_sprite(TXT_SUB, 124, 190, 0xA0D0FF);
  menu_bar = (struct Sprite *)sp_set(L_UI, 2, 96, 0, BAR, 0, &layered);
  text_plane(TXT_MENU, 520, 56, F_MENU, T_MENU_PLAY);
  text_plane(TXT_MENU + 1, 520, 56, F_MENU, T_MENU_SCORES);
  text_plane(TXT_MENU + 2, 520, 56, F_MENU, T_MENU_QUIT);
  font_use(F_SMALL);
  gtext(TXT_MENU, 260, 12, 255, "Start");
  gtext(TXT_MENU + 1, 260, 12, 255, "High scores");
  gtext(TXT_MENU + 2, 260, 12, 255, "Quit");
  rc_set(area, -24, -8, 536, 56);
  for (i = 0; i < 3; i++) {
    menu_items[i] = text_sprite(TXT_MENU + i, 140, 300 + i * 76, 0xFFFFFF);
    hit_set(L_UI, 1 << L_UI, (int)menu_items[i], area, i);
  }
  text_plane(TXT_HINT, 900, 40, F_SMALL, T_HINT);
  s = text_sprite(TXT_HINT, 120, 530, 0xC0C8E0);
  table_plane(-1);
  table_sprite = text_sprite(TXT_TABLE, 720, 290, 0xFFF0C0);
  table_sprite->state = choice == 1 ? 2 : 1;
  for (i = 0; i < 6; i++) {
    glows[i] = (struct Sprite *)sp_set(L_FLY, 2, 0, 0, FLY, 0, &layered);
    centre(glows[i]);
  }
}

void title_place(int choice) {
  int i;
  menu_bar->y = 300 + choice * 76 - 6;
  touch(menu_bar);
  for (i = 0; i < 3; i++) {
    menu_items[i]->blend.param2 = i == choice ? 0xFFE070 : 0xD0D8F0;
    touch(menu_items[i]);
  }
}

int title() {
  int choice;
  int n;
  int chosen;
  int move;
  struct HitArea *under;
  choice = 0;
  title_build(-1);
  title_place(choice);
  chosen = -1;
  for (n = 0; chosen < 0; n++) {
    read_input();
    move = 0;
    if (pressed(VK_UP) || pressed(VK_W)) move = -1;
    if (pressed(VK_DOWN) || pressed(VK_S)) move = 1;
    if (joy[1] < -500 && last_joy[1] >= -500) move = -1;
    if (joy[1] > 500 && last_joy[1] <= 500) move = 1;
    if (move) {
      choice = (choice + move + 3) % 3;
      snd_play(S_SELECT, 0);
    }
    under = (struct HitArea *)hit_point(point[0], point[1], 1 << L_UI);
    if (under && pointer_moved() && under->value != choice) {
      choice = under->value;
      snd_play(S_SELECT, 0);
    }
    if (clicked() && under) choice = under->value;
    if (pressed(VK_RETURN) || pressed(VK_SPACE) || joy_pressed() || (clicked() && under)) {
      if (choice == 1) {
        table_sprite->state = table_sprite->state == 2 ? 1 : 2;
        touch(table_sprite);
        snd_play(S_SELECT, 0);
      } else {
        chosen = choice;
      }
    }
    if (pressed(VK_ESCAPE)) chosen = 2;
    title_place(choice);
    for (move = 0; move < 6; move++) {
      glows[move]->x = 640 + tcos(n * (3 + move) + move * 340) * (300 + move * 40) / 65536;
      glows[move]->y = 300 + tsin(n * (2 + move) + move * 500) * (120 + move * 15) / 65536;
      glows[move]->blend.opacity = 150 + tsin(n * 24 + move * 300) * 100 / 65536;
      touch(glows[move]);
    }
    if (n % 40 == 0) drop(200 + (n * 37) % 880, POND_TOP + 40 + n % 60, 24.0);
    pond_step();
    sp_draw(-1, changed);
    next_frame();
  }
  snd_play(S_SELECT, 0);
  if (chosen == 2) return SCENE_QUIT;
  return SCENE_PLAY;
}

// ---- the lantern -------------------------------------------------------------

struct P3dMaterial paper_material;
struct P3dMaterial cap_material;
struct P3dMaterial spark_material;
struct P3dLight moonlight;
struct P3dLight warm;
float camera[3] = {0.0, 0.2, -4.0};
int look[3];
float origin[3];
float at[3];
int turn[3];

// A paper lantern turns while sparks circle it; any key or click skips it.
void lantern_scene() {
  int lantern;
  int spark;
  int n;
  int i;
  float a;
  if (!p3d_init(PAGE, 700.0, 0.3, 40.0)) return;
  lantern = p3d_load("data\\model\\lantern.mdl");
  spark = p3d_load("data\\model\\spark.mdl");
  if (!lantern || !spark) {
    p3d_uninit();
    return;
  }
  paper_material.color = 0xFFFFFF;
  paper_material.texture = p3d_tex(PAPER);
  paper_material.type = 7;
  cap_material.color = 0x602018;
  cap_material.type = 1;
  spark_material.color = 0xC0FF60;
  spark_material.type = 5;
  p3d_material(lantern, 0, &paper_material);
  p3d_material(lantern, 1, &cap_material);
  p3d_material(spark, 0, &spark_material);
  moonlight.red = 0.5;
  moonlight.green = 0.55;
  moonlight.blue = 0.8;
  warm.red = 1.8;
  warm.green = 1.2;
  warm.blue = 0.5;
  warm.range = 5.0;
  warm.kind = 1;
  font_use(F_MENU);
  for (n = 0; n < 100; n++) {
    read_input();
    if (n > 10 && (pressed(VK_RETURN) || pressed(VK_SPACE) || clicked() || joy_pressed())) break;
    gcopy(PAGE, 0, 0, BG, 0, 0);
    p3d_clear();
    p3d_view(camera, look);
    p3d_env(0.25, 0.22, 0.3);
    p3d_light(&moonlight, 200, 300, 0);
    a = (float)n * 0.06;
    at[0] = 2.0 * cos(a);
    at[1] = 0.3;
    at[2] = 2.0 * sin(a) - 0.5;
    p3d_light(&warm, at[0], at[1], at[2]);
    turn[1] = n * 10;
    turn[0] = 40 + tsin(n * 20) / 2048;
    p3d_setobj(lantern, origin, turn);
    for (i = 0; i < 6; i++) {
      a = (float)n * 0.05 + (float)i * 1.047;
      at[0] = 1.4 * cos(a);
      at[1] = 0.6 * sin(a * 2.0);
      at[2] = 1.4 * sin(a);
      p3d_setobj(spark, at, turn);
    }
    p3d_render();
    gtext(PAGE, 520, 600, 1, T_READY);
    gtext(PAGE, 560, 650, 2, "Get ready!");
    next_frame();
  }
  p3d_uninit();
}

// ---- the round ---------------------------------------------------------------

struct Sprite *jar;
struct HitArea *jar_net;
struct HitArea *jar_skin;
struct Sprite *flies[FLIES];
int fly_gen[FLIES];
int fly_born[FLIES];
struct Sprite *wasps[WASPS];
struct Sprite *hud;
int jar_x;
int jar_y;
int swoop;
int sore;
int hud_score;

void hud_text(int score, int seconds) {
  gclear(TXT_HUD, 0, 0);
  font_use(F_SMALL);
  gtextf(TXT_HUD, 0, 0, 255, T_HUD, score, seconds);
  gtextf(TXT_HUD, 0, 34, 255, "Caught %d    Time %d", score, seconds);
  touch(hud);
}

void fly_place(int i, int n) {
  int k;
  int age;
  struct Sprite *f;
  f = flies[i];
  k = (i * 3 + fly_gen[i] * 5) % ANCHORS;
  age = n - fly_born[i];
  f->x = anchor_x[k] + tsin(n * 9 + i * 256) * 30 / 65536;
  f->y = anchor_y[k] + tcos(n * 7 + i * 400) * 20 / 65536;
  if (age < 32) f->blend.opacity = age * 8;
  else f->blend.opacity = 170 + tsin(n * 20 + i * 300) * 85 / 65536;
  f->scale_x = 0x14000 + tsin(n * 20 + i * 300) / 4;
  f->scale_y = f->scale_x;
  touch(f);
}

void round_build() {
  int i;
  int r[4];
  sp_init(-1);
  hit_init(-1);
  sp_setbg(BG);
  pond_show();
  jar_x = 640;
  jar_y = 420;
  jar = (struct Sprite *)sp_set(L_JAR, 2, jar_x, jar_y, JAR, 0, &layered);
  jar->pivot_x = 48;
  jar->pivot_y = 60;
  jar->blend.extra = 160;
  jar->blend.param2 = 0xFF4020;
  rc_set(r, -44, -52, 44, 50);
  jar_net = (struct HitArea *)hit_set(L_JAR, 1 << L_FLY, (int)jar, r, 0);
  rc_set(r, -34, -44, 34, 50);
  jar_skin = (struct HitArea *)hit_set(L_JAR, 1 << L_WASP, (int)jar, r, 1);
  rc_set(r, -16, -16, 16, 16);
  for (i = 0; i < FLIES; i++) {
    flies[i] = (struct Sprite *)sp_set(L_FLY, 2, 0, 0, FLY, 0, &layered);
    centre(flies[i]);
    hit_set(L_FLY, 1 << L_JAR, (int)flies[i], r, i);
    fly_gen[i] = 0;
    fly_born[i] = 0;
    fly_place(i, 0);
  }
  rc_set(r, -26, -18, 30, 20);
  for (i = 0; i < WASPS; i++) {
    // Off the page until their time comes, so their areas touch nothing.
    wasps[i] = (struct Sprite *)sp_set(L_WASP, 1, -400, -400, WASP, 0, &layered);
    wasp_vx[i] = wasp_start_vx[i];
    wasp_vy[i] = wasp_start_vy[i];
    centre(wasps[i]);
    hit_set(L_WASP, 1 << L_JAR, (int)wasps[i], r, i);
  }
  galloc(TXT_HUD, 620, 70, 8);
  hud = text_sprite(TXT_HUD, 24, 16, 0xFFF8D0);
  swoop = 0;
  sore = 0;
}

// A mosaic that dissolves from coarse blocks into the scene.
void dissolve() {
  int n;
  sp_draw(-1, changed);
  gcopy(SNAP, 0, 0, PAGE, 0, 0);
  for (n = 12; n > 0; n--) {
    mosaic(PAGE, 0, 0, SNAP, 0, n * 4, n * 4);
    next_frame();
  }
  gcopy(PAGE, 0, 0, SNAP, 0, 0);
}

int play_round(int length) {
  int n;
  int i;
  int score;
  int seconds;
  int left;
  int speed;
  struct Sprite *w;
  struct HitArea *h;
  round_build();
  score = 0;
  seconds = -1;
  hud_score = -1;
  effects_on();
  cur_set(0);  // the jar is the pointer
  dissolve();
  log_out("round of %d frames from frame %d", length, frames_shown);
  for (n = 0; n < length; n++) {
    read_input();
    if (pressed(VK_ESCAPE)) break;

    // The jar: keys, joystick and pointer all steer it.
    speed = 9;
    if (held(VK_LEFT) || held(VK_A)) jar_x = jar_x - speed;
    if (held(VK_RIGHT) || held(VK_D)) jar_x = jar_x + speed;
    if (held(VK_UP) || held(VK_W)) jar_y = jar_y - speed;
    if (held(VK_DOWN) || held(VK_S)) jar_y = jar_y + speed;
    jar_x = jar_x + joy[0] / 100;
    jar_y = jar_y + joy[1] / 100;
    if (pointer_moved() && point[0] >= 0) {
      jar_x = point[0];
      jar_y = point[1];
    }
    if (jar_x < 48) jar_x = 48;
    if (jar_x > W - 48) jar_x = W - 48;
    if (jar_y < 70) jar_y = 70;
    if (jar_y > H - 60) jar_y = H - 60;
    jar->x = jar_x;
    jar->y = jar_y;

    if (swoop == 0 && (pressed(VK_SPACE) || pressed(VK_RETURN) || clicked() || joy_pressed())) {
      swoop = 16;
      h = (struct HitArea *)hit_check((int)jar_net);
      if (h) {
        i = h->value;
        score++;
        snd_setfreq(S_CATCH, 22050 + (score % 5) * 2000);
        snd_play(S_CATCH, 0);
        drop(flies[i]->x, POND_TOP + 60, 32.0);
        fly_gen[i]++;
        fly_born[i] = n;
        log_out("caught firefly %d at frame %d: %d", i, n, score);
      }
    }
    if (swoop > 0) swoop--;
    jar->angle = -tsin(swoop * 64) / 400;
    touch(jar);

    for (i = 0; i < FLIES; i++) {
      if (n - fly_born[i] > 900) {  // a firefly left alone moves on
        fly_gen[i]++;
        fly_born[i] = n;
      }
      fly_place(i, n);
    }

    // Wasps come out one by one and bounce around the bank, faster every
    // half minute.
    for (i = 0; i < WASPS; i++) {
      w = wasps[i];
      if (n < 360 + i * 240) continue;
      if (n % 1800 == 0 && abs(wasp_vx[i]) < 9) {
        wasp_vx[i] = wasp_vx[i] + sgn(wasp_vx[i]);
        wasp_vy[i] = wasp_vy[i] + sgn(wasp_vy[i]);
      }
      if (n == 360 + i * 240) {
        w->state = 2;
        w->x = 100 + i * 500;
        w->y = 80 + i * 150;
      }
      w->x = w->x + wasp_vx[i];
      w->y = w->y + wasp_vy[i];
      if (w->x < 40 || w->x > W - 40) wasp_vx[i] = -wasp_vx[i];
      if (w->y < 60 || w->y > POND_TOP - 20) wasp_vy[i] = -wasp_vy[i];
      w->angle = tatan(wasp_vx[i], wasp_vy[i]) + 1024;
      w->mirror_y = wasp_vx[i] > 0;
      touch(w);
    }
    if (sore > 0) {
      sore--;
      jar->blend.mode = sore % 8 < 4 ? 6 : 5;
    } else if (hit_check((int)jar_skin)) {
      score = score > 2 ? score - 2 : 0;
      sore = 60;
      snd_play(S_BUZZ, 0);
      log_out("stung at frame %d: %d", n, score);
    }
    if (sore == 0) jar->blend.mode = 5;

    left = (length - n + 59) / 60;
    if (left != seconds || score != hud_score) {
      seconds = left;
      hud_score = score;
      hud_text(score, seconds);
    }
    if (n % 50 == 0) drop(100 + (n * 53) % 1080, POND_TOP + 30 + n % 90, 20.0);
    pond_step();
    sp_draw(-1, changed);
    next_frame();
  }
  cur_set(1);
  return score;
}

// ---- result ------------------------------------------------------------------

int result(int score) {
  int place;
  int n;
  struct Sprite *s;
  // The last picture of the night, greyed blue, is the result's backdrop.
  sp_draw(-1, changed);
  gcopy(SNAP, 0, 0, PAGE, 0, 0);
  monotone(SNAP, 0, 0x081020, 0x90B0E0);
  sp_init(-1);
  hit_init(-1);
  sp_setbg(SNAP);
  place = save_add(score);
  table_plane(place);
  galloc(TXT_BIG, 760, 120, 8);
  gclear(TXT_BIG, 0, 0);
  font_use(F_BIG);
  gtextf(TXT_BIG, 0, 0, 255, T_RESULT, score);
  s = text_sprite(TXT_BIG, 120, 90, 0xFFF0A0);
  s = text_sprite(TXT_TABLE, 140, 260, 0xFFFFFF);
  text_plane(TXT_HINT, 900, 40, F_SMALL, T_AGAIN);
  s = text_sprite(TXT_HINT, 140, 620, 0xC0C8E0);
  if (place >= 0) {
    text_plane(TXT_SUB, 560, 60, F_MENU, T_NEW);
    s = text_sprite(TXT_SUB, 760, 130, 0xFF9070);
    snd_setfreq(S_CATCH, 33075);
    snd_play(S_CATCH, 0);
  }
  log_out("result %d, place %d", score, place);
  for (n = 0; n < 1800; n++) {
    read_input();
    if (n > 20 && (pressed(VK_RETURN) || pressed(VK_SPACE) || pressed(VK_ESCAPE) || clicked() || joy_pressed())) break;
    sp_draw(-1, changed);
    next_frame();
  }
  snd_setfreq(S_CATCH, 0);
  return score;
}

// ---- main --------------------------------------------------------------------

int main() {
  int scene;
  int last;
  int length;
  int return_score;
  setcount(0, 0);
  clock_base = getcount(0);
  length = ini_geti("Game", "RoundFrames", 7200, "Firefly.cfg");
  if (length < 60) length = 60;
  if (length > 36000) length = 36000;
  frame_wait = ini_geti("Game", "FrameWait", 1, "Firefly.cfg");
  return_score = ini_geti("Game", "ReturnScore", 0, "Firefly.cfg");
  if (!setup()) return 1;
  last = 0;
  scene = title();
  while (scene == SCENE_PLAY) {
    lantern_scene();
    last = result(play_round(length));
    scene = title();
  }
  sysio(1);
  midi_stop(0);
  snd_stop(-1);
  log_out("final score %d, best %d, %d frames", last, save.score[0], frames_shown);
  if (return_score) return last;
  exit();
  return 0;
}
