// The system builtins: configuration values, file search, folders and files
// on disk, system variables, message boxes, the clipboard, programs, native
// libraries and regular expressions. Handlers decode their argument words
// and call the modules of this folder; the runtime's start and stop reach
// the folder through the hooks at the end.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::lib {

// configuration values
std::uint32_t bi_ini_seti(Addr args);
std::uint32_t bi_ini_sets(Addr args);
std::uint32_t bi_ini_geti(Addr args);
std::uint32_t bi_ini_gets(Addr args);

// file search
std::uint32_t bi_find_first(Addr args);
std::uint32_t bi_find_next(Addr args);
std::uint32_t bi_find_close(Addr args);

// folders and files
std::uint32_t bi_dir_getpath(Addr args);
std::uint32_t bi_dir_getcur(Addr args);
std::uint32_t bi_dir_setcur(Addr args);
std::uint32_t bi_dir_create(Addr args);
std::uint32_t bi_dir_delete(Addr args);
std::uint32_t bi_file_copy(Addr args);
std::uint32_t bi_file_move(Addr args);
std::uint32_t bi_file_delete(Addr args);
std::uint32_t bi_file_size(Addr args);
std::uint32_t bi_file_check(Addr args);
std::uint32_t bi_file_getattr(Addr args);
std::uint32_t bi_file_setattr(Addr args);
std::uint32_t bi_file_gettime(Addr args);
std::uint32_t bi_file_settime(Addr args);

// system
std::uint32_t bi_wallpaper(Addr args);
std::uint32_t bi_shell(Addr args);
std::uint32_t bi_exec(Addr args);
std::uint32_t bi_getsystem(Addr args);
std::uint32_t bi_setsystem(Addr args);
std::uint32_t bi_mbox(Addr args);
std::uint32_t bi_caption(Addr args);
std::uint32_t bi_clip_write(Addr args);
std::uint32_t bi_clip_read(Addr args);

// native libraries
std::uint32_t bi_dll_load(Addr args);
std::uint32_t bi_dll_unload(Addr args);
std::uint32_t bi_dll_proc(Addr args);
std::uint32_t bi_dll_call(Addr args);

// regular expressions
std::uint32_t bi_reg_new(Addr args);
std::uint32_t bi_reg_free(Addr args);
std::uint32_t bi_reg_search(Addr args);
std::uint32_t bi_reg_match(Addr args);
std::uint32_t bi_match_new(Addr args);
std::uint32_t bi_match_free(Addr args);
std::uint32_t bi_match_clear(Addr args);

// Runtime start: the untrusted switch (the command line's, or'ed with the
// Untrusted key), the main-thread services of the desktop builtins, and no
// open searches.
void system_start(bool untrusted_switch);
// Runtime stop: every expression and region freed and the regular
// expression library ended; every native library unloaded.
void regex_release();
void native_release();

}  // namespace talven::lib
