// File builtins through the real runtime: pack_save's bytes, pack handles,
// mload, streams and the system file.
#include "talven.h"
#include "check.h"

int main() {
  char buf[64];
  char *m;
  int h;
  int i;
  int f;
  int *save;

  check(pack_save("out.pak", "aaa", 3) == 1, "pack_save");
  h = pack_open("OUT.PAK");
  check(h == 1, "pack_open");
  check(pack_size(h) == 3, "pack_size decoded");
  check(pack_read(h, buf, 10) == 3 && buf[0] == 'a' && buf[2] == 'a', "pack_read decoded");
  pack_close(h);
  // The raw bytes of the compressed file.
  f = fopen("out.pak", "rb");
  check(fread(buf, 1, 16, f) == 12, "compressed size");
  check(buf[0] == 0x61 && buf[1] == 0x63 && buf[2] == 0x70 && buf[7] == 3, "header");
  check((buf[8] & 255) == 0x30 && (buf[9] & 255) == 0xC0 && (buf[10] & 255) == 0xE0 && buf[11] == 0, "codes");
  fclose(f);

  for (i = 1; i <= 16; i++) {
    if (pack_open("out.pak") != i) check(0, "pack handles 1..16");
  }
  check(pack_open("out.pak") == 0, "the 17th pack_open");
  check(pack_close(17) == 0, "pack_close(17)");
  for (i = 1; i <= 16; i++) pack_close(i);

  // A stream writes 200 numbered bytes; mload reads parts of them.
  f = fopen("Data.bin", "wb");
  check(f != 0, "fopen for writing");
  for (i = 0; i < 200; i++) {
    buf[0] = i;
    fwrite(buf, 1, 1, f);
  }
  check(ftell(f) == 200, "ftell");
  check(fclose(f) == 0, "fclose");
  m = mload("data.BIN", 100, 10);
  check(m != 0 && m[0] == 100 && m[9] == 109, "mload(path, 100, 10)");
  free(m);
  m = mload("data.bin", 0, 0);
  check(m != 0 && m[0] == 0 && (m[199] & 255) == 199, "mload whole file");
  free(m);

  f = fopen("text.txt", "w");
  fputs("first\nsecond\n", f);
  fclose(f);
  f = fopen("TEXT.TXT", "r");
  check(fgets(buf, 64, f) == buf && strcmp(buf, "first\n") == 0, "fgets");
  fgets(buf, 64, f);
  check(fgets(buf, 64, f) == 0, "fgets at the end");
  fclose(f);

  // The system file.
  check(sysio(1) == 0, "sysio(1) before sysfile");
  // A heap block stays live until the runtime stops (a stack or global block
  // is gone once main returns).
  save = malloc(16);
  memset(save, 0, 16);
  save[0] = 1234;
  save[1] = 5678;
  check(sysfile("system.dat", save, 16) == 0, "sysfile without a file");
  check(sysio(1) == 1, "sysio(1)");
  save[0] = 0;
  check(sysio(0) == 1 && save[0] == 1234, "sysio(0)");
  // Changed once more: the save at shut-down writes it.
  save[1] = 4321;
  return failures;
}
