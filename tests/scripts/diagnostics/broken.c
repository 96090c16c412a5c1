// A compile error inside an included file.
#include "talven.h"
#include "helpers.h"

int main() {
  return helper(3);
}
