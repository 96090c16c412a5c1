// One byte written past the end of a 100-byte block, then one before its
// start. With DebugMode the first write stops the script as an invalid
// address; without it nothing notices and main returns 7.
#include "talven.h"

int main() {
  char *p;
  p = malloc(100);
  p[99] = 1;
  p[100] = 2;
  p[-1] = 3;
  return 7;
}
