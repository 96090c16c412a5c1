// Recursive Fibonacci of 30.
#include "talven.h"

int fib(int n) {
  if (n < 2) return n;
  return fib(n - 1) + fib(n - 2);
}

int main() {
  log_out("%d", fib(30));
  return 0;
}
