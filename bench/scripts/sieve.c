// Sieve of Eratosthenes up to 2,000,000 in a byte array; prints the count of primes.
#include "talven.h"

int main() {
  int n, i, j, count;
  char *flags;
  n = 2000000;
  flags = malloc(n + 1);
  for (i = 0; i <= n; i++) flags[i] = 1;
  count = 0;
  for (i = 2; i <= n; i++) {
    if (flags[i]) {
      count++;
      for (j = i + i; j <= n; j += i) flags[j] = 0;
    }
  }
  log_out("%d", count);
  return 0;
}
