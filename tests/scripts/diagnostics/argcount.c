// A builtin called with too few arguments while DebugMode is on: the place
// named is the caller's line, not the builtin's declaration.
#include "talven.h"

int fine() { return abs(-1); }

int wrong() {
  return abs();
}

int main() {
  fine();
  return wrong();
}
