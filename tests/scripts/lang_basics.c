// Language basics: arithmetic, recursion, loops, switch, goto, shifts,
// unsigned comparisons and casts. Returns 0 when every check passes, else
// the number of the first failed check.

int failed;

int check(int number, int ok) {
  if (!ok && failed == 0) failed = number;
  return ok;
}

int fib(int n) {
  if (n < 2) return n;
  return fib(n - 1) + fib(n - 2);
}

int fact(int n) { return n <= 1 ? 1 : n * fact(n - 1); }

int gcd(int a, int b) {
  while (b != 0) {
    int t;
    t = a % b;
    a = b;
    b = t;
  }
  return a;
}

// Old-style parameter declarations.
int mix(a, b, c)
char *a;
{
  return a[0] + b * c;
}

int ackermann(int m, int n) {
  if (m == 0) return n + 1;
  if (n == 0) return ackermann(m - 1, 1);
  return ackermann(m - 1, ackermann(m, n - 1));
}

int classify(int v) {
  switch (v) {
    case 0:
      return 100;
    case 1:
    case 2:
    case 3:
      return 200;
    case -5:
      return 300;
    default:
      return 400;
    case 10:
      return 500;
  }
  return 0;
}

int fallthrough(int v) {
  int r;
  r = 0;
  switch (v) {
    case 1: r += 1;
    case 2: r += 10;
    case 3: r += 100; break;
    case 4: r += 1000;
    default: r += 10000;
  }
  return r;
}

int count_with_goto(int n) {
  int i, s;
  i = 0;
  s = 0;
again:
  if (i >= n) goto done;
  s += i;
  i++;
  goto again;
done:
  return s;
}

int loops() {
  int i, j, s;
  s = 0;
  for (i = 0; i < 10; i++) {
    if (i == 3) continue;
    if (i == 8) break;
    s += i;
  }
  i = 0;
  do {
    s += 100;
    i++;
  } while (i < 3);
  j = 5;
  while (j--) s += 1000;
  for (i = 0, j = 10; i < j; i++, j--) s += 10000;
  return s;
}

int shifts() {
  int s;
  unsigned u;
  s = -8;
  u = 0x80000000;
  if (!check(40, (s >> 1) == -4)) return 0;
  if (!check(41, (u >> 4) == 0x08000000)) return 0;
  if (!check(42, (1 << 31) < 0)) return 0;
  if (!check(43, ((unsigned)s >> 28) == 15)) return 0;
  s >>= 2;
  if (!check(44, s == -2)) return 0;
  u >>= 31;
  if (!check(45, u == 1)) return 0;
  if (!check(46, (0x0F0F & 0x00FF) == 0x000F && (0xF0 | 0x0F) == 0xFF && (0xFF ^ 0x0F) == 0xF0)) return 0;
  if (!check(47, ~0 == -1)) return 0;
  return 1;
}

int unsigned_compare() {
  unsigned big;
  int neg;
  unsigned char uc;
  char sc;
  big = 0xFFFFFFF0;
  neg = -1;
  if (!check(50, big > 10)) return 0;
  if (!check(51, neg < 0)) return 0;
  // A signed -1 against an unsigned value compares unsigned.
  if (!check(52, (unsigned)neg > big)) return 0;
  uc = 200;
  sc = 200;
  if (!check(53, uc == 200)) return 0;
  if (!check(54, sc == -56)) return 0;
  if (!check(55, uc > 100)) return 0;
  return 1;
}

int casts() {
  int i;
  char c;
  short s;
  unsigned short us;
  c = 300;
  if (!check(60, c == 44)) return 0;
  i = (char)300;
  if (!check(61, i == 300)) return 0;
  c = -1;
  // The variable is read with its own width and then retyped.
  i = (int)c;
  if (!check(62, i == -1)) return 0;
  s = 70000;
  if (!check(63, s == 4464)) return 0;
  us = 65535;
  if (!check(64, us + 1 == 65536)) return 0;
  s = -2;
  us = s;
  if (!check(65, us == 65534)) return 0;
  i = 7 / 2;
  if (!check(66, i == 3 && -7 / 2 == -3 && -7 % 2 == -1 && 7 % -2 == 1)) return 0;
  return 1;
}

int counters() {
  char c;
  short s;
  int i;
  int *p;
  int arr[4];
  c = 127;
  c++;
  if (!check(70, c == -128)) return 0;
  c = -1;
  // 8-bit increments give the contents zero-extended.
  i = c++;
  if (!check(71, i == 255 && c == 0)) return 0;
  s = 10;
  i = ++s;
  if (!check(72, i == 11 && s == 11)) return 0;
  i = s--;
  if (!check(73, i == 11 && s == 10)) return 0;
  i = 5;
  if (!check(74, i++ == 5 && i == 6 && --i == 5 && i-- == 5 && i == 4)) return 0;
  arr[0] = 1;
  arr[1] = 2;
  arr[2] = 3;
  p = arr;
  p++;
  if (!check(75, *p == 2)) return 0;
  ++p;
  if (!check(76, *p == 3 && p - arr == 2)) return 0;
  p--;
  if (!check(77, *p == 2)) return 0;
  return 1;
}

int logic(int a, int b) {
  int r;
  r = 0;
  if (a && b) r += 1;
  if (a || b) r += 10;
  if (!a) r += 100;
  if (a > 0 && (b > 0 || a > 5)) r += 1000;
  r += (a == b) + (a != b) * 2;
  return r;
}

int side;
int touch(int v) {
  side += v;
  return v;
}

int short_circuit() {
  side = 0;
  if (touch(0) && touch(10)) side += 1000;
  if (touch(1) || touch(20)) side += 100;
  return side;
}

int compound() {
  int x;
  x = 10;
  x += 5;
  x -= 3;
  x *= 4;
  x /= 6;
  x %= 5;
  x <<= 4;
  x |= 3;
  x &= 0x33;
  x ^= 0x11;
  return x;
}

int nested_calls(int a, int b, int c) { return a * 100 + b * 10 + c; }

int main() {
  int v;
  check(1, fib(15) == 610);
  check(2, fact(10) == 3628800);
  check(3, gcd(1071, 462) == 21);
  check(4, mix("A", 3, 4) == 77);
  check(5, ackermann(2, 3) == 9);
  check(6, classify(0) == 100 && classify(2) == 200 && classify(-5) == 300);
  check(7, classify(7) == 400 && classify(10) == 500);
  check(8, fallthrough(1) == 111 && fallthrough(3) == 100 && fallthrough(4) == 11000 && fallthrough(9) == 10000);
  check(9, count_with_goto(10) == 45);
  check(10, loops() == 25 + 300 + 5000 + 50000);
  check(11, shifts());
  check(12, unsigned_compare());
  check(13, casts());
  check(14, counters());
  check(15, logic(1, 1) == 1011 + 1 && logic(0, 2) == 110 + 2 && logic(7, 0) == 1010 + 2);
  check(16, short_circuit() == 101);
  check(17, compound() == ((((((10 + 5 - 3) * 4 / 6) % 5) << 4) | 3) & 0x33) ^ 0x11);
  check(18, nested_calls(nested_calls(0, 0, 1), 2, fib(3)) == 122);
  v = 3;
  check(19, (v > 2 ? fib(v) : fact(v)) + (v < 2 ? 100 : 200) == 202);
  check(20, 0x7FFFFFFF + 1 == 0x80000000);
  return failed;
}
