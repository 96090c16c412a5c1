// A write through a pointer to a freed block, after the block was reused
// for nothing else.
#include "talven.h"

int main() {
  int *p;
  int *q;
  p = malloc(40);
  q = malloc(40);
  p[2] = 5;
  free(p);
  q[0] = 1;
  p[2] = 6;
  return 7;
}
