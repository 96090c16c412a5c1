// Input replayed from direct.txt with the DirectInput back end: scan-code
// key state, relative mouse movement and wheel, DirectInput joystick
// scaling, and the pointer shown scaled in a larger client area.
#include "talven.h"
#include "check.h"

int main() {
  char keys[256];
  int m[4];
  int joy[3];
  int pt[4];

  update(0);  // frame 1: A and Left down, pointer moved twice, wheel, fourth button
  check(getkey(keys) == 1, "getkey");
  check(keys[0x1E] == -128 && keys[0x41] == 0, "A at its scan code");
  check(keys[0xCB] == -128, "Left arrow at its scan code");
  check(getmouse(m) == 1, "getmouse");
  check(m[0] == 100 && m[1] == 60 && m[2] == 120, "movement and wheel since the last read");
  check(m[3] == 8, "fourth button");
  getmouse(m);
  check(m[0] == 0 && m[1] == 0 && m[2] == 0, "read once");

  update(0);  // frame 2: joystick half way right, y in the dead zone
  check(getjoy(0, joy) == 1 && joy[0] == 500 && joy[1] == 0 && joy[2] == 1, "DirectInput joystick");
  getkey(keys);
  check(keys[0x1E] == 0, "A released");
  getpoint(pt);
  check(pt[0] == 100 && pt[1] == 60, "pointer in screen coordinates");
  return failures;
}
