// The system builtins: configuration values, file search, folders and files
// on disk, system variables, message boxes, the clipboard, programs, native
// libraries and regular expressions. Handlers decode their argument words
// and call the modules of this folder; the runtime's start and stop reach
// the folder through the hooks at the end.
#pragma once

#include <cstdint>

#include "base/address_space.h"
#include "lib/system/regex.h"

namespace talven::lib {

// Typed handlers (runtime/bind.h), in table order per family.

// configuration values
bool bi_ini_seti(Addr section, Addr key, std::int32_t value, Addr file);
bool bi_ini_sets(Addr section, Addr key, Addr text, Addr file);  // null text: deletes the key
std::int32_t bi_ini_geti(Addr section, Addr key, std::int32_t fallback, Addr file);
std::uint32_t bi_ini_gets(Addr section, Addr key, Addr fallback, Addr buffer, std::int32_t size,
                          Addr file);

// file search
std::int32_t bi_find_first(Addr pattern, Addr record);  // the handle, or -1
bool bi_find_next(std::int32_t handle, Addr record);
bool bi_find_close(std::int32_t handle);

// folders and files
std::uint32_t bi_dir_getpath(std::int32_t folder, Addr buffer);
std::uint32_t bi_dir_getcur(Addr buffer);
bool bi_dir_setcur(Addr path);
bool bi_dir_create(Addr path);
bool bi_dir_delete(Addr path);
bool bi_file_copy(Addr from, Addr to, std::uint32_t fail_if_exists);
bool bi_file_move(Addr from, Addr to);
bool bi_file_delete(Addr path);
std::uint32_t bi_file_size(Addr path);
bool bi_file_check(Addr path);
std::uint32_t bi_file_getattr(Addr path);  // the attributes, or -1
bool bi_file_setattr(Addr path, std::uint32_t attributes);
bool bi_file_gettime(Addr path, Addr created, Addr accessed, Addr written);
bool bi_file_settime(Addr path, Addr created, Addr accessed, Addr written);

// system
std::int32_t bi_wallpaper(Addr path, std::int32_t style);
std::int32_t bi_shell(Addr verb, Addr file, Addr params);
bool bi_exec(Addr command_line);
std::int32_t bi_getsystem(Addr name);
std::int32_t bi_setsystem(Addr name, std::int32_t value);
std::int32_t bi_mbox(std::uint32_t style, Addr caption, Addr text);
bool bi_caption(Addr text);
std::int32_t bi_clip_write(Addr text);
std::int32_t bi_clip_read(Addr buffer, std::int32_t size);

// native libraries
std::int32_t bi_dll_load(Addr name);
bool bi_dll_unload(std::int32_t handle);
std::uint32_t bi_dll_proc(std::int32_t handle, Addr name);
std::uint32_t bi_dll_call(Addr args);  // variadic: the raw block

// regular expressions
// (regex.h's functions are the builtins themselves, but for reg_new.)
std::uint32_t bi_reg_new(Addr pattern, std::uint32_t options);
inline constexpr auto& bi_reg_free = system::regex_free;
inline constexpr auto& bi_reg_search = system::regex_search;
inline constexpr auto& bi_reg_match = system::regex_match;
inline constexpr auto& bi_match_new = system::region_new;
inline constexpr auto& bi_match_free = system::region_free;
inline constexpr auto& bi_match_clear = system::region_clear;

// Runtime start: the untrusted switch (the command line's, or'ed with the
// Untrusted key) and no open searches.
void system_start(bool untrusted_switch);
// Runtime stop: every expression and region freed and the regular
// expression library ended; every native library unloaded.
void regex_release();
void native_release();

}  // namespace talven::lib
