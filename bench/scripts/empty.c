// Start-up only.
#include "talven.h"

int main() {
  log_out("%d", 0);
  return 0;
}
