// The builtin table, in trap-number order: {ends_slice, name, binding}, or
// {ends_slice, name, handler, argc} for a handler of the raw argument block.
//
// One line per builtin so that the table reads against the numbering the
// game headers use. A binding (runtime/bind.h) makes the handler from a
// typed function and takes the argument count from its parameters:
// bind<&f> runs f on the calling script thread, on_main_thread<&f> on the
// main thread. argc -1 marks a variadic builtin. Each family's handlers
// live in its own folder; a family changes only its own lines here.
#include <cstring>

#include "audio/cd/cd_audio.h"
#include "audio/cd/cd_builtins.h"
#include "audio/midi/midi_builtins.h"
#include "audio/midi/midi_player.h"
#include "audio/video/media.h"
#include "audio/video/media_builtins.h"

#include "audio/sound.h"
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
#include "runtime/bind.h"
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
    {1, "jump", bind<&bi_jump>},                // 0
    {1, "call", bind<&bi_call>},                // 1
    {1, "exit", bind<&bi_exit>},                // 2
    {1, "setjmp", bind<&bi_setjmp>},            // 3
    {1, "longjmp", bind<&bi_longjmp>},          // 4
    {1, "thd_begin", bind<&bi_thd_begin>},      // 5
    {1, "thd_end", bind<&bi_thd_end>},          // 6
    {1, "thd_suspend", bind<&bi_thd_suspend>},  // 7
    {1, "thd_resume", bind<&bi_thd_resume>},    // 8
    {1, "sleep", bind<&bi_sleep>},              // 9
    // 10-13 configuration values
    {1, "ini_seti", bind<&lib::bi_ini_seti>},  // 10
    {1, "ini_sets", bind<&lib::bi_ini_sets>},  // 11
    {1, "ini_geti", bind<&lib::bi_ini_geti>},  // 12
    {1, "ini_gets", bind<&lib::bi_ini_gets>},  // 13
    // 14-20 palettes
    {1, "pal_map", bind<&graphics::bi_pal_map>},        // 14
    {1, "pal_load", bind<&graphics::bi_pal_load>},      // 15
    {1, "pal_set", bind_or<&graphics::bi_pal_set, 0>},  // 16
    {1, "pal_get", bind_or<&graphics::bi_pal_get, 0>},  // 17
    {1, "pal_sets", bind<&graphics::bi_pal_sets>},      // 18
    {1, "pal_gets", bind<&graphics::bi_pal_gets>},      // 19
    {1, "pal_change", bind<&graphics::bi_pal_change>},  // 20
    // 21-43 pixels, colours and planes
    {1, "getpixel", bind_or<&graphics::bi_getpixel, 0>},  // 21
    {1, "rgbtohsv", bind_or<&graphics::rgbtohsv, 0>},     // 22
    {1, "hsvtorgb", bind_or<&graphics::hsvtorgb, 0>},     // 23
    {1, "gclip", bind_or<&graphics::bi_gclip, 0>},        // 24
    {1, "ginit", bind<&graphics::bi_ginit>},              // 25
    {1, "galloc", bind_or<&graphics::bi_galloc, 0>},      // 26
    {1, "gfree", bind_or<&graphics::bi_gfree, 0>},        // 27
    {1, "gload", bind<&graphics::bi_gload>},              // 28
    {1, "gsave", bind<&graphics::bi_gsave>},              // 29
    {1, "gcopy", bind_or<&graphics::bi_gcopy, 0>},        // 30
    {1, "gblit", bind_or<&graphics::bi_gblit, 0>},        // 31
    {1, "gblita", bind_or<&graphics::bi_gblita, 0>},      // 32
    {1, "gclear", bind_or<&graphics::bi_gclear, 0>},      // 33
    {1, "gfill", bind_or<&graphics::bi_gfill, 0>},        // 34
    {1, "gline", bind_or<&graphics::bi_gline, 0>},        // 35
    {1, "gpoly", bind<&graphics::bi_gpoly>},              // 36
    {1, "gattach", bind_or<&graphics::bi_gattach, 0>},    // 37
    {1, "gdetach", bind_or<&graphics::bi_gdetach, 0>},    // 38
    {1, "ggetpal", bind<&graphics::bi_ggetpal>},          // 39
    {1, "gsetpal", bind<&graphics::bi_gsetpal>},          // 40
    {1, "ginfo", bind_or<&graphics::bi_ginfo, 0>},        // 41
    {1, "dload", bind<&graphics::bi_dload>},              // 42
    {1, "dcopy", bind<&graphics::bi_dcopy>},              // 43
    // 44-56 3D renderer
    {1, "p3d_tex", bind<&graphics::render3d::texture_address>},     // 44
    {1, "p3d_init", bind<&graphics::render3d::init>},               // 45
    {1, "p3d_uninit", bind<&graphics::bi_p3d_uninit>},              // 46
    {1, "p3d_load", bind<&graphics::bi_p3d_load>},                  // 47
    {1, "p3d_free", bind<&graphics::render3d::free_model>},         // 48
    {1, "p3d_normal", bind<&graphics::render3d::compute_normals>},  // 49
    {1, "p3d_clear", bind<&graphics::bi_p3d_clear>},                // 50
    {1, "p3d_view", bind<&graphics::bi_p3d_view>},                  // 51
    {1, "p3d_env", bind<&graphics::bi_p3d_env>},                    // 52
    {1, "p3d_light", bind<&graphics::bi_p3d_light>},                // 53
    {1, "p3d_material", bind<&graphics::bi_p3d_material>},          // 54
    {1, "p3d_setobj", bind<&graphics::bi_p3d_setobj>},              // 55
    {1, "p3d_render", bind<&graphics::render3d::render>},           // 56
    // 57-76 sprites and hit areas
    {0, "sp_flag", bind<&graphics::sp_flag>},           // 57
    {1, "sp_init", bind<&graphics::bi_sp_init>},        // 58
    {1, "sp_setbg", bind<&graphics::sp_setbg>},         // 59
    {0, "sp_getbg", bind<&graphics::sp_getbg>},         // 60
    {1, "sp_redraw", bind<&graphics::bi_sp_redraw>},    // 61
    {0, "sp_set", graphics::bi_sp_set, 7},              // 62
    {0, "sp_reset", bind<&graphics::sp_reset>},         // 63
    {0, "sp_link", bind<&graphics::LinkSprite>},        // 64
    {0, "sp_unlink", bind<&graphics::sp_unlink>},       // 65
    {1, "sp_draw", bind<&graphics::bi_sp_draw>},        // 66
    {0, "sp_bgorg", bind<&graphics::bi_sp_bgorg>},      // 67
    {0, "sp_org", bind<&graphics::bi_sp_org>},          // 68
    {1, "sp_sort", bind<&graphics::bi_sp_sort>},        // 69
    {0, "sp_rect", bind<&graphics::bi_sp_rect>},        // 70
    {1, "hit_init", bind<&graphics::bi_hit_init>},      // 71
    {1, "hit_set", bind_or<&graphics::bi_hit_set, 0>},  // 72
    {1, "hit_reset", bind<&graphics::hit_reset>},       // 73
    {1, "hit_check", bind<&graphics::hit_check>},       // 74
    {1, "hit_rect", bind<&graphics::bi_hit_rect>},      // 75
    {1, "hit_point", bind<&graphics::hit_point>},       // 76
    // 77-80 pages and presentation
    {1, "setorg", bind_or<&graphics::bi_setorg, 0>},  // 77
    {1, "vpage", bind<&graphics::SetViewPage>},       // 78
    {1, "apage", bind<&graphics::SetActivePage>},     // 79
    {1, "update", bind<&graphics::bi_update>},        // 80
    // 81-88 fonts and text
    {1, "font_list", bind<&graphics::bi_font_list>},  // 81
    {1, "font_use", bind<&graphics::bi_font_use>},    // 82
    {1, "font_set", bind<&graphics::bi_font_set>},    // 83
    {1, "font_get", bind<&graphics::bi_font_get>},    // 84
    {1, "font_abc", bind<&graphics::bi_font_abc>},    // 85
    {1, "font_kern", bind<&graphics::bi_font_kern>},  // 86
    {1, "gtext", bind<&graphics::bi_gtext>},          // 87
    {1, "gtextf", graphics::bi_gtextf, -1},           // 88
    // 89-91 dirty rectangles
    {1, "drt_init", bind<&graphics::bi_drt_init>},        // 89
    {1, "drt_set", bind<&graphics::bi_drt_set>},          // 90
    {1, "drt_copy", bind_or<&graphics::bi_drt_copy, 0>},  // 91
    // 92-102 MIDI music
    {1, "midi_load", on_main_thread<&audio::midi::bi_midi_load>},   // 92
    {1, "midi_free", on_main_thread<&audio::midi::midi_free>},      // 93
    {1, "midi_play", on_main_thread<&audio::midi::bi_midi_play>},   // 94
    {1, "midi_stop", on_main_thread<&audio::midi::bi_midi_stop>},   // 95
    {1, "midi_pause", on_main_thread<&audio::midi::midi_pause>},    // 96
    {1, "midi_replay", on_main_thread<&audio::midi::midi_replay>},  // 97
    {1, "midi_setvol", on_main_thread<&audio::midi::midi_setvol>},  // 98
    {1, "midi_getvol", on_main_thread<&audio::midi::midi_getvol>},  // 99
    {1, "midi_isplay", on_main_thread<&audio::midi::midi_isplay>},  // 100
    {1, "midi_getpos", on_main_thread<&audio::midi::midi_getpos>},  // 101
    {1, "midi_repeat", on_main_thread<&audio::midi::midi_repeat>},  // 102
    // 103-130 sound buffers and effects
    {1, "snd_load", on_main_thread<&audio::bi_snd_load>},                                    // 103
    {1, "snd_loads", on_main_thread<&audio::bi_snd_loads>},                                  // 104
    {1, "snd_free", on_main_thread<&audio::sound_free>},                                     // 105
    {1, "snd_play", on_main_thread<&audio::sound_play>},                                     // 106
    {1, "snd_stop", on_main_thread<&audio::sound_stop>},                                     // 107
    {1, "snd_pause", on_main_thread<&audio::sound_pause>},                                   // 108
    {1, "snd_replay", on_main_thread<&audio::sound_replay>},                                 // 109
    {1, "snd_setvol", on_main_thread<&audio::sound_set_volume>},                             // 110
    {1, "snd_getvol", on_main_thread<&audio::sound_get_volume>},                             // 111
    {1, "snd_setpan", on_main_thread<&audio::sound_set_pan>},                                // 112
    {1, "snd_getpan", on_main_thread<&audio::sound_get_pan>},                                // 113
    {1, "snd_setfreq", on_main_thread<&audio::sound_set_frequency>},                         // 114
    {1, "snd_getfreq", on_main_thread<&audio::sound_get_frequency>},                         // 115
    {1, "snd_isplay", on_main_thread<&audio::sound_is_playing>},                             // 116
    {1, "snd_setloop", on_main_thread<&audio::sound_set_loop>},                              // 117
    {1, "snd_setpos", on_main_thread<&audio::sound_set_position>},                           // 118
    {1, "snd_getpos", on_main_thread<&audio::sound_get_position>},                           // 119
    {1, "snd_getlen", on_main_thread<&audio::sound_get_length>},                             // 120
    {1, "snd_gettext", on_main_thread<&audio::bi_snd_gettext>},                              // 121
    {1, "snd_setmargin", on_main_thread<&audio::sound_set_margin>},                          // 122
    {1, "snd_setchorus", on_main_thread<&audio::bi_snd_seteffect<audio::kChorus>>},          // 123
    {1, "snd_setcompressor", on_main_thread<&audio::bi_snd_seteffect<audio::kCompressor>>},  // 124
    {1, "snd_setdistortion", on_main_thread<&audio::bi_snd_seteffect<audio::kDistortion>>},  // 125
    {1, "snd_setecho", on_main_thread<&audio::bi_snd_seteffect<audio::kEcho>>},              // 126
    {1, "snd_setflanger", on_main_thread<&audio::bi_snd_seteffect<audio::kFlanger>>},        // 127
    {1, "snd_setgargle", on_main_thread<&audio::bi_snd_seteffect<audio::kGargle>>},          // 128
    {1, "snd_setparameq", on_main_thread<&audio::bi_snd_seteffect<audio::kParamEq>>},        // 129
    {1, "snd_setreverb", on_main_thread<&audio::bi_snd_seteffect<audio::kReverb>>},          // 130
    // 131-141 CD audio
    {1, "cd_play", on_main_thread<&audio::cd::cd_play>},      // 131
    {1, "cd_stop", on_main_thread<&audio::cd::cd_stop>},      // 132
    {1, "cd_pause", on_main_thread<&audio::cd::cd_pause>},    // 133
    {1, "cd_replay", on_main_thread<&audio::cd::cd_replay>},  // 134
    {1, "cd_setvol", on_main_thread<&audio::cd::cd_setvol>},  // 135
    {1, "cd_getvol", on_main_thread<&audio::cd::cd_getvol>},  // 136
    {1, "cd_isplay", on_main_thread<&audio::cd::cd_isplay>},  // 137
    {1, "cd_getpos", on_main_thread<&audio::cd::cd_getpos>},  // 138
    {1, "cd_getlen", on_main_thread<&audio::cd::cd_getlen>},  // 139
    {1, "cd_repeat", on_main_thread<&audio::cd::cd_repeat>},  // 140
    {1, "cd_eject", on_main_thread<&audio::cd::cd_eject>},    // 141
    // 142-151 video and media
    {1, "media_open", on_main_thread<&audio::video::bi_media_open>},   // 142
    {1, "media_close", on_main_thread<&audio::video::media_close>},    // 143
    {1, "media_play", on_main_thread<&audio::video::media_play>},      // 144
    {1, "media_stop", on_main_thread<&audio::video::media_stop>},      // 145
    {1, "media_pause", on_main_thread<&audio::video::media_pause>},    // 146
    {1, "media_replay", on_main_thread<&audio::video::media_replay>},  // 147
    {1, "media_isplay", on_main_thread<&audio::video::media_isplay>},  // 148
    {1, "media_repeat", on_main_thread<&audio::video::media_repeat>},  // 149
    {1, "media_size", on_main_thread<&audio::video::bi_media_size>},   // 150
    {1, "media_setvol", on_main_thread<&audio::video::media_setvol>},  // 151
    // 152-158 keyboard, joystick, mouse and cursor
    {1, "getkey", on_main_thread<&input::bi_getkey>},      // 152
    {1, "getjoy", on_main_thread<&input::bi_getjoy>},      // 153
    {1, "getmouse", on_main_thread<&input::bi_getmouse>},  // 154
    {1, "getpoint", bind<&input::bi_getpoint>},            // 155
    {1, "cur_set", bind<&input::bi_cur_set>},              // 156
    {1, "cur_clip", bind<&input::bi_cur_clip>},            // 157
    {1, "cur_setpos", bind<&input::bi_cur_setpos>},        // 158
    // 159-162 clock and frame counter
    {1, "getcount", bind<&bi_getcount>},  // 159
    {1, "setcount", bind<&bi_setcount>},  // 160
    {1, "gettime", bind<&bi_gettime>},    // 161
    {1, "fps", bind<&bi_fps>},            // 162
    // 163-169 regular expressions
    {1, "reg_new", bind<&lib::bi_reg_new>},                      // 163
    {1, "reg_free", bind<&lib::bi_reg_free>},                    // 164
    {1, "reg_search", bind_or<&lib::bi_reg_search, kMinusOne>},  // 165
    {1, "reg_match", bind_or<&lib::bi_reg_match, kMinusOne>},    // 166
    {1, "match_new", bind<&lib::bi_match_new>},                  // 167
    {1, "match_free", bind<&lib::bi_match_free>},                // 168
    {1, "match_clear", bind<&lib::bi_match_clear>},              // 169
    // 170-186 packed files, script file input/output, system files
    {1, "pack_save", bind<&storage::bi_pack_save>},    // 170
    {1, "pack_open", bind<&storage::bi_pack_open>},    // 171
    {1, "pack_close", bind<&storage::bi_pack_close>},  // 172
    {1, "pack_read", bind<&storage::bi_pack_read>},    // 173
    {1, "pack_seek", bind<&storage::bi_pack_seek>},    // 174
    {1, "pack_size", bind<&storage::bi_pack_size>},    // 175
    {1, "fopen", bind<&storage::bi_fopen>},            // 176
    {1, "fclose", bind<&storage::bi_fclose>},          // 177
    {1, "fread", bind<&storage::bi_fread>},            // 178
    {1, "fwrite", bind<&storage::bi_fwrite>},          // 179
    {1, "fseek", bind<&storage::bi_fseek>},            // 180
    {1, "ftell", bind<&storage::bi_ftell>},            // 181
    {1, "fgets", bind<&storage::bi_fgets>},            // 182
    {1, "fputs", bind<&storage::bi_fputs>},            // 183
    {1, "sysfile", bind<&storage::bi_sysfile>},        // 184
    {1, "sysio", bind<&storage::bi_sysio>},            // 185
    {1, "mload", bind<&storage::bi_mload>},            // 186
    // 187-194 memory
    {1, "malloc", bind<&lib::bi_malloc>},    // 187
    {1, "realloc", bind<&lib::bi_realloc>},  // 188
    {1, "free", bind<&lib::bi_free>},        // 189
    {1, "memcpy", bind<&lib::bi_memcpy>},    // 190
    {1, "memmove", bind<&lib::bi_memmove>},  // 191
    {1, "memset", bind<&lib::bi_memset>},    // 192
    {1, "memcmp", bind<&lib::bi_memcmp>},    // 193
    {1, "memswap", bind<&lib::bi_memswap>},  // 194
    // 195-225 numbers, interpolation, keyframes and noise
    {0, "srand", bind<&lib::bi_srand>},                // 195
    {0, "rand", bind<&lib::bi_rand>},                  // 196
    {0, "abs", bind<&lib::bi_abs>},                    // 197
    {0, "sgn", bind<&lib::bi_sgn>},                    // 198
    {0, "tsin", bind<&lib::bi_tsin>},                  // 199
    {0, "tcos", bind<&lib::bi_tcos>},                  // 200
    {0, "tatan", bind<&lib::bi_tatan>},                // 201
    {0, "random", bind<&lib::bi_random>},              // 202
    {0, "fabs", bind<&lib::bi_fabs>},                  // 203
    {0, "sqrt", bind<&lib::bi_sqrt>},                  // 204
    {0, "pow", bind<&lib::bi_pow>},                    // 205
    {0, "log", bind<&lib::bi_log>},                    // 206
    {0, "exp", bind<&lib::bi_exp>},                    // 207
    {0, "floor", bind<&lib::bi_floor>},                // 208
    {0, "ceil", bind<&lib::bi_ceil>},                  // 209
    {0, "sin", bind<&lib::bi_sin>},                    // 210
    {0, "cos", bind<&lib::bi_cos>},                    // 211
    {0, "tan", bind<&lib::bi_tan>},                    // 212
    {0, "asin", bind<&lib::bi_asin>},                  // 213
    {0, "acos", bind<&lib::bi_acos>},                  // 214
    {0, "atan", bind<&lib::bi_atan>},                  // 215
    {0, "ftoa", bind<&lib::bi_ftoa>},                  // 216
    {0, "perlin_init", bind<&lib::bi_perlin_init>},    // 217
    {0, "perlin_noise", bind<&lib::bi_perlin_noise>},  // 218
    {0, "bezier", bind<&lib::bi_bezier>},              // 219
    {0, "neville", bind<&lib::bi_neville>},            // 220
    {0, "linear", bind<&lib::bi_linear>},              // 221
    {0, "kf_setkey", bind<&lib::bi_kf_setkey>},        // 222
    {0, "kf_calc", bind<&lib::bi_kf_calc>},            // 223
    {0, "kf_getindex", bind<&lib::bi_kf_getindex>},    // 224
    {0, "kf_getkey", bind<&lib::bi_kf_getkey>},        // 225
    // 226-228 file search
    {1, "find_first", bind<&lib::bi_find_first>},  // 226
    {1, "find_next", bind<&lib::bi_find_next>},    // 227
    {1, "find_close", bind<&lib::bi_find_close>},  // 228
    // 229-238 rectangles
    {0, "rc_empty", bind<&lib::bi_rc_empty>},          // 229
    {0, "rc_set", bind<&lib::bi_rc_set>},              // 230
    {0, "rc_setwh", bind<&lib::bi_rc_setwh>},          // 231
    {0, "rc_copy", bind<&lib::bi_rc_copy>},            // 232
    {0, "rc_move", bind<&lib::bi_rc_move>},            // 233
    {0, "rc_intersect", bind<&lib::bi_rc_intersect>},  // 234
    {0, "rc_union", bind<&lib::bi_rc_union>},          // 235
    {0, "rc_inflate", bind<&lib::bi_rc_inflate>},      // 236
    {0, "rc_in", bind<&lib::bi_rc_in>},                // 237
    {0, "rc_check", bind<&lib::bi_rc_check>},          // 238
    // 239-262 strings and hashing
    {0, "strlen", bind<&lib::bi_strlen>},        // 239
    {0, "strclen", bind<&lib::bi_strclen>},      // 240
    {0, "strcpy", bind<&lib::bi_strcpy>},        // 241
    {0, "strncpy", bind<&lib::bi_strncpy>},      // 242
    {0, "strcat", bind<&lib::bi_strcat>},        // 243
    {0, "strcmp", bind<&lib::bi_strcmp>},        // 244
    {0, "strcmpi", bind<&lib::bi_strcmpi>},      // 245
    {0, "strlwr", bind<&lib::bi_strlwr>},        // 246
    {0, "strupr", bind<&lib::bi_strupr>},        // 247
    {0, "strchr", bind<&lib::bi_strchr>},        // 248
    {0, "strtok", bind<&lib::bi_strtok>},        // 249
    {0, "strcspn", bind<&lib::bi_strcspn>},      // 250
    {0, "strspn", bind<&lib::bi_strspn>},        // 251
    {0, "strstr", bind<&lib::bi_strstr>},        // 252
    {0, "strpbrk", bind<&lib::bi_strpbrk>},      // 253
    {0, "strdup", bind<&lib::bi_strdup>},        // 254
    {0, "strndup", bind<&lib::bi_strndup>},      // 255
    {0, "strtol", bind<&lib::bi_strtol>},        // 256
    {0, "strtoul", bind<&lib::bi_strtoul>},      // 257
    {0, "strtof", bind<&lib::bi_strtof>},        // 258
    {0, "sprintf", lib::bi_sprintf, -1},         // 259
    {0, "splitpath", bind<&lib::bi_splitpath>},  // 260
    {0, "makepath", bind<&lib::bi_makepath>},    // 261
    {0, "hash32", bind<&lib::bi_hash32>},        // 262
    // 263-283 directories, files and system
    {1, "dir_getpath", bind<&lib::bi_dir_getpath>},    // 263
    {1, "dir_getcur", bind<&lib::bi_dir_getcur>},      // 264
    {1, "dir_setcur", bind<&lib::bi_dir_setcur>},      // 265
    {1, "dir_create", bind<&lib::bi_dir_create>},      // 266
    {1, "dir_delete", bind<&lib::bi_dir_delete>},      // 267
    {1, "file_copy", bind<&lib::bi_file_copy>},        // 268
    {1, "file_move", bind<&lib::bi_file_move>},        // 269
    {1, "file_delete", bind<&lib::bi_file_delete>},    // 270
    {1, "file_size", bind<&lib::bi_file_size>},        // 271
    {1, "file_check", bind<&lib::bi_file_check>},      // 272
    {1, "file_getattr", bind<&lib::bi_file_getattr>},  // 273
    {1, "file_setattr", bind<&lib::bi_file_setattr>},  // 274
    {1, "file_gettime", bind<&lib::bi_file_gettime>},  // 275
    {1, "file_settime", bind<&lib::bi_file_settime>},  // 276
    {1, "wallpaper", bind<&lib::bi_wallpaper>},        // 277
    {1, "shell", bind<&lib::bi_shell>},                // 278
    {1, "exec", bind<&lib::bi_exec>},                  // 279
    {1, "getsystem", bind<&lib::bi_getsystem>},        // 280
    {1, "setsystem", bind<&lib::bi_setsystem>},        // 281
    {1, "mbox", bind<&lib::bi_mbox>},                  // 282
    {1, "caption", bind<&lib::bi_caption>},            // 283
    // 284-295 image filters
    {1, "freemap", bind_or<&graphics::bi_freemap, 0>},      // 284
    {1, "smooth", bind_or<&graphics::bi_smooth, 0>},        // 285
    {1, "rotate", bind_or<&graphics::bi_rotate, 0>},        // 286
    {1, "tiled", bind_or<&graphics::bi_tiled, 0>},          // 287
    {1, "scroll", bind_or<&graphics::bi_scroll, 0>},        // 288
    {1, "noise", bind_or<&graphics::bi_noise, 0>},          // 289
    {1, "slice", bind_or<&graphics::bi_slice, 0>},          // 290
    {1, "gradation", bind_or<&graphics::bi_gradation, 0>},  // 291
    {1, "mosaic", bind_or<&graphics::bi_mosaic, 0>},        // 292
    {1, "monotone", bind_or<&graphics::bi_monotone, 0>},    // 293
    {1, "blur", bind_or<&graphics::bi_blur, 0>},            // 294
    {1, "fire", bind_or<&graphics::bi_fire, 0>},            // 295
    // 296-309 animated mesh effects
    {1, "ef_init", bind_or<&graphics::bi_ef_init, 0>},      // 296
    {1, "ef_free", bind_or<&graphics::effect_free, 0>},     // 297
    {1, "ef_copy", bind_or<&graphics::effect_copy, 0>},     // 298
    {1, "ef_info", bind<&graphics::bi_ef_info>},            // 299
    {1, "ef_rotate", bind_or<&graphics::bi_ef_rotate, 0>},  // 300
    {1, "ef_tunnel", bind_or<&graphics::bi_ef_tunnel, 0>},  // 301
    {1, "ef_land", bind_or<&graphics::bi_ef_land, 0>},      // 302
    {1, "ef_ball", bind_or<&graphics::bi_ef_ball, 0>},      // 303
    {1, "ef_whirl", bind_or<&graphics::bi_ef_whirl, 0>},    // 304
    {1, "ef_raster", bind_or<&graphics::bi_ef_raster, 0>},  // 305
    {1, "ef_blob", bind_or<&graphics::bi_ef_blob, 0>},      // 306
    {1, "ef_water", bind_or<&graphics::bi_ef_water, 0>},    // 307
    {1, "ef_clear", bind_or<&graphics::effect_clear, 0>},   // 308
    {1, "ef_lens", bind_or<&graphics::bi_ef_lens, 0>},      // 309
    // 310-311 key buffer
    {1, "key_init", bind<&input::bi_key_init>},  // 310
    {1, "key_get", bind<&input::bi_key_get>},    // 311
    // 312-313 clipboard
    {1, "clip_write", bind<&lib::bi_clip_write>},  // 312
    {1, "clip_read", bind<&lib::bi_clip_read>},    // 313
    // 314-318 networking
    {1, "net_open", bind<&net::bi_net_open>},    // 314
    {1, "net_close", bind<&net::bi_net_close>},  // 315
    {1, "net_send", bind<&net::bi_net_send>},    // 316
    {1, "net_recv", bind<&net::bi_net_recv>},    // 317
    {1, "net_state", bind<&net::bi_net_state>},  // 318
    // 319-320 checksums
    {1, "crc16", bind<&lib::bi_crc16>},  // 319
    {1, "crc32", bind<&lib::bi_crc32>},  // 320
    // 321-324 native library calls
    {1, "dll_load", bind<&lib::bi_dll_load>},      // 321
    {1, "dll_unload", bind<&lib::bi_dll_unload>},  // 322
    {1, "dll_proc", bind<&lib::bi_dll_proc>},      // 323
    {1, "dll_call", lib::bi_dll_call, -1},         // 324
    // 325-326 debug log
    {1, "log_clear", bind<&lib::bi_log_clear>},  // 325
    {1, "log_out", lib::bi_log_out, -1},         // 326
};

int builtin_number(const char* name) {
  if (!name) return -1;
  for (std::size_t i = 0; i < kBuiltinCount; ++i)
    if (std::strcmp(builtin_table[i].name, name) == 0) return static_cast<int>(i);
  return -1;
}

}  // namespace talven::runtime
