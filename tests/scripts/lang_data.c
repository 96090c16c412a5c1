// Data: pointers, structures and unions, arrays of arrays, strings, global
// initializers, function pointers, floats. Returns 0 when every check
// passes, else the number of the first failed check.

#define COUNT 8
#define SQUARE(x) ((x) * (x))
#define MAX(a, b) ((a) > (b) ? (a) : (b))
#define FIELD(n) field##n

int failed;

void check(int number, int ok) {
  if (!ok && failed == 0) failed = number;
}

struct Point {
  int x;
  int y;
};

struct Packed {
  char c;
  int i;
  short s;
};

union Word {
  char bytes[4];
  int value;
  short halves[2];
};

struct Node {
  int value;
  struct Node *next;
};

struct Fields {
  int field1;
  int field2;
};

typedef struct Point PointT;
typedef int Matrix[3][3];

int table[COUNT] = {1, 2, 3, , 5};
int grid[2][3] = {{1, 2, 3}, {4, 5, 6}};
int flat[2][2] = {7, 8, 9, 10};
char *names[3] = {"zero", "one", "two"};
float scales[2] = {0.5, 2};
char letter = 'Q';
short small = -3;
int *into_table = &table[4];
PointT origin;
struct Node nodes[4];

int str_len(char *s) {
  int n;
  n = 0;
  while (*s++) n++;
  return n;
}

int str_cmp(char *a, char *b) {
  while (*a && *a == *b) {
    a++;
    b++;
  }
  return *(unsigned char *)a - *(unsigned char *)b;
}

void str_copy(char *d, char *s) {
  while ((*d++ = *s++) != 0)
    ;
}

void reverse(char *s) {
  char *e;
  char t;
  e = s + str_len(s) - 1;
  while (s < e) {
    t = *s;
    *s = *e;
    *e = t;
    s++;
    e--;
  }
}

int sum_points(PointT *p, int n) {
  int s, i;
  s = 0;
  for (i = 0; i < n; i++) s += p[i].x * 10 + p[i].y;
  return s;
}

void matrix_identity(int m[3][3]) {
  int i, j;
  for (i = 0; i < 3; i++)
    for (j = 0; j < 3; j++) m[i][j] = i == j;
}

int matrix_trace(int (*m)[3]) { return m[0][0] + m[1][1] + m[2][2]; }

int twice(int v) { return v * 2; }
int thrice(int v) { return v * 3; }

int apply(int (*f)(), int v) { return f(v); }

int (*chosen)() = twice;

int list_sum(struct Node *n) {
  int s;
  s = 0;
  while (n) {
    s += n->value;
    n = n->next;
  }
  return s;
}

float average(float *v, int n) {
  float s;
  int i;
  s = 0;
  for (i = 0; i < n; i++) s += v[i];
  return s / n;
}

int pointers() {
  int a[5];
  int *p, *q;
  int **pp;
  int i;
  for (i = 0; i < 5; i++) a[i] = i * 10;
  p = &a[1];
  q = a + 4;
  check(30, q - p == 3);
  check(31, *(p + 2) == 30);
  check(32, p[-1] == 0);
  pp = &p;
  **pp = 99;
  check(33, a[1] == 99);
  *pp += 2;
  check(34, *p == 30);
  check(35, (char *)q - (char *)p == 4);
  check(36, p < q && q > p && p != q);
  return 1;
}

int structures() {
  struct Packed pk;
  struct Point pts[3];
  union Word w;
  struct Point *pp;
  struct Fields f;
  check(40, sizeof(struct Packed) == 7);
  check(41, (char *)&pk.i - (char *)&pk == 1);
  check(42, sizeof(union Word) == 4 && sizeof w == 4);
  w.value = 0x04030201;
  check(43, w.bytes[0] == 1 && w.bytes[3] == 4 && w.halves[1] == 0x0403);
  pts[0].x = 1;
  pts[0].y = 2;
  pts[1].x = 3;
  pts[1].y = 4;
  pts[2].x = 5;
  pts[2].y = 6;
  check(44, sum_points(pts, 3) == 12 + 34 + 56);
  pp = &pts[1];
  pp->y += 10;
  check(45, pts[1].y == 14);
  origin.x = -1;
  check(46, origin.x + origin.y == -1);
  f.FIELD(1) = 5;
  f.FIELD(2) = 6;
  check(47, f.field1 * f.field2 == 30);
  pk.c = 'a';
  pk.i = 1234567;
  pk.s = -7;
  check(48, pk.c == 'a' && pk.i == 1234567 && pk.s == -7);
  return 1;
}

int arrays() {
  Matrix m;
  int local[3] = {4, 5, 6};
  int i, s;
  matrix_identity(m);
  check(50, matrix_trace(m) == 3);
  check(51, grid[1][2] == 6 && grid[0][1] == 2);
  check(52, flat[1][0] == 9 && flat[1][1] == 10);
  check(53, table[3] == 0 && table[4] == 5 && table[7] == 0);
  check(54, *into_table == 5);
  check(55, sizeof(grid) == 24 && sizeof(grid[0]) == 12 && sizeof(int[10]) == 40);
  s = 0;
  for (i = 0; i < 3; i++) s += local[i];
  check(56, s == 15);
  return 1;
}

int strings() {
  char buf[32];
  check(60, str_len("hello") == 5);
  check(61, sizeof("ab" "cd") == 5);
  check(62, str_cmp("abc", "abd") < 0 && str_cmp("b", "a") > 0 && str_cmp("same", "same") == 0);
  str_copy(buf, "stressed");
  reverse(buf);
  check(63, str_cmp(buf, "desserts") == 0);
  check(64, str_cmp(names[2], "two") == 0 && names[0][1] == 'e');
  check(65, "abc"[2] == 'c');
  check(66, letter == 'Q' && small == -3);
  check(67, '\x41' == 'A' && '\65' == 'A' && '\0101' == 'A' && '\n' == 10);
  return 1;
}

int functions() {
  int (*f)();
  f = thrice;
  check(70, apply(twice, 4) == 8 && apply(f, 4) == 12);
  check(71, chosen(21) == 42);
  check(72, (*f)(2) == 6);
  return 1;
}

int floats() {
  float a, b;
  int i;
  a = 1.5;
  b = a * 4;
  check(80, b == 6.0);
  check(81, (int)(b / 4) == 1);
  i = 7;
  a = i / 2;
  check(82, a == 3.0);
  a = i / 2.0;
  check(83, a > 3.4 && a < 3.6);
  check(84, average(scales, 2) == 1.25);
  a = -a;
  check(85, a < 0 && (int)a == -3);
  a = 10.0;
  a %= 3.0;
  check(86, a == 1.0);
  check(87, 2.5f * 2 == 5.0 && 1.0f / 4 == 0.25);
  return 1;
}

int linked_list() {
  int i;
  for (i = 0; i < 4; i++) {
    nodes[i].value = i + 1;
    nodes[i].next = i < 3 ? &nodes[i + 1] : 0;
  }
  check(90, list_sum(&nodes[0]) == 10);
  check(91, list_sum(nodes[2].next) == 4);
  return 1;
}

int main() {
  check(1, SQUARE(3 + 1) == 16);
  check(2, MAX(3, 9) == 9 && MAX(-1, -5) == -1);
  pointers();
  structures();
  arrays();
  strings();
  functions();
  floats();
  linked_list();
  return failed;
}
