// An untrusted game: programs, native libraries and files outside its own
// folders are refused; its own folder still works.
#include "talven.h"
#include "check.h"

int main() {
  check(exec("/bin/true") == 0, "exec refused");
  check(shell("open", "main.c", 0) == 0, "shell refused");
  check(dll_load("libc.so.6") == -1, "dll_load refused");
  check(dll_load("example.dll") == -1, "dll_load beside the game refused");
  check(dir_create("/tmp") == 0, "folder outside");
  check(file_check("/etc/*") == 0, "search outside");
  check(ini_geti("a", "b", 5, "/etc/hostname.ini") == 5, "ini outside");
  check(file_copy("main.c", "..\\stolen.c", 0) == 0, "copy outside");
  check(dir_create("inside") != 0 && dir_delete("inside") != 0, "own folder");
  check(file_check("main.c") == 1, "own files");
  check(ini_seti("S", "k", 1, 0) != 0, "config_path");
  check(ini_seti("system", "UNTRUSTED", 0, 0) == 0, "the switch's own key");
  check(ini_sets("System", 0, 0, 0) == 0, "the switch's section");
  return failures;
}
