// Memory and string builtins through the real runtime.
#include "talven.h"
#include "check.h"

int main() {
  char buf[64];
  char tok[32];
  char drive[4];
  char dir[64];
  char name[64];
  char ext[64];
  char *p;
  char *end;
  int *block;
  int i;

  // Heap blocks and the mem* family.
  block = malloc(16);
  check(block != 0, "malloc");
  memset(block, 0x41, 16);
  check(block[0] == 0x41414141, "memset fills bytes");
  check(memcpy(buf, "abcdef", 7) == 1, "memcpy returns 1");
  check(memcmp("ab", "ac", 2) == -1, "memcmp ab ac 2");
  check(memcmp("ab", "ac", 1) == 0, "memcmp ab ac 1");
  memmove(buf + 1, buf, 5);
  check(strcmp(buf, "aabcde") == 0, "memmove overlap");
  block = realloc(block, 4096);
  check(block != 0 && block[3] == 0x41414141, "realloc keeps contents");
  check(free(block) == 1, "free");
  strcpy(buf, "1234");
  strcpy(tok, "abcd");
  memswap(buf, tok, 2);
  check(strcmp(buf, "ab34") == 0 && strcmp(tok, "12cd") == 0, "memswap");

  // Lengths: two double-byte characters.
  check(strlen("\x82\xA0\x82\xA2") == 4, "strlen");
  check(strclen("\x82\xA0\x82\xA2") == 2, "strclen");

  // strncpy stops before a split character.
  memset(buf, 0x7F, 8);
  strncpy(buf, "ab\x82\xA0", 3);
  check(buf[0] == 'a' && buf[1] == 'b' && buf[2] == 0 && buf[3] == 0x7F, "strncpy at a lead byte");

  strcpy(buf, "abc");
  check(strcat(buf, "def") == buf && strcmp(buf, "abcdef") == 0, "strcat");
  check(strcmp("abc", "abd") < 0 && strcmp("b", "a") > 0, "strcmp");
  check(strcmpi("Hello", "hELLO") == 0, "strcmpi ascii");
  check(strcmpi("\x82\x60", "\x82\x81") == 0, "strcmpi full-width");
  strcpy(buf, "MiXed");
  check(strcmp(strupr(buf), "MIXED") == 0 && strcmp(strlwr(buf), "mixed") == 0, "strupr strlwr");

  // A kanji with a '\' trail byte is one character.
  strcpy(buf, "\x95\x5C\\x");
  check(strchr(buf, '\\') == buf + 2, "strchr skips trail bytes");
  check(strchr(buf, 0x955C) == buf, "strchr double-byte");
  check(strstr(buf, "x") == buf + 3, "strstr");
  check(strpbrk(buf, "x\\") == buf + 2, "strpbrk");
  check(strspn("aab", "a") == 2 && strcspn("aab", "b") == 2, "strspn strcspn");

  // strtok.
  strcpy(tok, "one, two,,three");
  p = strtok(tok, ", ");
  check(p != 0 && strcmp(p, "one") == 0, "strtok first");
  p = strtok(0, ", ");
  check(p != 0 && strcmp(p, "two") == 0, "strtok second");
  p = strtok(0, ", ");
  check(p != 0 && strcmp(p, "three") == 0, "strtok third");
  check(strtok(0, ", ") == 0, "strtok end");

  p = strdup("copy");
  check(p != 0 && strcmp(p, "copy") == 0, "strdup");
  free(p);
  p = strndup("copy", 2);
  check(p != 0 && strcmp(p, "co") == 0, "strndup");
  free(p);

  // Number parsing writes the end address back.
  strcpy(buf, " 0x1Fg");
  check(strtol(buf, &end, 0) == 31 && end == buf + 5, "strtol end");
  check(strtoul("-1", 0, 10) == -1, "strtoul -1");
  strcpy(buf, "2.5rest");
  check(strtof(buf, &end) == 2.5 && end == buf + 3, "strtof");

  // sprintf over argument words, a float as one word.
  i = sprintf(buf, "%d-%s-%c-%.2f-%04x", -12, "str", 'Q', 0.75, 255);
  check(strcmp(buf, "-12-str-Q-0.75-00ff") == 0, "sprintf text");
  check(i == 19, "sprintf count");

  // Paths.
  splitpath("C:\\games\\save\\slot.dat", drive, dir, name, ext);
  check(strcmp(drive, "C:") == 0 && strcmp(dir, "\\games\\save\\") == 0, "splitpath drive dir");
  check(strcmp(name, "slot") == 0 && strcmp(ext, ".dat") == 0, "splitpath name ext");
  splitpath("file.txt", 0, 0, name, 0);
  check(strcmp(name, "file") == 0, "splitpath null outputs");
  makepath(buf, "d", "dir", "file", "txt");
  check(strcmp(buf, "d:dir\\file.txt") == 0, "makepath");

  check(hash32("abc") == 0x024A0126, "hash32");
  check(hash32("") == 0, "hash32 empty");

  // Bad addresses fail without stopping the script.
  check(strlen(16) == 0, "strlen of a bad address");
  check(memcpy(16, buf, 4) == 0, "memcpy to a bad address");
  return failures;
}
