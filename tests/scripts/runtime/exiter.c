#include "talven.h"
int main() {
  exit();
  return 9;
}
