// The builtin table, in trap-number order: {ends_slice, name, handler, argc}.
//
// One line per builtin so that the table reads against the numbering the
// game headers use. argc -1 marks a variadic builtin. Families that are not
// built yet point at the not_built* stand-ins, which return the family's
// failure value; a family replaces its handlers here when it lands.
#include <cstring>

#include "runtime/builtins.h"
#include "runtime/game_clock.h"
#include "runtime/threads.h"

namespace talven::runtime {

std::uint32_t not_built(Addr) { return 0; }
std::uint32_t not_built_minus1(Addr) { return 0xFFFFFFFFu; }
std::uint32_t not_built_minus2(Addr) { return 0xFFFFFFFEu; }
std::uint32_t not_built_one(Addr) { return 1; }

const BuiltinEntry builtin_table[kBuiltinCount] = {
    // 0-9 script flow and threads
    {1, "jump",               bi_jump,            1},  // 0
    {1, "call",               bi_call,            1},  // 1
    {1, "exit",               bi_exit,            0},  // 2
    {1, "setjmp",             bi_setjmp,          1},  // 3
    {1, "longjmp",            bi_longjmp,          2},  // 4
    {1, "thd_begin",          bi_thd_begin,       4},  // 5
    {1, "thd_end",            bi_thd_end,          1},  // 6
    {1, "thd_suspend",        bi_thd_suspend,     1},  // 7
    {1, "thd_resume",         bi_thd_resume,      1},  // 8
    {1, "sleep",              bi_sleep,           1},  // 9
    // 10-13 configuration values
    {1, "ini_seti",           not_built,          4},  // 10
    {1, "ini_sets",           not_built,          4},  // 11
    {1, "ini_geti",           not_built,          4},  // 12
    {1, "ini_gets",           not_built,          6},  // 13
    // 14-20 palettes
    {1, "pal_map",            not_built,          1},  // 14
    {1, "pal_load",           not_built,          4},  // 15
    {1, "pal_set",            not_built,          2},  // 16
    {1, "pal_get",            not_built,          1},  // 17
    {1, "pal_sets",           not_built,          3},  // 18
    {1, "pal_gets",           not_built,          3},  // 19
    {1, "pal_change",         not_built,          0},  // 20
    // 21-43 pixels, colours and planes
    {1, "getpixel",           not_built,          3},  // 21
    {1, "rgbtohsv",           not_built,          1},  // 22
    {1, "hsvtorgb",           not_built,          1},  // 23
    {1, "gclip",              not_built,          2},  // 24
    {1, "ginit",              not_built,          0},  // 25
    {1, "galloc",             not_built,          4},  // 26
    {1, "gfree",              not_built,          1},  // 27
    {1, "gload",              not_built,          2},  // 28
    {1, "gsave",              not_built,          3},  // 29
    {1, "gcopy",              not_built,          6},  // 30
    {1, "gblit",              not_built,          6},  // 31
    {1, "gblita",             not_built,          6},  // 32
    {1, "gclear",             not_built,          3},  // 33
    {1, "gfill",              not_built,          6},  // 34
    {1, "gline",              not_built,          6},  // 35
    {1, "gpoly",              not_built,          4},  // 36
    {1, "gattach",            not_built,          2},  // 37
    {1, "gdetach",            not_built,          1},  // 38
    {1, "ggetpal",            not_built,          4},  // 39
    {1, "gsetpal",            not_built,          4},  // 40
    {1, "ginfo",              not_built,          2},  // 41
    {1, "dload",              not_built,          5},  // 42
    {1, "dcopy",              not_built,          5},  // 43
    // 44-56 3D renderer
    {1, "p3d_tex",            not_built,          1},  // 44
    {1, "p3d_init",           not_built,          4},  // 45
    {1, "p3d_uninit",         not_built,          0},  // 46
    {1, "p3d_load",           not_built,          1},  // 47
    {1, "p3d_free",           not_built,          1},  // 48
    {1, "p3d_normal",         not_built,          1},  // 49
    {1, "p3d_clear",          not_built,          0},  // 50
    {1, "p3d_view",           not_built,          2},  // 51
    {1, "p3d_env",            not_built,          3},  // 52
    {1, "p3d_light",          not_built,          4},  // 53
    {1, "p3d_material",       not_built,          3},  // 54
    {1, "p3d_setobj",         not_built,          3},  // 55
    {1, "p3d_render",         not_built,          0},  // 56
    // 57-76 sprites and hit areas
    {0, "sp_flag",            not_built,          1},  // 57
    {1, "sp_init",            not_built,          1},  // 58
    {1, "sp_setbg",           not_built,          1},  // 59
    {0, "sp_getbg",           not_built,          0},  // 60
    {1, "sp_redraw",          not_built,          1},  // 61
    {0, "sp_set",             not_built,          7},  // 62
    {0, "sp_reset",           not_built,          1},  // 63
    {0, "sp_link",            not_built,          2},  // 64
    {0, "sp_unlink",          not_built,          1},  // 65
    {1, "sp_draw",            not_built,          2},  // 66
    {0, "sp_bgorg",           not_built,          2},  // 67
    {0, "sp_org",             not_built,          3},  // 68
    {1, "sp_sort",            not_built,          2},  // 69
    {0, "sp_rect",            not_built,          2},  // 70
    {1, "hit_init",           not_built,          1},  // 71
    {1, "hit_set",            not_built,          5},  // 72
    {1, "hit_reset",          not_built,          1},  // 73
    {1, "hit_check",          not_built,          1},  // 74
    {1, "hit_rect",           not_built,          2},  // 75
    {1, "hit_point",          not_built,          3},  // 76
    // 77-80 pages and presentation
    {1, "setorg",             not_built,          2},  // 77
    {1, "vpage",              not_built,          1},  // 78
    {1, "apage",              not_built,          1},  // 79
    {1, "update",             not_built,          1},  // 80
    // 81-88 fonts and text
    {1, "font_list",          not_built,          2},  // 81
    {1, "font_use",           not_built,          1},  // 82
    {1, "font_set",           not_built,          2},  // 83
    {1, "font_get",           not_built,          2},  // 84
    {1, "font_abc",           not_built,          3},  // 85
    {1, "font_kern",          not_built,          3},  // 86
    {1, "gtext",              not_built,          5},  // 87
    {1, "gtextf",             not_built,         -1},  // 88
    // 89-91 dirty rectangles
    {1, "drt_init",           not_built,          0},  // 89
    {1, "drt_set",            not_built,          1},  // 90
    {1, "drt_copy",           not_built,          5},  // 91
    // 92-102 mIDI music
    {1, "midi_load",          not_built,          1},  // 92
    {1, "midi_free",          not_built,          0},  // 93
    {1, "midi_play",          not_built,          1},  // 94
    {1, "midi_stop",          not_built,          1},  // 95
    {1, "midi_pause",         not_built_one,      0},  // 96
    {1, "midi_replay",        not_built,          0},  // 97
    {1, "midi_setvol",        not_built,          1},  // 98
    {1, "midi_getvol",        not_built,          0},  // 99
    {1, "midi_isplay",        not_built,          0},  // 100
    {1, "midi_getpos",        not_built,          0},  // 101
    {1, "midi_repeat",        not_built,          1},  // 102
    // 103-130 sound buffers and effects
    {1, "snd_load",           not_built,          2},  // 103
    {1, "snd_loads",          not_built,          2},  // 104
    {1, "snd_free",           not_built,          1},  // 105
    {1, "snd_play",           not_built,          2},  // 106
    {1, "snd_stop",           not_built,          1},  // 107
    {1, "snd_pause",          not_built,          1},  // 108
    {1, "snd_replay",         not_built,          1},  // 109
    {1, "snd_setvol",         not_built,          2},  // 110
    {1, "snd_getvol",         not_built,          1},  // 111
    {1, "snd_setpan",         not_built,          2},  // 112
    {1, "snd_getpan",         not_built,          1},  // 113
    {1, "snd_setfreq",        not_built,          2},  // 114
    {1, "snd_getfreq",        not_built,          1},  // 115
    {1, "snd_isplay",         not_built,          1},  // 116
    {1, "snd_setloop",        not_built,          2},  // 117
    {1, "snd_setpos",         not_built,          2},  // 118
    {1, "snd_getpos",         not_built,          1},  // 119
    {1, "snd_getlen",         not_built,          1},  // 120
    {1, "snd_gettext",        not_built,          2},  // 121
    {1, "snd_setmargin",      not_built,          1},  // 122
    {1, "snd_setchorus",      not_built,          2},  // 123
    {1, "snd_setcompressor",  not_built,          2},  // 124
    {1, "snd_setdistortion",  not_built,          2},  // 125
    {1, "snd_setecho",        not_built,          2},  // 126
    {1, "snd_setflanger",     not_built,          2},  // 127
    {1, "snd_setgargle",      not_built,          2},  // 128
    {1, "snd_setparameq",     not_built,          2},  // 129
    {1, "snd_setreverb",      not_built,          2},  // 130
    // 131-141 cD audio
    {1, "cd_play",            not_built,          2},  // 131
    {1, "cd_stop",            not_built,          1},  // 132
    {1, "cd_pause",           not_built,          0},  // 133
    {1, "cd_replay",          not_built,          0},  // 134
    {1, "cd_setvol",          not_built,          1},  // 135
    {1, "cd_getvol",          not_built,          0},  // 136
    {1, "cd_isplay",          not_built,          0},  // 137
    {1, "cd_getpos",          not_built,          1},  // 138
    {1, "cd_getlen",          not_built,          1},  // 139
    {1, "cd_repeat",          not_built,          1},  // 140
    {1, "cd_eject",           not_built,          0},  // 141
    // 142-151 video and media
    {1, "media_open",         not_built,          1},  // 142
    {1, "media_close",        not_built,          0},  // 143
    {1, "media_play",         not_built,          0},  // 144
    {1, "media_stop",         not_built,          0},  // 145
    {1, "media_pause",        not_built,          0},  // 146
    {1, "media_replay",       not_built,          0},  // 147
    {1, "media_isplay",       not_built,          0},  // 148
    {1, "media_repeat",       not_built,          1},  // 149
    {1, "media_size",         not_built,          1},  // 150
    {1, "media_setvol",       not_built,          1},  // 151
    // 152-158 keyboard, joystick, mouse and cursor
    {1, "getkey",             not_built,          1},  // 152
    {1, "getjoy",             not_built,          2},  // 153
    {1, "getmouse",           not_built,          1},  // 154
    {1, "getpoint",           not_built,          1},  // 155
    {1, "cur_set",            not_built,          1},  // 156
    {1, "cur_clip",           not_built,          1},  // 157
    {1, "cur_setpos",         not_built,          2},  // 158
    // 159-162 clock and frame counter
    {1, "getcount",           bi_getcount,          1},  // 159
    {1, "setcount",           bi_setcount,          2},  // 160
    {1, "gettime",            bi_gettime,          1},  // 161
    {1, "fps",                bi_fps,             0},  // 162
    // 163-169 regular expressions
    {1, "reg_new",            not_built,          2},  // 163
    {1, "reg_free",           not_built,          1},  // 164
    {1, "reg_search",         not_built_minus1,   7},  // 165
    {1, "reg_match",          not_built_minus1,   6},  // 166
    {1, "match_new",          not_built,          0},  // 167
    {1, "match_free",         not_built,          1},  // 168
    {1, "match_clear",        not_built,          1},  // 169
    // 170-186 packed files, script file input/output, system files
    {1, "pack_save",          not_built,          3},  // 170
    {1, "pack_open",          not_built,          1},  // 171
    {1, "pack_close",         not_built,          1},  // 172
    {1, "pack_read",          not_built_minus1,   3},  // 173
    {1, "pack_seek",          not_built_minus1,   3},  // 174
    {1, "pack_size",          not_built_minus1,   1},  // 175
    {1, "fopen",              not_built,          2},  // 176
    {1, "fclose",             not_built_minus1,   1},  // 177
    {1, "fread",              not_built,          4},  // 178
    {1, "fwrite",             not_built,          4},  // 179
    {1, "fseek",              not_built_minus1,   3},  // 180
    {1, "ftell",              not_built_minus1,   1},  // 181
    {1, "fgets",              not_built,          3},  // 182
    {1, "fputs",              not_built_minus1,   2},  // 183
    {1, "sysfile",            not_built,          3},  // 184
    {1, "sysio",              not_built,          1},  // 185
    {1, "mload",              not_built,          3},  // 186
    // 187-194 memory
    {1, "malloc",             not_built,          1},  // 187
    {1, "realloc",            not_built,          2},  // 188
    {1, "free",               not_built,          1},  // 189
    {1, "memcpy",             not_built,          3},  // 190
    {1, "memmove",            not_built,          3},  // 191
    {1, "memset",             not_built,          3},  // 192
    {1, "memcmp",             not_built,          3},  // 193
    {1, "memswap",            not_built,          3},  // 194
    // 195-225 numbers, interpolation, keyframes and noise
    {0, "srand",              not_built,          1},  // 195
    {0, "rand",               not_built,          0},  // 196
    {0, "abs",                not_built,          1},  // 197
    {0, "sgn",                not_built,          1},  // 198
    {0, "tsin",               not_built,          1},  // 199
    {0, "tcos",               not_built,          1},  // 200
    {0, "tatan",              not_built,          2},  // 201
    {0, "random",             not_built,          0},  // 202
    {0, "fabs",               not_built,          1},  // 203
    {0, "sqrt",               not_built,          1},  // 204
    {0, "pow",                not_built,          2},  // 205
    {0, "log",                not_built,          1},  // 206
    {0, "exp",                not_built,          1},  // 207
    {0, "floor",              not_built,          1},  // 208
    {0, "ceil",               not_built,          1},  // 209
    {0, "sin",                not_built,          1},  // 210
    {0, "cos",                not_built,          1},  // 211
    {0, "tan",                not_built,          1},  // 212
    {0, "asin",               not_built,          1},  // 213
    {0, "acos",               not_built,          1},  // 214
    {0, "atan",               not_built,          2},  // 215
    {0, "ftoa",               not_built,          2},  // 216
    {0, "perlin_init",        not_built,          2},  // 217
    {0, "perlin_noise",       not_built,          3},  // 218
    {0, "bezier",             not_built,          4},  // 219
    {0, "neville",            not_built,          4},  // 220
    {0, "linear",             not_built,          3},  // 221
    {0, "kf_setkey",          not_built,          3},  // 222
    {0, "kf_calc",            not_built,          2},  // 223
    {0, "kf_getindex",        not_built_minus1,   3},  // 224
    {0, "kf_getkey",          not_built,          4},  // 225
    // 226-228 file search
    {1, "find_first",         not_built_minus1,   2},  // 226
    {1, "find_next",          not_built,          2},  // 227
    {1, "find_close",         not_built,          1},  // 228
    // 229-238 rectangles
    {0, "rc_empty",           not_built,          1},  // 229
    {0, "rc_set",             not_built,          5},  // 230
    {0, "rc_setwh",           not_built,          5},  // 231
    {0, "rc_copy",            not_built,          2},  // 232
    {0, "rc_move",            not_built,          3},  // 233
    {0, "rc_intersect",       not_built,          3},  // 234
    {0, "rc_union",           not_built,          3},  // 235
    {0, "rc_inflate",         not_built,          3},  // 236
    {0, "rc_in",              not_built,          3},  // 237
    {0, "rc_check",           not_built,          1},  // 238
    // 239-262 strings and hashing
    {0, "strlen",             not_built,          1},  // 239
    {0, "strclen",            not_built,          1},  // 240
    {0, "strcpy",             not_built,          2},  // 241
    {0, "strncpy",            not_built,          3},  // 242
    {0, "strcat",             not_built,          2},  // 243
    {0, "strcmp",             not_built,          2},  // 244
    {0, "strcmpi",            not_built,          2},  // 245
    {0, "strlwr",             not_built,          1},  // 246
    {0, "strupr",             not_built,          1},  // 247
    {0, "strchr",             not_built,          2},  // 248
    {0, "strtok",             not_built,          2},  // 249
    {0, "strcspn",            not_built,          2},  // 250
    {0, "strspn",             not_built,          2},  // 251
    {0, "strstr",             not_built,          2},  // 252
    {0, "strpbrk",            not_built,          2},  // 253
    {0, "strdup",             not_built,          1},  // 254
    {0, "strndup",            not_built,          2},  // 255
    {0, "strtol",             not_built,          3},  // 256
    {0, "strtoul",            not_built,          3},  // 257
    {0, "strtof",             not_built,          2},  // 258
    {0, "sprintf",            not_built,         -1},  // 259
    {0, "splitpath",          not_built,          5},  // 260
    {0, "makepath",           not_built,          5},  // 261
    {0, "hash32",             not_built,          1},  // 262
    // 263-283 directories, files and system
    {1, "dir_getpath",        not_built,          2},  // 263
    {1, "dir_getcur",         not_built,          1},  // 264
    {1, "dir_setcur",         not_built,          1},  // 265
    {1, "dir_create",         not_built,          1},  // 266
    {1, "dir_delete",         not_built,          1},  // 267
    {1, "file_copy",          not_built,          3},  // 268
    {1, "file_move",          not_built,          2},  // 269
    {1, "file_delete",        not_built,          1},  // 270
    {1, "file_size",          not_built,          1},  // 271
    {1, "file_check",         not_built,          1},  // 272
    {1, "file_getattr",       not_built_minus1,   1},  // 273
    {1, "file_setattr",       not_built,          2},  // 274
    {1, "file_gettime",       not_built,          4},  // 275
    {1, "file_settime",       not_built,          4},  // 276
    {1, "wallpaper",          not_built,          2},  // 277
    {1, "shell",              not_built,          3},  // 278
    {1, "exec",               not_built,          1},  // 279
    {1, "getsystem",          not_built,          1},  // 280
    {1, "setsystem",          not_built,          2},  // 281
    {1, "mbox",               not_built,          3},  // 282
    {1, "caption",            not_built,          1},  // 283
    // 284-295 image filters
    {1, "freemap",            not_built,          5},  // 284
    {1, "smooth",             not_built,          5},  // 285
    {1, "rotate",             not_built,          6},  // 286
    {1, "tiled",              not_built,          6},  // 287
    {1, "scroll",             not_built,          4},  // 288
    {1, "noise",              not_built,          3},  // 289
    {1, "slice",              not_built,          3},  // 290
    {1, "gradation",          not_built,          5},  // 291
    {1, "mosaic",             not_built,          7},  // 292
    {1, "monotone",           not_built,          4},  // 293
    {1, "blur",               not_built,          6},  // 294
    {1, "fire",               not_built,          2},  // 295
    // 296-309 animated mesh effects
    {1, "ef_init",            not_built,          5},  // 296
    {1, "ef_free",            not_built,          1},  // 297
    {1, "ef_copy",            not_built,          1},  // 298
    {1, "ef_info",            not_built,          2},  // 299
    {1, "ef_rotate",          not_built,          5},  // 300
    {1, "ef_tunnel",          not_built,          4},  // 301
    {1, "ef_land",            not_built,          5},  // 302
    {1, "ef_ball",            not_built,          5},  // 303
    {1, "ef_whirl",           not_built,          2},  // 304
    {1, "ef_raster",          not_built,          4},  // 305
    {1, "ef_blob",            not_built,          5},  // 306
    {1, "ef_water",           not_built,          2},  // 307
    {1, "ef_clear",           not_built,          1},  // 308
    {1, "ef_lens",            not_built,          5},  // 309
    // 310-311 key buffer
    {1, "key_init",           not_built,          0},  // 310
    {1, "key_get",            not_built,          0},  // 311
    // 312-313 clipboard
    {1, "clip_write",         not_built_minus2,   1},  // 312
    {1, "clip_read",          not_built_minus2,   2},  // 313
    // 314-318 networking
    {1, "net_open",           not_built,          2},  // 314
    {1, "net_close",          not_built,          0},  // 315
    {1, "net_send",           not_built_minus1,   3},  // 316
    {1, "net_recv",           not_built_minus1,   3},  // 317
    {1, "net_state",          not_built,          0},  // 318
    // 319-320 checksums
    {1, "crc16",              not_built,          2},  // 319
    {1, "crc32",              not_built,          2},  // 320
    // 321-324 dLL calls
    {1, "dll_load",           not_built_minus1,   1},  // 321
    {1, "dll_unload",         not_built,          1},  // 322
    {1, "dll_proc",           not_built,          2},  // 323
    {1, "dll_call",           not_built,         -1},  // 324
    // 325-326 debug log
    {1, "log_clear",          not_built,          0},  // 325
    {1, "log_out",            not_built,         -1},  // 326
};

int builtin_number(const char* name) {
  if (!name) return -1;
  for (std::size_t i = 0; i < kBuiltinCount; ++i)
    if (std::strcmp(builtin_table[i].name, name) == 0) return static_cast<int>(i);
  return -1;
}

}  // namespace talven::runtime
