// Fills, copies and sums a 1 MiB byte buffer 20 times, byte by byte.
#include "talven.h"

int main() {
  int size, round, i, sum;
  unsigned char *a;
  unsigned char *b;
  size = 1048576;
  a = malloc(size);
  b = malloc(size);
  sum = 0;
  for (round = 0; round < 20; round++) {
    for (i = 0; i < size; i++) a[i] = i + round;
    for (i = 0; i < size; i++) b[i] = a[i];
    for (i = 0; i < size; i++) sum += b[i];
  }
  log_out("%u", sum);
  return 0;
}
