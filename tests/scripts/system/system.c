// System builtins through the real runtime, headless: system variables,
// configuration values, native calls with counted arguments, programs, the
// clipboard, folders, file search and regular expressions.
#include "talven.h"
#include "check.h"

int main() {
  char buf[300];
  char text[32];
  char data[320];
  int libc;
  int ex;
  int r;
  int re;
  int region;
  int *reg;
  int *beg;
  int *end;
  int h;
  int n;

  // System variables: any case; unknown names and fixed values give 0.
  check(getsystem("Width") == 640, "getsystem Width");
  check(getsystem("HEIGHT") == 480, "getsystem HEIGHT");
  check(getsystem("Os_Major") == 10, "getsystem Os_Major");
  check(getsystem("no_such_name") == 0, "getsystem unknown");
  check(setsystem("width", 1024) == 0 && getsystem("width") == 640, "setsystem width");
  check(setsystem("fullscreen", 0) == 0, "setsystem fullscreen, same mode");
  check(setsystem("FullScreen", 1) == 0, "setsystem fullscreen without a window");
  check(getsystem("sp_count") == 0, "sp_count before sprites");

  // Configuration values: a null file is config_path.
  check(ini_geti("Screen", "Width", 7, 0) == 640, "ini_geti config_path");
  check(ini_seti("Test", "Value", -1234, 0) != 0, "ini_seti config_path");
  check(ini_geti("Test", "Value", 7, 0) == -1234, "ini_geti written value");
  check(ini_gets("Test", "Value", "", buf, 4, 0) == 3 && strcmp(buf, "-12") == 0, "ini_gets truncated");

  // Native calls: the words after the function are its arguments.
  libc = dll_load("libc.so.6");
  check(libc >= 0, "dll_load libc");
  check(dll_call(dll_proc(libc, "abs"), -77) == 77, "dll_call abs");
  check(dll_call(0, 1, 2, 3) == 0, "dll_call 0");
  ex = dll_load("Example.dll");
  check(ex >= 0, "dll_load example");
  check(dll_call(dll_proc(ex, "answer")) == 42, "dll_call without arguments");
  check(dll_call(dll_proc(ex, "mul_add"), 6, 7, 1) == 43, "dll_call three arguments");
  strcpy(text, "abc");
  check(dll_call(dll_proc(ex, "upper_text"), text) == 3 && strcmp(text, "ABC") == 0, "script address to native");
  check(dll_unload(ex) == 1 && dll_unload(ex) == 0, "dll_unload");

  // Programs.
  check(exec("no_such_program_xyz.exe /q") == 0, "exec of a missing program");
  check(shell("open", "missing.doc", 0) == 1, "shell of a missing document");

  // Clipboard (kept in the process when headless).
  check(clip_write("abc") == 3, "clip_write");
  check(clip_read(buf, 10) == 4 && strcmp(buf, "abc") == 0, "clip_read 10");
  check(clip_read(buf, 3) == 2 && buf[0] == 'a' && buf[1] == 'b' && buf[2] == 0, "clip_read 3");

  // Folders.
  r = dir_getpath(36, buf);
  check(r > 1 && r == strlen(buf) && buf[r - 1] == '\\', "dir_getpath 36");
  r = dir_getcur(buf);
  check(r > 1 && buf[r - 1] == '\\' && buf[r - 2] != '\\', "dir_getcur");
  check(dir_create("Saves") != 0, "dir_create");
  check(ini_seti("Slot", "Level", 3, "saves\\slot1.ini") != 0, "ini_seti in a folder");
  check(file_copy("SAVES\\SLOT1.INI", "saves\\slot2.ini", 1) != 0, "file_copy");
  check(file_copy("saves\\slot1.ini", "saves\\slot2.ini", 1) == 0, "file_copy fail if exists");

  // File search.
  h = find_first("saves\\*.ini", data);
  check(h != -1, "find_first");
  check(strcmp(data + 44, "slot1.ini") == 0 && (data[0] & 0x10) == 0, "first record");
  n = 1;
  while (find_next(h, data)) n++;
  check(n == 2, "two files found");
  check(find_close(h) != 0, "find_close");
  check(file_size("saves\\slot?.ini") > 0 && file_check("saves\\*.*") == 1, "file_size file_check");
  check(file_delete("saves\\slot1.ini") != 0 && file_delete("saves\\slot2.ini") != 0, "file_delete");
  check(dir_delete("saves") != 0, "dir_delete");

  // Regular expressions over two-byte text: "ab" + two kanji + "x".
  strcpy(text, "ab\x8A\xBF\x8E\x9Ax");
  re = reg_new("[\x88\x9F-\x98\x72]+", 0);
  check(re != 0, "reg_new kanji class");
  region = match_new();
  r = reg_search(re, text, strlen(text), 0, strlen(text), region, 0);
  check(r == 2, "reg_search offset");
  reg = region;
  beg = reg[2];
  end = reg[3];
  check(reg[1] == 1 && beg[0] == 2 && end[0] == 6, "region in script memory");
  check(reg_match(re, text, strlen(text), 2, region, 0) == 4, "reg_match length");
  check(reg_new("(", 0) == 0, "bad pattern");
  check(match_free(region) == 1 && reg_free(re) == 1, "free");
  return failures;
}
