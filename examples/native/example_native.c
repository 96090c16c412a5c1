/* An example native library for dll_load / dll_proc / dll_call.
 *
 * Build it beside the game as example.so (a script loads it as
 * "example.dll"):
 *     cc -shared -fPIC -I path/to/sdk example_native.c -o example.so
 */
#include "talven_native.h"

TALVEN_NATIVE_LIBRARY

/* No arguments. */
int answer(void) { return 42; }

/* a * b + c, in 32-bit arithmetic. */
int mul_add(int a, int b, int c) { return (int)((unsigned)a * (unsigned)b + (unsigned)c); }

/* The sum of `length` bytes at a script address; -1 when the range is not
   script memory. */
int sum_bytes(uint32_t data, int length) {
  const unsigned char *p;
  int sum = 0, i;
  if (length < 0) return -1;
  p = (const unsigned char *)talven_span(data, (uint32_t)length);
  if (!p) return -1;
  for (i = 0; i < length; i++) sum += p[i];
  return sum;
}

/* Turns the ASCII letters of a script text into capitals in place; its
   length, or -1 when the address is not a text in script memory. */
int upper_text(uint32_t text) {
  char *s = talven_string(text);
  int n = 0;
  if (!s) return -1;
  for (; s[n]; n++)
    if (s[n] >= 'a' && s[n] <= 'z') s[n] = (char)(s[n] - 'a' + 'A');
  return n;
}
