// Watches the input builtins until it has seen the A key held, a left
// click and the typed character 'q' (sent from outside the process, or
// replayed from a recording of that), then logs what it saw and exits.
#include "talven.h"

int main() {
  char keys[256];
  int pt[4];
  int i;
  int c;
  int seen_key;
  int seen_vk;
  int seen_dik;
  int seen_click;
  int seen_text;
  int x;
  int y;

  seen_key = 0;
  seen_vk = 0;
  seen_dik = 0;
  seen_click = 0;
  seen_text = 0;
  x = -1;
  y = -1;
  log_out("watching\n");
  for (i = 0; i < 1500 && !(seen_key && seen_click && seen_text); i++) {
    update(0);
    // A is entry 0x41 in the plain key state, 0x1E with DirectInput.
    if (getkey(keys)) {
      if (keys[0x41] & 0x80) seen_vk = 1;
      if (keys[0x1E] & 0x80) seen_dik = 1;
      seen_key = seen_vk || seen_dik;
    }
    getpoint(pt);
    if ((pt[3] & 0x10000) && !seen_click) {
      seen_click = 1;
      x = pt[0];
      y = pt[1];
    }
    for (c = key_get(); c != 0; c = key_get())
      if (c == 'q') seen_text = 1;
    sleep(10);
  }
  log_out("seen key %d %d click %d at %d %d text %d\n", seen_vk, seen_dik, seen_click, x, y, seen_text);
  exit();
  return 0;
}
