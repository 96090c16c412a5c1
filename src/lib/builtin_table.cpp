// The builtin table, in trap-number order: {ends_slice, name, handler, argc}.
//
// One line per builtin so that the table reads against the numbering the
// game headers use. argc -1 marks a variadic builtin. Each family's
// handlers live in its own folder; a family changes only its own lines here.
#include <cstring>

#include "audio/cd/cd_builtins.h"
#include "audio/midi/midi_builtins.h"
#include "audio/video/media_builtins.h"

#include "audio/sound_builtins.h"
#include "graphics/effect/effect_builtins.h"
#include "graphics/filter/filter_builtins.h"
#include "graphics/kernels/kernel_builtins.h"
#include "graphics/plane/plane_builtins.h"
#include "graphics/present/page_builtins.h"
#include "graphics/render3d/render3d_builtins.h"
#include "graphics/sprite/sprite_builtins.h"
#include "input/input_builtins.h"
#include "graphics/text/text_builtins.h"
#include "runtime/builtins.h"
#include "runtime/game_clock.h"
#include "runtime/threads.h"
#include "lib/log_builtins.h"
#include "lib/memory_builtins.h"
#include "lib/number_builtins.h"
#include "lib/rect_builtins.h"
#include "lib/string_builtins.h"
#include "lib/system/system_builtins.h"
#include "net/net_builtins.h"
#include "storage/file_builtins.h"

namespace talven::runtime {


const BuiltinEntry builtin_table[kBuiltinCount] = {
    // 0-9 script flow and threads
    {1, "jump",               bi_jump,                  1},  // 0
    {1, "call",               bi_call,                  1},  // 1
    {1, "exit",               bi_exit,                  0},  // 2
    {1, "setjmp",             bi_setjmp,                1},  // 3
    {1, "longjmp",            bi_longjmp,               2},  // 4
    {1, "thd_begin",          bi_thd_begin,             4},  // 5
    {1, "thd_end",            bi_thd_end,               1},  // 6
    {1, "thd_suspend",        bi_thd_suspend,           1},  // 7
    {1, "thd_resume",         bi_thd_resume,            1},  // 8
    {1, "sleep",              bi_sleep,                 1},  // 9
    // 10-13 configuration values
    {1, "ini_seti",           lib::bi_ini_seti,         4},  // 10
    {1, "ini_sets",           lib::bi_ini_sets,         4},  // 11
    {1, "ini_geti",           lib::bi_ini_geti,         4},  // 12
    {1, "ini_gets",           lib::bi_ini_gets,         6},  // 13
    // 14-20 palettes
    {1, "pal_map",            graphics::bi_pal_map,     1},  // 14
    {1, "pal_load",           graphics::bi_pal_load,    4},  // 15
    {1, "pal_set",            graphics::bi_pal_set,     2},  // 16
    {1, "pal_get",            graphics::bi_pal_get,     1},  // 17
    {1, "pal_sets",           graphics::bi_pal_sets,    3},  // 18
    {1, "pal_gets",           graphics::bi_pal_gets,    3},  // 19
    {1, "pal_change",         graphics::bi_pal_change,  0},  // 20
    // 21-43 pixels, colours and planes
    {1, "getpixel",           graphics::bi_getpixel,    3},  // 21
    {1, "rgbtohsv",           graphics::bi_rgbtohsv,    1},  // 22
    {1, "hsvtorgb",           graphics::bi_hsvtorgb,    1},  // 23
    {1, "gclip",              graphics::bi_gclip,       2},  // 24
    {1, "ginit",              graphics::bi_ginit,       0},  // 25
    {1, "galloc",             graphics::bi_galloc,      4},  // 26
    {1, "gfree",              graphics::bi_gfree,       1},  // 27
    {1, "gload",              graphics::bi_gload,       2},  // 28
    {1, "gsave",              graphics::bi_gsave,       3},  // 29
    {1, "gcopy",              graphics::bi_gcopy,       6},  // 30
    {1, "gblit",              graphics::bi_gblit,       6},  // 31
    {1, "gblita",             graphics::bi_gblita,      6},  // 32
    {1, "gclear",             graphics::bi_gclear,      3},  // 33
    {1, "gfill",              graphics::bi_gfill,       6},  // 34
    {1, "gline",              graphics::bi_gline,       6},  // 35
    {1, "gpoly",              graphics::bi_gpoly,       4},  // 36
    {1, "gattach",            graphics::bi_gattach,     2},  // 37
    {1, "gdetach",            graphics::bi_gdetach,     1},  // 38
    {1, "ggetpal",            graphics::bi_ggetpal,     4},  // 39
    {1, "gsetpal",            graphics::bi_gsetpal,     4},  // 40
    {1, "ginfo",              graphics::bi_ginfo,       2},  // 41
    {1, "dload",              graphics::bi_dload,       5},  // 42
    {1, "dcopy",              graphics::bi_dcopy,       5},  // 43
    // 44-56 3D renderer
    {1, "p3d_tex",            graphics::bi_p3d_tex,      1},  // 44
    {1, "p3d_init",           graphics::bi_p3d_init,     4},  // 45
    {1, "p3d_uninit",         graphics::bi_p3d_uninit,   0},  // 46
    {1, "p3d_load",           graphics::bi_p3d_load,     1},  // 47
    {1, "p3d_free",           graphics::bi_p3d_free,     1},  // 48
    {1, "p3d_normal",         graphics::bi_p3d_normal,   1},  // 49
    {1, "p3d_clear",          graphics::bi_p3d_clear,    0},  // 50
    {1, "p3d_view",           graphics::bi_p3d_view,     2},  // 51
    {1, "p3d_env",            graphics::bi_p3d_env,      3},  // 52
    {1, "p3d_light",          graphics::bi_p3d_light,    4},  // 53
    {1, "p3d_material",       graphics::bi_p3d_material, 3},  // 54
    {1, "p3d_setobj",         graphics::bi_p3d_setobj,   3},  // 55
    {1, "p3d_render",         graphics::bi_p3d_render,   0},  // 56
    // 57-76 sprites and hit areas
    {0, "sp_flag",            graphics::bi_sp_flag,     1},  // 57
    {1, "sp_init",            graphics::bi_sp_init,     1},  // 58
    {1, "sp_setbg",           graphics::bi_sp_setbg,    1},  // 59
    {0, "sp_getbg",           graphics::bi_sp_getbg,    0},  // 60
    {1, "sp_redraw",          graphics::bi_sp_redraw,   1},  // 61
    {0, "sp_set",             graphics::bi_sp_set,      7},  // 62
    {0, "sp_reset",           graphics::bi_sp_reset,    1},  // 63
    {0, "sp_link",            graphics::bi_sp_link,     2},  // 64
    {0, "sp_unlink",          graphics::bi_sp_unlink,   1},  // 65
    {1, "sp_draw",            graphics::bi_sp_draw,     2},  // 66
    {0, "sp_bgorg",           graphics::bi_sp_bgorg,    2},  // 67
    {0, "sp_org",             graphics::bi_sp_org,      3},  // 68
    {1, "sp_sort",            graphics::bi_sp_sort,     2},  // 69
    {0, "sp_rect",            graphics::bi_sp_rect,     2},  // 70
    {1, "hit_init",           graphics::bi_hit_init,    1},  // 71
    {1, "hit_set",            graphics::bi_hit_set,     5},  // 72
    {1, "hit_reset",          graphics::bi_hit_reset,   1},  // 73
    {1, "hit_check",          graphics::bi_hit_check,   1},  // 74
    {1, "hit_rect",           graphics::bi_hit_rect,    2},  // 75
    {1, "hit_point",          graphics::bi_hit_point,   3},  // 76
    // 77-80 pages and presentation
    {1, "setorg",             graphics::bi_setorg,      2},  // 77
    {1, "vpage",              graphics::bi_vpage,       1},  // 78
    {1, "apage",              graphics::bi_apage,       1},  // 79
    {1, "update",             graphics::bi_update,      1},  // 80
    // 81-88 fonts and text
    {1, "font_list",          graphics::bi_font_list,   2},  // 81
    {1, "font_use",           graphics::bi_font_use,    1},  // 82
    {1, "font_set",           graphics::bi_font_set,    2},  // 83
    {1, "font_get",           graphics::bi_font_get,    2},  // 84
    {1, "font_abc",           graphics::bi_font_abc,    3},  // 85
    {1, "font_kern",          graphics::bi_font_kern,   3},  // 86
    {1, "gtext",              graphics::bi_gtext,       5},  // 87
    {1, "gtextf",             graphics::bi_gtextf,     -1},  // 88
    // 89-91 dirty rectangles
    {1, "drt_init",           graphics::bi_drt_init,    0},  // 89
    {1, "drt_set",            graphics::bi_drt_set,     1},  // 90
    {1, "drt_copy",           graphics::bi_drt_copy,    5},  // 91
    // 92-102 mIDI music
    {1, "midi_load",          audio::midi::bi_midi_load,         1},  // 92
    {1, "midi_free",          audio::midi::bi_midi_free,         0},  // 93
    {1, "midi_play",          audio::midi::bi_midi_play,         1},  // 94
    {1, "midi_stop",          audio::midi::bi_midi_stop,         1},  // 95
    {1, "midi_pause",         audio::midi::bi_midi_pause,        0},  // 96
    {1, "midi_replay",        audio::midi::bi_midi_replay,       0},  // 97
    {1, "midi_setvol",        audio::midi::bi_midi_setvol,       1},  // 98
    {1, "midi_getvol",        audio::midi::bi_midi_getvol,       0},  // 99
    {1, "midi_isplay",        audio::midi::bi_midi_isplay,       0},  // 100
    {1, "midi_getpos",        audio::midi::bi_midi_getpos,       0},  // 101
    {1, "midi_repeat",        audio::midi::bi_midi_repeat,       1},  // 102
    // 103-130 sound buffers and effects
    {1, "snd_load",           audio::bi_snd_load,       2},  // 103
    {1, "snd_loads",          audio::bi_snd_loads,      2},  // 104
    {1, "snd_free",           audio::bi_snd_free,       1},  // 105
    {1, "snd_play",           audio::bi_snd_play,       2},  // 106
    {1, "snd_stop",           audio::bi_snd_stop,       1},  // 107
    {1, "snd_pause",          audio::bi_snd_pause,      1},  // 108
    {1, "snd_replay",         audio::bi_snd_replay,     1},  // 109
    {1, "snd_setvol",         audio::bi_snd_setvol,     2},  // 110
    {1, "snd_getvol",         audio::bi_snd_getvol,     1},  // 111
    {1, "snd_setpan",         audio::bi_snd_setpan,     2},  // 112
    {1, "snd_getpan",         audio::bi_snd_getpan,     1},  // 113
    {1, "snd_setfreq",        audio::bi_snd_setfreq,    2},  // 114
    {1, "snd_getfreq",        audio::bi_snd_getfreq,    1},  // 115
    {1, "snd_isplay",         audio::bi_snd_isplay,     1},  // 116
    {1, "snd_setloop",        audio::bi_snd_setloop,    2},  // 117
    {1, "snd_setpos",         audio::bi_snd_setpos,     2},  // 118
    {1, "snd_getpos",         audio::bi_snd_getpos,     1},  // 119
    {1, "snd_getlen",         audio::bi_snd_getlen,     1},  // 120
    {1, "snd_gettext",        audio::bi_snd_gettext,    2},  // 121
    {1, "snd_setmargin",      audio::bi_snd_setmargin,  1},  // 122
    {1, "snd_setchorus",      audio::bi_snd_setchorus,  2},  // 123
    {1, "snd_setcompressor",  audio::bi_snd_setcompressor, 2},  // 124
    {1, "snd_setdistortion",  audio::bi_snd_setdistortion, 2},  // 125
    {1, "snd_setecho",        audio::bi_snd_setecho,    2},  // 126
    {1, "snd_setflanger",     audio::bi_snd_setflanger, 2},  // 127
    {1, "snd_setgargle",      audio::bi_snd_setgargle,  2},  // 128
    {1, "snd_setparameq",     audio::bi_snd_setparameq, 2},  // 129
    {1, "snd_setreverb",      audio::bi_snd_setreverb,  2},  // 130
    // 131-141 cD audio
    {1, "cd_play",            audio::cd::bi_cd_play,             2},  // 131
    {1, "cd_stop",            audio::cd::bi_cd_stop,             1},  // 132
    {1, "cd_pause",           audio::cd::bi_cd_pause,            0},  // 133
    {1, "cd_replay",          audio::cd::bi_cd_replay,           0},  // 134
    {1, "cd_setvol",          audio::cd::bi_cd_setvol,           1},  // 135
    {1, "cd_getvol",          audio::cd::bi_cd_getvol,           0},  // 136
    {1, "cd_isplay",          audio::cd::bi_cd_isplay,           0},  // 137
    {1, "cd_getpos",          audio::cd::bi_cd_getpos,           1},  // 138
    {1, "cd_getlen",          audio::cd::bi_cd_getlen,           1},  // 139
    {1, "cd_repeat",          audio::cd::bi_cd_repeat,           1},  // 140
    {1, "cd_eject",           audio::cd::bi_cd_eject,            0},  // 141
    // 142-151 video and media
    {1, "media_open",         audio::video::bi_media_open,       1},  // 142
    {1, "media_close",        audio::video::bi_media_close,      0},  // 143
    {1, "media_play",         audio::video::bi_media_play,       0},  // 144
    {1, "media_stop",         audio::video::bi_media_stop,       0},  // 145
    {1, "media_pause",        audio::video::bi_media_pause,      0},  // 146
    {1, "media_replay",       audio::video::bi_media_replay,     0},  // 147
    {1, "media_isplay",       audio::video::bi_media_isplay,     0},  // 148
    {1, "media_repeat",       audio::video::bi_media_repeat,     1},  // 149
    {1, "media_size",         audio::video::bi_media_size,       1},  // 150
    {1, "media_setvol",       audio::video::bi_media_setvol,     1},  // 151
    // 152-158 keyboard, joystick, mouse and cursor
    {1, "getkey",             input::bi_getkey,         1},  // 152
    {1, "getjoy",             input::bi_getjoy,         2},  // 153
    {1, "getmouse",           input::bi_getmouse,       1},  // 154
    {1, "getpoint",           input::bi_getpoint,       1},  // 155
    {1, "cur_set",            input::bi_cur_set,        1},  // 156
    {1, "cur_clip",           input::bi_cur_clip,       1},  // 157
    {1, "cur_setpos",         input::bi_cur_setpos,     2},  // 158
    // 159-162 clock and frame counter
    {1, "getcount",           bi_getcount,              1},  // 159
    {1, "setcount",           bi_setcount,              2},  // 160
    {1, "gettime",            bi_gettime,               1},  // 161
    {1, "fps",                bi_fps,                   0},  // 162
    // 163-169 regular expressions
    {1, "reg_new",            lib::bi_reg_new,          2},  // 163
    {1, "reg_free",           lib::bi_reg_free,         1},  // 164
    {1, "reg_search",         lib::bi_reg_search,       7},  // 165
    {1, "reg_match",          lib::bi_reg_match,        6},  // 166
    {1, "match_new",          lib::bi_match_new,        0},  // 167
    {1, "match_free",         lib::bi_match_free,       1},  // 168
    {1, "match_clear",        lib::bi_match_clear,      1},  // 169
    // 170-186 packed files, script file input/output, system files
    {1, "pack_save",          storage::bi_pack_save,    3},  // 170
    {1, "pack_open",          storage::bi_pack_open,    1},  // 171
    {1, "pack_close",         storage::bi_pack_close,   1},  // 172
    {1, "pack_read",          storage::bi_pack_read,    3},  // 173
    {1, "pack_seek",          storage::bi_pack_seek,    3},  // 174
    {1, "pack_size",          storage::bi_pack_size,    1},  // 175
    {1, "fopen",              storage::bi_fopen,        2},  // 176
    {1, "fclose",             storage::bi_fclose,       1},  // 177
    {1, "fread",              storage::bi_fread,        4},  // 178
    {1, "fwrite",             storage::bi_fwrite,       4},  // 179
    {1, "fseek",              storage::bi_fseek,        3},  // 180
    {1, "ftell",              storage::bi_ftell,        1},  // 181
    {1, "fgets",              storage::bi_fgets,        3},  // 182
    {1, "fputs",              storage::bi_fputs,        2},  // 183
    {1, "sysfile",            storage::bi_sysfile,      3},  // 184
    {1, "sysio",              storage::bi_sysio,        1},  // 185
    {1, "mload",              storage::bi_mload,        3},  // 186
    // 187-194 memory
    {1, "malloc",             lib::bi_malloc,           1},  // 187
    {1, "realloc",            lib::bi_realloc,          2},  // 188
    {1, "free",               lib::bi_free,             1},  // 189
    {1, "memcpy",             lib::bi_memcpy,           3},  // 190
    {1, "memmove",            lib::bi_memmove,          3},  // 191
    {1, "memset",             lib::bi_memset,           3},  // 192
    {1, "memcmp",             lib::bi_memcmp,           3},  // 193
    {1, "memswap",            lib::bi_memswap,          3},  // 194
    // 195-225 numbers, interpolation, keyframes and noise
    {0, "srand",              lib::bi_srand,            1},  // 195
    {0, "rand",               lib::bi_rand,             0},  // 196
    {0, "abs",                lib::bi_abs,              1},  // 197
    {0, "sgn",                lib::bi_sgn,              1},  // 198
    {0, "tsin",               lib::bi_tsin,             1},  // 199
    {0, "tcos",               lib::bi_tcos,             1},  // 200
    {0, "tatan",              lib::bi_tatan,            2},  // 201
    {0, "random",             lib::bi_random,           0},  // 202
    {0, "fabs",               lib::bi_fabs,             1},  // 203
    {0, "sqrt",               lib::bi_sqrt,             1},  // 204
    {0, "pow",                lib::bi_pow,              2},  // 205
    {0, "log",                lib::bi_log,              1},  // 206
    {0, "exp",                lib::bi_exp,              1},  // 207
    {0, "floor",              lib::bi_floor,            1},  // 208
    {0, "ceil",               lib::bi_ceil,             1},  // 209
    {0, "sin",                lib::bi_sin,              1},  // 210
    {0, "cos",                lib::bi_cos,              1},  // 211
    {0, "tan",                lib::bi_tan,              1},  // 212
    {0, "asin",               lib::bi_asin,             1},  // 213
    {0, "acos",               lib::bi_acos,             1},  // 214
    {0, "atan",               lib::bi_atan,             2},  // 215
    {0, "ftoa",               lib::bi_ftoa,             2},  // 216
    {0, "perlin_init",        lib::bi_perlin_init,      2},  // 217
    {0, "perlin_noise",       lib::bi_perlin_noise,     3},  // 218
    {0, "bezier",             lib::bi_bezier,           4},  // 219
    {0, "neville",            lib::bi_neville,          4},  // 220
    {0, "linear",             lib::bi_linear,           3},  // 221
    {0, "kf_setkey",          lib::bi_kf_setkey,        3},  // 222
    {0, "kf_calc",            lib::bi_kf_calc,          2},  // 223
    {0, "kf_getindex",        lib::bi_kf_getindex,      3},  // 224
    {0, "kf_getkey",          lib::bi_kf_getkey,        4},  // 225
    // 226-228 file search
    {1, "find_first",         lib::bi_find_first,       2},  // 226
    {1, "find_next",          lib::bi_find_next,        2},  // 227
    {1, "find_close",         lib::bi_find_close,       1},  // 228
    // 229-238 rectangles
    {0, "rc_empty",           lib::bi_rc_empty,         1},  // 229
    {0, "rc_set",             lib::bi_rc_set,           5},  // 230
    {0, "rc_setwh",           lib::bi_rc_setwh,         5},  // 231
    {0, "rc_copy",            lib::bi_rc_copy,          2},  // 232
    {0, "rc_move",            lib::bi_rc_move,          3},  // 233
    {0, "rc_intersect",       lib::bi_rc_intersect,     3},  // 234
    {0, "rc_union",           lib::bi_rc_union,         3},  // 235
    {0, "rc_inflate",         lib::bi_rc_inflate,       3},  // 236
    {0, "rc_in",              lib::bi_rc_in,            3},  // 237
    {0, "rc_check",           lib::bi_rc_check,         1},  // 238
    // 239-262 strings and hashing
    {0, "strlen",             lib::bi_strlen,           1},  // 239
    {0, "strclen",            lib::bi_strclen,          1},  // 240
    {0, "strcpy",             lib::bi_strcpy,           2},  // 241
    {0, "strncpy",            lib::bi_strncpy,          3},  // 242
    {0, "strcat",             lib::bi_strcat,           2},  // 243
    {0, "strcmp",             lib::bi_strcmp,           2},  // 244
    {0, "strcmpi",            lib::bi_strcmpi,          2},  // 245
    {0, "strlwr",             lib::bi_strlwr,           1},  // 246
    {0, "strupr",             lib::bi_strupr,           1},  // 247
    {0, "strchr",             lib::bi_strchr,           2},  // 248
    {0, "strtok",             lib::bi_strtok,           2},  // 249
    {0, "strcspn",            lib::bi_strcspn,          2},  // 250
    {0, "strspn",             lib::bi_strspn,           2},  // 251
    {0, "strstr",             lib::bi_strstr,           2},  // 252
    {0, "strpbrk",            lib::bi_strpbrk,          2},  // 253
    {0, "strdup",             lib::bi_strdup,           1},  // 254
    {0, "strndup",            lib::bi_strndup,          2},  // 255
    {0, "strtol",             lib::bi_strtol,           3},  // 256
    {0, "strtoul",            lib::bi_strtoul,          3},  // 257
    {0, "strtof",             lib::bi_strtof,           2},  // 258
    {0, "sprintf",            lib::bi_sprintf,         -1},  // 259
    {0, "splitpath",          lib::bi_splitpath,        5},  // 260
    {0, "makepath",           lib::bi_makepath,         5},  // 261
    {0, "hash32",             lib::bi_hash32,           1},  // 262
    // 263-283 directories, files and system
    {1, "dir_getpath",        lib::bi_dir_getpath,      2},  // 263
    {1, "dir_getcur",         lib::bi_dir_getcur,       1},  // 264
    {1, "dir_setcur",         lib::bi_dir_setcur,       1},  // 265
    {1, "dir_create",         lib::bi_dir_create,       1},  // 266
    {1, "dir_delete",         lib::bi_dir_delete,       1},  // 267
    {1, "file_copy",          lib::bi_file_copy,        3},  // 268
    {1, "file_move",          lib::bi_file_move,        2},  // 269
    {1, "file_delete",        lib::bi_file_delete,      1},  // 270
    {1, "file_size",          lib::bi_file_size,        1},  // 271
    {1, "file_check",         lib::bi_file_check,       1},  // 272
    {1, "file_getattr",       lib::bi_file_getattr,     1},  // 273
    {1, "file_setattr",       lib::bi_file_setattr,     2},  // 274
    {1, "file_gettime",       lib::bi_file_gettime,     4},  // 275
    {1, "file_settime",       lib::bi_file_settime,     4},  // 276
    {1, "wallpaper",          lib::bi_wallpaper,        2},  // 277
    {1, "shell",              lib::bi_shell,            3},  // 278
    {1, "exec",               lib::bi_exec,             1},  // 279
    {1, "getsystem",          lib::bi_getsystem,        1},  // 280
    {1, "setsystem",          lib::bi_setsystem,        2},  // 281
    {1, "mbox",               lib::bi_mbox,             3},  // 282
    {1, "caption",            lib::bi_caption,          1},  // 283
    // 284-295 image filters
    {1, "freemap",            graphics::bi_freemap,     5},  // 284
    {1, "smooth",             graphics::bi_smooth,      5},  // 285
    {1, "rotate",             graphics::bi_rotate,      6},  // 286
    {1, "tiled",              graphics::bi_tiled,       6},  // 287
    {1, "scroll",             graphics::bi_scroll,      4},  // 288
    {1, "noise",              graphics::bi_noise,       3},  // 289
    {1, "slice",              graphics::bi_slice,       3},  // 290
    {1, "gradation",          graphics::bi_gradation,   5},  // 291
    {1, "mosaic",             graphics::bi_mosaic,      7},  // 292
    {1, "monotone",           graphics::bi_monotone,    4},  // 293
    {1, "blur",               graphics::bi_blur,        6},  // 294
    {1, "fire",               graphics::bi_fire,        2},  // 295
    // 296-309 animated mesh effects
    {1, "ef_init",            graphics::bi_ef_init,     5},  // 296
    {1, "ef_free",            graphics::bi_ef_free,     1},  // 297
    {1, "ef_copy",            graphics::bi_ef_copy,     1},  // 298
    {1, "ef_info",            graphics::bi_ef_info,     2},  // 299
    {1, "ef_rotate",          graphics::bi_ef_rotate,   5},  // 300
    {1, "ef_tunnel",          graphics::bi_ef_tunnel,   4},  // 301
    {1, "ef_land",            graphics::bi_ef_land,     5},  // 302
    {1, "ef_ball",            graphics::bi_ef_ball,     5},  // 303
    {1, "ef_whirl",           graphics::bi_ef_whirl,    2},  // 304
    {1, "ef_raster",          graphics::bi_ef_raster,   4},  // 305
    {1, "ef_blob",            graphics::bi_ef_blob,     5},  // 306
    {1, "ef_water",           graphics::bi_ef_water,    2},  // 307
    {1, "ef_clear",           graphics::bi_ef_clear,    1},  // 308
    {1, "ef_lens",            graphics::bi_ef_lens,     5},  // 309
    // 310-311 key buffer
    {1, "key_init",           input::bi_key_init,       0},  // 310
    {1, "key_get",            input::bi_key_get,        0},  // 311
    // 312-313 clipboard
    {1, "clip_write",         lib::bi_clip_write,       1},  // 312
    {1, "clip_read",          lib::bi_clip_read,        2},  // 313
    // 314-318 networking
    {1, "net_open",           net::bi_net_open,         2},  // 314
    {1, "net_close",          net::bi_net_close,        0},  // 315
    {1, "net_send",           net::bi_net_send,         3},  // 316
    {1, "net_recv",           net::bi_net_recv,         3},  // 317
    {1, "net_state",          net::bi_net_state,        0},  // 318
    // 319-320 checksums
    {1, "crc16",              lib::bi_crc16,            2},  // 319
    {1, "crc32",              lib::bi_crc32,            2},  // 320
    // 321-324 dLL calls
    {1, "dll_load",           lib::bi_dll_load,         1},  // 321
    {1, "dll_unload",         lib::bi_dll_unload,       1},  // 322
    {1, "dll_proc",           lib::bi_dll_proc,         2},  // 323
    {1, "dll_call",           lib::bi_dll_call,        -1},  // 324
    // 325-326 debug log
    {1, "log_clear",          lib::bi_log_clear,        0},  // 325
    {1, "log_out",            lib::bi_log_out,         -1},  // 326
};

int builtin_number(const char* name) {
  if (!name) return -1;
  for (std::size_t i = 0; i < kBuiltinCount; ++i)
    if (std::strcmp(builtin_table[i].name, name) == 0) return static_cast<int>(i);
  return -1;
}

}  // namespace talven::runtime
