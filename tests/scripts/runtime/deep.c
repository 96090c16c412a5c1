#include "talven.h"
extern int depth;
extern int refused;

int main() {
  depth++;
  if (!call("deep.c")) refused = depth;
  return 1;
}
