#include "talven.h"
int main() {
  jump("sub.c");
  return 3;
}
