// A builtin asked to fill one byte more than the block holds; the bytes
// inside the block are left as they were.
#include "talven.h"

int fill(char *p) {
  memset(p, 65, 17);
  return p[0];
}

int main() {
  char *p;
  p = malloc(16);
  p[0] = 0;
  return fill(p);
}
