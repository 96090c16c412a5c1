// call, jump, setjmp/longjmp and the clock builtins. Returns the number of
// failed checks.
#include "talven.h"
#include "check.h"

extern int depth;
extern int refused;
char jb[64];

int thrower() {
  longjmp(jb, 0);
  return 5;
}

int keeper() {
  return setjmp(jb);
}

int main() {
  int r;
  int t;

  check(call("sub.c") == 7, "a called script's result is call's result");
  check(call("missing.c") == 0, "a script that cannot be loaded gives 0");
  check(jump("notes.txt") == 0, "jump to a name without .c fails");

  depth = 0;
  refused = -1;
  call("deep.c");
  check(refused == 31, "call nests 32 contexts deep and refuses the 33rd");

  r = setjmp(jb);
  if (r == 0) {
    thrower();
    check(0, "longjmp came back");
  } else {
    check(r == 1, "longjmp with 0 makes setjmp return 1");
  }
  keeper();
  check(longjmp(jb, 3) == 0, "longjmp into a frame that has returned fails");

  check(setcount(3, 100) == 1, "setcount");
  t = getcount(3);
  check(t >= 100 && t < 200, "getcount reads what setcount set");
  check(getcount(256) == 0, "getcount of counter 256");
  check(setcount(-1, 0) == 0, "setcount of counter -1");
  return failures;
}
