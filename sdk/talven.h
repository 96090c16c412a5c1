// talven.h: the builtin functions of the talven runtime, for game scripts.
//
// Include it once at the top of every script:   #include "talven.h"
//
// Each #trap line gives the declaration after it the next builtin number,
// so the declarations must stay in this order and none may be removed;
// add your own functions after the include, never between these lines.
//
// Things to keep in mind:
// - Arguments are not converted to the parameter types: pass floats as
//   float values (2.0, not 2) to the functions that take floats.
// - "rect" parameters take the address of four ints: left, top, right,
//   bottom (right and bottom exclusive); 0 means the whole plane.
// - "blend" parameters take the address of a 12-byte blend-mode record or 0.
// - Angles of the graphics and table functions are in 1/2048 of a turn.
// - Volumes are 0..100, pans -100..100.
// - Functions that format text (gtextf, sprintf, log_out) and dll_call
//   take any number of further arguments after the ones declared here.

// ---- script flow and threads ----
#trap
int jump(char *script_name);
#trap
int call(char *script_name);
#trap
int exit();
#trap
int setjmp(void *buffer64);
#trap
int longjmp(void *buffer64, int value);
#trap
int thd_begin(int (*function)(), int argument, int start_suspended, int stack_size);
#trap
int thd_end(int thread);
#trap
int thd_suspend(int thread);
#trap
int thd_resume(int thread);
#trap
int sleep(int milliseconds);

// ---- configuration values ----
#trap
int ini_seti(char *section, char *key, int value, char *file);
#trap
int ini_sets(char *section, char *key, char *text, char *file);
#trap
int ini_geti(char *section, char *key, int default_value, char *file);
#trap
int ini_gets(char *section, char *key, char *default_text, char *buffer, int buffer_size, char *file);

// ---- palettes ----
#trap
int pal_map(int *palette256);
#trap
int pal_load(int slot, int palette_index, int first, int count);
#trap
int pal_set(int index, int colour);
#trap
int pal_get(int index);
#trap
int pal_sets(int first, int count, int *source);
#trap
int pal_gets(int first, int count, int *destination);
#trap
int pal_change();

// ---- pixels, colours and planes ----
#trap
int getpixel(int slot, int x, int y);
#trap
int rgbtohsv(int colour);
#trap
int hsvtorgb(int hsv);
#trap
int gclip(int slot, int *rect);
#trap
int ginit();
#trap
int galloc(int slot, int width, int height, int bits_per_pixel);
#trap
int gfree(int slot);
#trap
int gload(int slot, char *path);
#trap
int gsave(char *path, int slot, int *rect);
#trap
int gcopy(int dest_slot, int x, int y, int src_slot, int *src_rect, void *blend);
#trap
int gblit(int dest_slot, int *dest_rect, int src_slot, int *src_rect, void *blend, int angle);
#trap
int gblita(int dest_slot, int *dest_rect, int src_slot, int *src_rect, void *blend, int angle);
#trap
int gclear(int slot, int *rect, int argb);
#trap
int gfill(int slot, int x, int y, int width, int height, int argb);
#trap
int gline(int slot, int x1, int y1, int x2, int y2, int argb);
#trap
int gpoly(int slot, int *points, int count, int argb);
#trap
int gattach(int slot, int mask_slot);
#trap
int gdetach(int slot);
#trap
int ggetpal(int slot, int first, int count, int *destination);
#trap
int gsetpal(int slot, int first, int count, int *source);
#trap
int ginfo(int slot, int *six_values);
#trap
int dload(int slot, int x, int y, char *path, int *rect);
#trap
int dcopy(int slot, int x, int y, void *diff_image, int *rect);

// ---- 3D renderer ----
#trap
int p3d_tex(int slot);
#trap
int p3d_init(int target_slot, float focal_length, float near_plane, float far_plane);
#trap
int p3d_uninit();
#trap
int p3d_load(char *path);
#trap
int p3d_free(int model);
#trap
int p3d_normal(int model);
#trap
int p3d_clear();
#trap
int p3d_view(float *camera_position, int *camera_angles);
#trap
int p3d_env(int red, int green, int blue);
#trap
int p3d_light(void *light, int a, int b, int c);
#trap
int p3d_material(int model, int group, void *material);
#trap
int p3d_setobj(int model, float *position, int *angles);
#trap
int p3d_render();

// ---- sprites and hit areas ----
#trap
int sp_flag(int flags);
#trap
int sp_init(int layer_mask);
#trap
int sp_setbg(int slot);
#trap
int sp_getbg();
#trap
int sp_redraw(int layer_mask);
#trap
int sp_set(int layer, int state, int x, int y, int slot, int *src_rect, void *blend);
#trap
int sp_reset(int sprite);
#trap
int sp_link(int parent, int child);
#trap
int sp_unlink(int sprite);
#trap
int sp_draw(int layer_mask, int *rect);
#trap
int sp_bgorg(int x, int y);
#trap
int sp_org(int layer_mask, int x, int y);
#trap
int sp_sort(int layer_mask, int keys);
#trap
int sp_rect(int sprite, int *rect);
#trap
int hit_init(int layer_mask);
#trap
int hit_set(int layer, int mask, int sprite, int *rect, int value);
#trap
int hit_reset(int hit_area);
#trap
int hit_check(int hit_area);
#trap
int hit_rect(int *rect, int layer_mask);
#trap
int hit_point(int x, int y, int layer_mask);

// ---- pages and presentation ----
#trap
int setorg(int x, int y);
#trap
int vpage(int slot);
#trap
int apage(int slot);
#trap
int update(int *rect);

// ---- fonts and text ----
#trap
int font_list(char *names32, int capacity);
#trap
int font_use(int font);
#trap
int font_set(int font, void *font_spec);
#trap
int font_get(int font, void *font_spec);
#trap
int font_abc(int font, int character, float *abc_widths);
#trap
int font_kern(int font, int pair, float *kerning);
#trap
int gtext(int slot, int x, int y, int colour, char *text);
#trap
int gtextf(int slot, int x, int y, int colour, char *format);

// ---- dirty rectangles ----
#trap
int drt_init();
#trap
int drt_set(int *rect);
#trap
int drt_copy(int dest_slot, int x, int y, int src_slot, int *src_rect);

// ---- MIDI music ----
#trap
int midi_load(char *path);
#trap
int midi_free();
#trap
int midi_play(int unused);
#trap
int midi_stop(int unused);
#trap
int midi_pause();
#trap
int midi_replay();
#trap
int midi_setvol(int volume);
#trap
int midi_getvol();
#trap
int midi_isplay();
#trap
int midi_getpos();
#trap
int midi_repeat(int repeat);

// ---- sound buffers and effects ----
#trap
int snd_load(int sound, char *path);
#trap
int snd_loads(int sound, char *path);
#trap
int snd_free(int sound);
#trap
int snd_play(int sound, int loop);
#trap
int snd_stop(int sound);
#trap
int snd_pause(int sound);
#trap
int snd_replay(int sound);
#trap
int snd_setvol(int sound, int volume);
#trap
int snd_getvol(int sound);
#trap
int snd_setpan(int sound, int pan);
#trap
int snd_getpan(int sound);
#trap
int snd_setfreq(int sound, int samples_per_second);
#trap
int snd_getfreq(int sound);
#trap
int snd_isplay(int sound);
#trap
int snd_setloop(int sound, int loop_start_ms);
#trap
int snd_setpos(int sound, int position_ms);
#trap
int snd_getpos(int sound);
#trap
int snd_getlen(int sound);
#trap
int snd_gettext(int sound, char *comment_buffer);
#trap
int snd_setmargin(int margin_ms);
#trap
int snd_setchorus(int sound, void *params);
#trap
int snd_setcompressor(int sound, void *params);
#trap
int snd_setdistortion(int sound, void *params);
#trap
int snd_setecho(int sound, void *params);
#trap
int snd_setflanger(int sound, void *params);
#trap
int snd_setgargle(int sound, void *params);
#trap
int snd_setparameq(int sound, void *params);
#trap
int snd_setreverb(int sound, void *params);

// ---- CD audio ----
#trap
int cd_play(int track, int fade_in_ms);
#trap
int cd_stop(int fade_out_ms);
#trap
int cd_pause();
#trap
int cd_replay();
#trap
int cd_setvol(int volume);
#trap
int cd_getvol();
#trap
int cd_isplay();
#trap
int cd_getpos(int kind);
#trap
int cd_getlen(int track);
#trap
int cd_repeat(int mode);
#trap
int cd_eject();

// ---- video and media ----
#trap
int media_open(char *path);
#trap
int media_close();
#trap
int media_play();
#trap
int media_stop();
#trap
int media_pause();
#trap
int media_replay();
#trap
int media_isplay();
#trap
int media_repeat(int repeat);
#trap
int media_size(int *rect);
#trap
int media_setvol(int volume);

// ---- keyboard, joystick, mouse and cursor ----
#trap
int getkey(char *key_states256);
#trap
int getjoy(int joystick, void *joy_state);
#trap
int getmouse(void *mouse_state);
#trap
int getpoint(void *point_state);
#trap
int cur_set(int visible);
#trap
int cur_clip(int *rect);
#trap
int cur_setpos(int x, int y);

// ---- clock and frame counter ----
#trap
int getcount(int counter);
#trap
int setcount(int counter, int value);
#trap
int gettime(void *time16);
#trap
int fps();

// ---- regular expressions ----
#trap
int reg_new(char *pattern, int options);
#trap
int reg_free(int expression);
#trap
int reg_search(int expression, char *text, int length, int start, int range, int region, int options);
#trap
int reg_match(int expression, char *text, int length, int position, int region, int options);
#trap
int match_new();
#trap
int match_free(int region);
#trap
int match_clear(int region);

// ---- packed files, script file input/output, system files ----
#trap
int pack_save(char *path, void *data, int size);
#trap
int pack_open(char *path);
#trap
int pack_close(int handle);
#trap
int pack_read(int handle, void *buffer, int count);
#trap
int pack_seek(int handle, int offset, int origin);
#trap
int pack_size(int handle);
#trap
int fopen(char *path, char *mode);
#trap
int fclose(int stream);
#trap
int fread(void *buffer, int item_size, int item_count, int stream);
#trap
int fwrite(void *buffer, int item_size, int item_count, int stream);
#trap
int fseek(int stream, int offset, int origin);
#trap
int ftell(int stream);
#trap
char *fgets(char *buffer, int size, int stream);
#trap
int fputs(char *text, int stream);
#trap
int sysfile(char *path, void *block, int size);
#trap
int sysio(int direction);
#trap
void *mload(char *path, int offset, int size);

// ---- memory ----
#trap
void *malloc(int size);
#trap
void *realloc(void *block, int size);
#trap
int free(void *block);
#trap
void *memcpy(void *destination, void *source, int count);
#trap
void *memmove(void *destination, void *source, int count);
#trap
void *memset(void *block, int value, int count);
#trap
int memcmp(void *a, void *b, int count);
#trap
int memswap(void *a, void *b, int count);

// ---- numbers, interpolation, keyframes and noise ----
#trap
int srand(int seed);
#trap
int rand();
#trap
int abs(int n);
#trap
int sgn(int n);
#trap
int tsin(int angle);
#trap
int tcos(int angle);
#trap
int tatan(int x, int y);
#trap
float random();
#trap
float fabs(float x);
#trap
float sqrt(float x);
#trap
float pow(float x, float y);
#trap
float log(float x);
#trap
float exp(float x);
#trap
float floor(float x);
#trap
float ceil(float x);
#trap
float sin(float radians);
#trap
float cos(float radians);
#trap
float tan(float radians);
#trap
float asin(float x);
#trap
float acos(float x);
#trap
float atan(float y, float x);
#trap
int ftoa(char *buffer, float value);
#trap
int perlin_init(int octaves, float persistence);
#trap
float perlin_noise(float x, float y, float z);
#trap
float bezier(float a, float b, float c, float t);
#trap
float neville(float a, float b, float c, float t);
#trap
float linear(float a, float b, float t);
#trap
int kf_setkey(void *key, float time, float value);
#trap
int kf_calc(void *keys, int count);
#trap
int kf_getindex(void *keys, int count, float x);
#trap
float kf_getkey(void *keys, int count, float x, int mode);

// ---- file search ----
#trap
int find_first(char *pattern, void *find_data);
#trap
int find_next(int handle, void *find_data);
#trap
int find_close(int handle);

// ---- rectangles ----
#trap
int rc_empty(int *rect);
#trap
int rc_set(int *rect, int left, int top, int right, int bottom);
#trap
int rc_setwh(int *rect, int x, int y, int width, int height);
#trap
int rc_copy(int *destination, int *source);
#trap
int rc_move(int *rect, int dx, int dy);
#trap
int rc_intersect(int *destination, int *a, int *b);
#trap
int rc_union(int *destination, int *a, int *b);
#trap
int rc_inflate(int *rect, int dx, int dy);
#trap
int rc_in(int *rect, int x, int y);
#trap
int rc_check(int *rect);

// ---- strings and hashing ----
#trap
int strlen(char *text);
#trap
int strclen(char *text);
#trap
char *strcpy(char *destination, char *source);
#trap
char *strncpy(char *destination, char *source, int count);
#trap
char *strcat(char *destination, char *source);
#trap
int strcmp(char *a, char *b);
#trap
int strcmpi(char *a, char *b);
#trap
char *strlwr(char *text);
#trap
char *strupr(char *text);
#trap
char *strchr(char *text, int character);
#trap
char *strtok(char *text, char *delimiters);
#trap
int strcspn(char *text, char *set);
#trap
int strspn(char *text, char *set);
#trap
char *strstr(char *text, char *wanted);
#trap
char *strpbrk(char *text, char *set);
#trap
char *strdup(char *text);
#trap
char *strndup(char *text, int count);
#trap
int strtol(char *text, char **end, int base);
#trap
unsigned strtoul(char *text, char **end, int base);
#trap
float strtof(char *text, char **end);
#trap
int sprintf(char *buffer, char *format);
#trap
int splitpath(char *path, char *drive, char *dir, char *name, char *ext);
#trap
int makepath(char *path, char *drive, char *dir, char *name, char *ext);
#trap
int hash32(char *text);

// ---- directories, files and system ----
#trap
int dir_getpath(int folder, char *buffer260);
#trap
int dir_getcur(char *buffer260);
#trap
int dir_setcur(char *path);
#trap
int dir_create(char *path);
#trap
int dir_delete(char *path);
#trap
int file_copy(char *source, char *destination, int fail_if_exists);
#trap
int file_move(char *source, char *destination);
#trap
int file_delete(char *path);
#trap
int file_size(char *path);
#trap
int file_check(char *path);
#trap
int file_getattr(char *path);
#trap
int file_setattr(char *path, int attributes);
#trap
int file_gettime(char *path, void *created, void *accessed, void *written);
#trap
int file_settime(char *path, void *created, void *accessed, void *written);
#trap
int wallpaper(char *image_path, int style);
#trap
int shell(char *verb, char *file, char *parameters);
#trap
int exec(char *command_line);
#trap
int getsystem(char *name);
#trap
int setsystem(char *name, int value);
#trap
int mbox(int type, char *caption, char *text);
#trap
int caption(char *text);

// ---- image filters ----
#trap
int freemap(int dest_slot, int *four_points, int src_slot, int *src_rect, int key);
#trap
int smooth(int dest_slot, int *dest_rect, int src_slot, int *src_rect, int key);
#trap
int rotate(int dest_slot, int *dest_rect, int src_slot, int *src_rect, int angle, int key);
#trap
int tiled(int dest_slot, int *dest_rect, int src_slot, int *src_rect, int angle, int zoom);
#trap
int scroll(int slot, int *rect, int dx, int dy);
#trap
int noise(int slot, int *rect, int amount);
#trap
int slice(int slot, int *rect, int amount);
#trap
int gradation(int dest_slot, int x, int y, int src_slot, int *src_rect);
#trap
int mosaic(int dest_slot, int x, int y, int src_slot, int *src_rect, int block_width, int block_height);
#trap
int monotone(int slot, int *rect, int dark_colour, int light_colour);
#trap
int blur(int dest_slot, int x, int y, int src_slot, int *src_rect, int radius);
#trap
int fire(int slot, int *rect);

// ---- animated mesh effects ----
#trap
int ef_init(int effect, int dest_slot, int *dest_rect, int src_slot, int *src_rect);
#trap
int ef_free(int effect);
#trap
int ef_copy(int effect);
#trap
int ef_info(int effect, int *three_values);
#trap
int ef_rotate(int effect, int center_x, int center_y, int scale, int angle);
#trap
int ef_tunnel(int effect, int depth, int angle, int offset);
#trap
int ef_land(int effect, int scale, int angle1, int angle2, int height);
#trap
int ef_ball(int effect, int scale, int angle1, int angle2, int distance);
#trap
int ef_whirl(int effect, int twist);
#trap
int ef_raster(int effect, int phase, int wavelength, int amplitude);
#trap
int ef_blob(int effect, int x, int y, int radius, int depth);
#trap
int ef_water(int effect, int damping);
#trap
int ef_clear(int effect);
#trap
int ef_lens(int effect, int x, int y, int radius, int strength);

// ---- key buffer ----
#trap
int key_init();
#trap
int key_get();

// ---- clipboard ----
#trap
int clip_write(char *text);
#trap
int clip_read(char *buffer, int size);

// ---- networking ----
#trap
int net_open(char *host, int port);
#trap
int net_close();
#trap
int net_send(int client, void *data, int length);
#trap
int net_recv(int client, void *buffer, int length);
#trap
int net_state();

// ---- checksums ----
#trap
int crc16(void *data, int length);
#trap
int crc32(void *data, int length);

// ---- DLL calls ----
#trap
int dll_load(char *module_name);
#trap
int dll_unload(int module);
#trap
int dll_proc(int module, char *function_name);
#trap
int dll_call(int function);

// ---- debug log ----
#trap
int log_clear();
#trap
int log_out(char *format);

// ---- records the runtime shares with scripts ----
// Structures are packed: every field follows the previous one directly.

// Blend mode of gcopy, gblit, gblita and sprites (12 bytes).
struct BlendMode {
  char mode;       // 0 copy ... 5 alpha layering ... 12
  char op;         // blend operator (modes 4, 6, 11, 12) or channel selectors (mode 9)
  char opacity;    // 0..255 (as a char: 255 is written as -1 or 255)
  char extra;      // strength, window width or softness, by mode
  int param1;      // colour key (modes 1, 2), write mask (mode 9)
  int param2;      // colour (modes 6, 11, 12)
};

// A sprite as sp_set returns it (144 bytes). Change fields, then set bit 0
// of flags (or call sp_redraw) and sp_draw redraws it.
struct Sprite {
  char state;            // 0 free, 1 hidden, 2 shown
  char layer;            // 0..31
  short flags;           // bit 0 changed, bit 4 smoothing, bit 15 on the page
  char mirror_x;
  char mirror_y;
  char shift;            // x and y have this many fraction bits
  char reserved0;
  int z;                 // second key of sp_sort
  int plane;             // source plane slot
  int x;                 // position (relative to the parent when linked)
  int y;
  int pivot_x;           // source point placed at (x, y)
  int pivot_y;
  int scale_x;           // 16.16, 0x10000 = 1
  int scale_y;
  int effective_scale_x; // computed by sp_draw
  int effective_scale_y;
  short angle;           // 1/2048 turn
  short effective_angle; // computed
  int source[4];         // left, top, right, bottom within the plane
  struct BlendMode blend;
  int bounds[4];         // computed: bounding box on the page
  int box[4];            // computed: unrotated box on the page
  int child_count;
  int children;
  int parent;
  int previous;
  int next;
  int hit_areas;
  int covered;
  int reserved1;
};

// A hit area as hit_set returns it (44 bytes).
struct HitArea {
  int layer;
  int mask;              // layers tested by hit_check; 0 makes it inert
  int rect[4];           // relative to its sprite's position when attached
  int sprite;
  int value;             // free for the script
  int previous;
  int next;
  int next_of_sprite;
};
