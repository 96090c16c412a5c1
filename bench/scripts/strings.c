// Builds text with the string builtins: 200,000 numbers formatted and
// appended to a line that is cut back every 100 numbers; prints the total length.
#include "talven.h"

int main() {
  char line[1024];
  char number[32];
  int i, total;
  line[0] = 0;
  total = 0;
  for (i = 0; i < 200000; i++) {
    sprintf(number, "%d,", i);
    strcat(line, number);
    if (i % 100 == 99) {
      total += strlen(line);
      line[0] = 0;
    }
  }
  log_out("%d", total);
  return 0;
}
