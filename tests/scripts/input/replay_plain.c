// Input replayed from plain.txt into a headless run with the plain back end
// (DirectInput 0): keys, typed text, pointer, clicks seen by two threads,
// wheel, joystick, focus, cursor. Each update() is one frame of the file.
#include "talven.h"
#include "check.h"

int watcher_seen;
int watcher_stop;

// A second thread that looks at the pointer until it sees the click.
int watcher(int arg) {
  int pt[4];
  while (!watcher_stop) {
    getpoint(pt);
    if (pt[3] & 0x10000) watcher_seen = 1;
    sleep(1);
  }
  return 0;
}

int main() {
  char keys[256];
  int pt[4];
  int joy[3];
  int m[4];
  int rect[4];
  int i;
  int n;

  thd_begin(watcher, 0, 0, 0);
  check(getkey(keys) == 1 && keys[0x41] == 0, "no key before frame 1");
  getpoint(pt);
  check(pt[0] == 0 && pt[1] == 0 && pt[3] == 0, "pointer at rest");

  update(0);  // frame 1: A down, pointer to (100, 50)
  getkey(keys);
  check((keys[0x41] & 0x80) != 0 && (keys[0x41] & 1) == 1, "A down and toggled");
  check(keys[0x1E] == 0, "no scan code entries with the plain back end");
  getpoint(pt);
  check(pt[0] == 100 && pt[1] == 50, "pointer moved");

  update(0);  // frame 2: A up, "hi" typed, Return pressed
  getkey(keys);
  check((keys[0x41] & 0x80) == 0 && (keys[0x41] & 1) == 1, "A up, toggle kept");
  check(key_get() == 'h' && key_get() == 'i' && key_get() == 13 && key_get() == 0, "typed text and Return");

  update(0);  // frame 3: one left click
  getpoint(pt);
  check((pt[3] & 0x10000) != 0, "main thread sees the click");
  getpoint(pt);
  check((pt[3] & 0x10000) == 0, "a click is reported once per thread");
  for (i = 0; i < 3000 && !watcher_seen; i++) sleep(1);
  check(watcher_seen, "second thread sees the same click");
  watcher_stop = 1;

  update(0);  // frame 4: wheel two notches towards the player, a double click
  getpoint(pt);
  check(pt[2] == -240, "wheel since the last look");
  check((pt[3] & 0x1010000) == 0x1010000, "double click counts as a press too");
  check(getmouse(m) == 1 && m[0] == 0 && m[1] == 0 && m[2] == 0, "no relative movement");
  check(m[3] == 0, "no button held");

  update(0);  // frame 5: joystick 0 arrives, pushed right, button 2 and right mouse button held
  check(getjoy(0, joy) == 1 && joy[0] == 1000 && joy[1] == 0 && joy[2] == 4, "joystick 0");
  joy[0] = 7;
  joy[2] = 7;
  check(getjoy(4, joy) == 0 && joy[0] == 0 && joy[1] == 0 && joy[2] == 0, "getjoy 4 zeroes the record");
  check(getjoy(1, joy) == 0, "joystick 1 absent");
  check(getmouse(m) == 1 && m[3] == 2, "right button held");
  check(getkey(0) == 0 && getjoy(0, 0) == 0 && getmouse(0) == 0, "null records");
  check(getkey(16) == 0 && getmouse(-4) == 0 && getjoy(0, 12) == 0, "wild records");
  check(getpoint(0) == 1 && getpoint(12) == 1, "getpoint without a record");

  update(0);  // frame 6: focus lost
  getpoint(pt);
  check(pt[0] == -1 && pt[1] == -1 && pt[2] == 0 && pt[3] == 0, "no focus: -1, -1");
  check(getkey(keys) == 0 && getjoy(0, joy) == 0 && getmouse(m) == 0, "no focus: zeros");

  update(0);  // frame 7: focus back; a click happened while away
  getpoint(pt);
  check(pt[0] == 100 && pt[1] == 50, "pointer back");
  check((pt[3] & 0x20000) == 0, "the click while away was taken by the look without focus");

  cur_setpos(10, 20);
  getpoint(pt);
  check(pt[0] == 10 && pt[1] == 20, "cur_setpos");
  rect[0] = 0;
  rect[1] = 0;
  rect[2] = 50;
  rect[3] = 40;
  check(cur_clip(rect) == 1, "cur_clip");
  cur_setpos(300, 300);
  getpoint(pt);
  check(pt[0] == 49 && pt[1] == 39, "confined");
  rect[0] = 1000;
  rect[1] = 1000;
  rect[2] = 2000;
  rect[3] = 2000;
  cur_clip(rect);
  cur_setpos(300, 200);
  getpoint(pt);
  check(pt[0] == 300 && pt[1] == 200, "a clip outside the screen releases");
  check(cur_clip(0) == 1 && cur_clip(12) == 1, "null and wild clip release");
  check(cur_set(2) == 0 && cur_set(0) == 1 && cur_set(1) == 1, "cur_set");

  update(0);  // frame 8: 600 characters typed
  n = 0;
  while (key_get() != 0) n++;
  check(n == 511, "the newest 511 characters are kept");

  update(0);  // frame 9: a double-byte character
  check(key_get() == -126, "lead byte, negative");
  check(key_get() == -96, "trail byte");
  check(key_get() == 0, "buffer empty");
  update(0);  // frame 10: typed, then emptied
  key_init();
  check(key_get() == 0, "key_init empties the buffer");

  return failures;
}
