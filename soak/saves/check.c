// Reads pack.dat back through the data-file layer (which decodes the
// compressed form) and logs "PACK g" when it holds a whole, consistent
// block, "PACK BAD why" otherwise.
#include "talven.h"

int main() {
  int h;
  int n;
  int *b;
  int i;
  char *c;

  h = pack_open("pack.dat");
  if (h == 0) {
    log_out("PACK BAD cannot open\n");
    return 1;
  }
  n = pack_size(h);
  if (n != 32768) {
    log_out("PACK BAD size %d\n", n);
    return 1;
  }
  b = malloc(32768);
  if (pack_read(h, b, 32768) != 32768) {
    log_out("PACK BAD short read\n");
    return 1;
  }
  pack_close(h);
  if (b[0] != b[8191]) {
    log_out("PACK BAD ends %d %d\n", b[0], b[8191]);
    return 1;
  }
  c = b;
  for (i = 4; i < 32764; i++) {
    if ((c[i] & 255) != (b[0] & 255)) {
      log_out("PACK BAD byte %d\n", i);
      return 1;
    }
  }
  log_out("PACK %d\n", b[0]);
  return 0;
}
