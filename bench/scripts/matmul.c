// Multiplies two 200x200 integer matrices; prints the sum of the product.
#include "talven.h"

int main() {
  int n, i, j, k, s, total;
  int *a;
  int *b;
  int *c;
  n = 200;
  a = malloc(n * n * 4);
  b = malloc(n * n * 4);
  c = malloc(n * n * 4);
  for (i = 0; i < n; i++)
    for (j = 0; j < n; j++) {
      a[i * n + j] = i + j;
      b[i * n + j] = i - j;
    }
  for (i = 0; i < n; i++)
    for (j = 0; j < n; j++) {
      s = 0;
      for (k = 0; k < n; k++) s += a[i * n + k] * b[k * n + j];
      c[i * n + j] = s;
    }
  total = 0;
  for (i = 0; i < n * n; i++) total += c[i];
  log_out("%u", total);
  return 0;
}
