// A run-time error three calls below main: the terminal names every frame.
#include "talven.h"

int ratio(int a, int b) {
  int q;
  q = a / b;
  return q;
}

int middle(int v) {
  return ratio(v, v - 4) + 1;
}

int outer(int v) {
  int r;
  r = middle(v * 2);
  return r;
}

int main() {
  log_out("before");
  outer(2);
  log_out("not reached");
  return 0;
}
