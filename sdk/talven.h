// talven.h: the builtin functions of the talven runtime, for game scripts.
//
// Include it once at the top of every script:   #include "talven.h"
//
// The runtime carries a copy of this file: a game needs its own talven.h
// only to change it (a file of the game always wins).
//
// Each #trap line gives the declaration after it the next builtin number,
// and its comment says in short what the builtin does and returns; the
// declarations must stay in this order and none may be removed. Add your
// own functions after the include, never between these lines.
//
// After the builtins come the records the runtime shares with scripts
// (struct Sprite, struct FontRecord...), named constants for them and for
// text colours, and the key codes of getkey (VK_LEFT, DIK_SPACE...). A game
// may define any of these macro names itself: its definition is used.
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
#trap  // replace the calling script by the script file; 0 if it does not load
int jump(char *script_name);
#trap  // run the script file to its end on this thread; its result
int call(char *script_name);
#trap  // stop every script and close the program
int exit();
#trap  // save the script's state in a 64-byte buffer; 0, or longjmp's value
int setjmp(void *buffer64);
#trap  // return again from the setjmp that filled the buffer, with value
int longjmp(void *buffer64, int value);
#trap  // start function(argument) on a new script thread; thread number or -1
int thd_begin(int (*function)(), int argument, int start_suspended, int stack_size);
#trap  // end a thread; 1 once it has ended, 0 for no such thread
int thd_end(int thread);
#trap  // suspend a thread; the new suspend count or -1
int thd_suspend(int thread);
#trap  // resume a thread; the new suspend count, -1 for no such thread
int thd_resume(int thread);
#trap  // let other threads run for about this many milliseconds; 1
int sleep(int milliseconds);

// ---- configuration values ----
#trap  // write an integer key to an INI file
int ini_seti(char *section, char *key, int value, char *file);
#trap  // write a text key to an INI file
int ini_sets(char *section, char *key, char *text, char *file);
#trap  // read an integer key of an INI file, or the default
int ini_geti(char *section, char *key, int default_value, char *file);
#trap  // read a text key of an INI file into the buffer; characters copied
int ini_gets(char *section, char *key, char *default_text, char *buffer, int buffer_size, char *file);

// ---- palettes ----
#trap  // rebuild the colour lookup for 8-bit planes from a 256-entry palette
int pal_map(int *palette256);
#trap  // copy entries of a plane's colour table into the script palette
int pal_load(int slot, int palette_index, int first, int count);
#trap  // set one script palette entry (0xRRGGBB); 1, 0 outside 0..255
int pal_set(int index, int colour);
#trap  // one script palette entry
int pal_get(int index);
#trap  // copy an array into the script palette
int pal_sets(int first, int count, int *source);
#trap  // copy the script palette into an array
int pal_gets(int first, int count, int *destination);
#trap  // make the script palette the display palette
int pal_change();

// ---- pixels, colours and planes ----
#trap  // colour of one pixel of a plane
int getpixel(int slot, int x, int y);
#trap  // HSV value of a 0xRRGGBB colour
int rgbtohsv(int colour);
#trap  // 0xRRGGBB colour of an HSV value
int hsvtorgb(int hsv);
#trap  // set a plane's clip rectangle (0: the whole plane)
int gclip(int slot, int *rect);
#trap  // free every plane but the view and active pages
int ginit();
#trap  // create a plane of width x height at 1, 4, 8, 16, 24 or 32 bits
int galloc(int slot, int width, int height, int bits_per_pixel);
#trap  // free a plane (not the view or active page)
int gfree(int slot);
#trap  // load a BMP, PNG or JPEG file into a plane
int gload(int slot, char *path);
#trap  // save a plane or part of it as BMP, PNG or JPEG by the name's extension
int gsave(char *path, int slot, int *rect);
#trap  // copy a plane rectangle to (x, y) with a blend mode
int gcopy(int dest_slot, int x, int y, int src_slot, int *src_rect, void *blend);
#trap  // stretch and rotate a plane rectangle into a rectangle with a blend mode
int gblit(int dest_slot, int *dest_rect, int src_slot, int *src_rect, void *blend, int angle);
#trap  // as gblit, with smoothing
int gblita(int dest_slot, int *dest_rect, int src_slot, int *src_rect, void *blend, int angle);
#trap  // fill a rectangle with a 0xAARRGGBB colour
int gclear(int slot, int *rect, int argb);
#trap  // fill x, y, width, height with a 0xAARRGGBB colour
int gfill(int slot, int x, int y, int width, int height, int argb);
#trap  // draw a line with a 0xAARRGGBB colour
int gline(int slot, int x1, int y1, int x2, int y2, int argb);
#trap  // fill a polygon given as x, y pairs
int gpoly(int slot, int *points, int count, int argb);
#trap  // use mask_slot's plane as the alpha of slot's plane
int gattach(int slot, int mask_slot);
#trap  // remove a plane's mask
int gdetach(int slot);
#trap  // read entries of a plane's colour table
int ggetpal(int slot, int first, int count, int *destination);
#trap  // write entries of a plane's colour table
int gsetpal(int slot, int first, int count, int *source);
#trap  // width, height, bits, pitch, pixel and palette addresses of a plane
int ginfo(int slot, int *six_values);
#trap  // apply a difference image file to a plane at (x, y)
int dload(int slot, int x, int y, char *path, int *rect);
#trap  // apply a difference image held in memory to a plane at (x, y)
int dcopy(int slot, int x, int y, void *diff_image, int *rect);

// ---- 3D renderer ----
#trap  // address of a plane, for texture fields of material records
int p3d_tex(int slot);
#trap  // start the 3D renderer drawing into a plane with this projection
int p3d_init(int target_slot, float focal_length, float near_plane, float far_plane);
#trap  // free the renderer's depth buffer and all models
int p3d_uninit();
#trap  // load a model file; the model's address or 0
int p3d_load(char *path);
#trap  // free a model
int p3d_free(int model);
#trap  // recompute a model's normals
int p3d_normal(int model);
#trap  // clear the depth buffer and the queued triangles and lights
int p3d_clear();
#trap  // set the camera position (3 floats) and angles (3 ints)
int p3d_view(float *camera_position, int *camera_angles);
#trap  // set the ambient light colour
int p3d_env(float red, float green, float blue);
#trap  // add a directional (angles a, b) or point light (position a, b, c)
int p3d_light(void *light, int a, int b, int c);
#trap  // give a group of a model's faces a material record
int p3d_material(int model, int group, void *material);
#trap  // place a model and queue its visible triangles
int p3d_setobj(int model, float *position, int *angles);
#trap  // draw the queued triangles into the target plane
int p3d_render();

// ---- sprites and hit areas ----
#trap  // set the flags new sprites start with; the previous flags
int sp_flag(int flags);
#trap  // take off every sprite of the layers (-1: reset everything)
int sp_init(int layer_mask);
#trap  // set the background plane under all layers; the previous one
int sp_setbg(int slot);
#trap  // the background plane slot
int sp_getbg();
#trap  // mark every sprite of the layers changed
int sp_redraw(int layer_mask);
#trap  // create a sprite showing a plane rectangle; its address or 0
int sp_set(int layer, int state, int x, int y, int slot, int *src_rect, void *blend);
#trap  // take a sprite off, with its children and hit areas
int sp_reset(int sprite);
#trap  // make child follow parent's transform; 0 for a cycle
int sp_link(int parent, int child);
#trap  // detach a sprite from its parent
int sp_unlink(int sprite);
#trap  // compose the layers onto the active page; rect gets the changed area
int sp_draw(int layer_mask, int *rect);
#trap  // set the background's origin
int sp_bgorg(int x, int y);
#trap  // set the origin of each selected layer
int sp_org(int layer_mask, int x, int y);
#trap  // sort the layers' sprites by y (bit 0) and/or z (bit 1)
int sp_sort(int layer_mask, int keys);
#trap  // the sprite's unrotated box on the page
int sp_rect(int sprite, int *rect);
#trap  // remove every hit area of the layers
int hit_init(int layer_mask);
#trap  // create a hit area, attached to a sprite or not; its address or 0
int hit_set(int layer, int mask, int sprite, int *rect, int value);
#trap  // remove a hit area
int hit_reset(int hit_area);
#trap  // the first hit area of its mask's layers that overlaps it, or 0
int hit_check(int hit_area);
#trap  // the first hit area of the layers overlapping a rectangle, or 0
int hit_rect(int *rect, int layer_mask);
#trap  // the first hit area of the layers containing a point, or 0
int hit_point(int x, int y, int layer_mask);

// ---- pages and presentation ----
#trap  // set the offset of the view page in the window
int setorg(int x, int y);
#trap  // choose the plane shown in the window
int vpage(int slot);
#trap  // choose the plane that sprites and text are drawn onto
int apage(int slot);
#trap  // present the view page (rect: only that part; 0: all)
int update(int *rect);

// ---- fonts and text ----
#trap  // names of installed fonts, 32 bytes each; their number
int font_list(char *names32, int capacity);
#trap  // choose the calling thread's font slot (0..31)
int font_use(int font);
#trap  // set a font slot from a 48-byte font record
int font_set(int font, void *font_desc);
#trap  // copy a font slot's record out
int font_get(int font, void *font_desc);
#trap  // A, B and C widths of a character, relative to the height
int font_abc(int font, int character, float *abc_widths);
#trap  // kerning of a character pair, relative to the height
int font_kern(int font, int pair, float *kerning);
#trap  // draw text with the thread's current font; 1 when drawn
int gtext(int slot, int x, int y, int colour, char *text);
#trap  // draw formatted text (like sprintf) with the current font
int gtextf(int slot, int x, int y, int colour, char *format);
// The colour word of gtext and gtextf holds palette indexes, not RGB: bits
// 0-7 the text colour and bits 8-15 the background colour, entries of the
// display palette (pal_set, then pal_change). The background is painted
// only with bit 30 (TEXT_OPAQUE); bit 31 (TEXT_HARD_EDGES) gives smoothed
// text on 32-bit planes hard edges. TEXT_COLOUR(text, background) builds
// the low bits:
//   pal_set(1, 0xFFFFFF); pal_set(2, 0x203050); pal_change();
//   gtext(0, 10, 6, TEXT_COLOUR(1, 2) | TEXT_OPAQUE, "Score 10");

// ---- dirty rectangles ----
#trap  // empty the dirty-rectangle list
int drt_init();
#trap  // add a rectangle to the dirty list
int drt_set(int *rect);
#trap  // copy only the dirty parts of a plane to (x, y); empties the list
int drt_copy(int dest_slot, int x, int y, int src_slot, int *src_rect);

// ---- MIDI music ----
#trap  // load a MIDI file as the music
int midi_load(char *path);
#trap  // free the music
int midi_free();
#trap  // start the music
int midi_play(int unused);
#trap  // stop the music
int midi_stop(int unused);
#trap  // pause the music
int midi_pause();
#trap  // resume paused music
int midi_replay();
#trap  // set the music volume (0..100)
int midi_setvol(int volume);
#trap  // the music volume
int midi_getvol();
#trap  // 1 while the music plays
int midi_isplay();
#trap  // the music position in milliseconds
int midi_getpos();
#trap  // play the music in a loop (1) or once (0)
int midi_repeat(int repeat);

// ---- sound buffers and effects ----
#trap  // load a WAV or Ogg file into a sound slot (0..63)
int snd_load(int sound, char *path);
#trap  // load a WAV or Ogg file into a slot as a stream
int snd_loads(int sound, char *path);
#trap  // stop and free a sound slot (-1: all)
int snd_free(int sound);
#trap  // play a sound, looping when loop is 1
int snd_play(int sound, int loop);
#trap  // stop a sound and rewind it (-1: all)
int snd_stop(int sound);
#trap  // pause a sound
int snd_pause(int sound);
#trap  // resume a paused sound
int snd_replay(int sound);
#trap  // set a slot's volume 0..100 (-1: master); 0 when accepted
int snd_setvol(int sound, int volume);
#trap  // a sound's volume
int snd_getvol(int sound);
#trap  // set a slot's pan -100..100 (-1: master); 0 when accepted
int snd_setpan(int sound, int pan);
#trap  // a sound's pan
int snd_getpan(int sound);
#trap  // set a slot's playback rate; 0 when accepted
int snd_setfreq(int sound, int samples_per_second);
#trap  // a sound's playback rate
int snd_getfreq(int sound);
#trap  // 1 while a sound plays
int snd_isplay(int sound);
#trap  // a stream's loop start point in milliseconds
int snd_setloop(int sound, int loop_start_ms);
#trap  // move a sound's play position, in milliseconds
int snd_setpos(int sound, int position_ms);
#trap  // a sound's play position in milliseconds
int snd_getpos(int sound);
#trap  // a sound's length in milliseconds
int snd_getlen(int sound);
#trap  // copy an Ogg sound's COMMENT tag into the buffer
int snd_gettext(int sound, char *comment_buffer);
#trap  // set the margin of later static loads, in milliseconds
int snd_setmargin(int margin_ms);
#trap  // chorus effect on a sound (params: record or 0 to remove)
int snd_setchorus(int sound, void *params);
#trap  // compressor effect on a sound
int snd_setcompressor(int sound, void *params);
#trap  // distortion effect on a sound
int snd_setdistortion(int sound, void *params);
#trap  // echo effect on a sound
int snd_setecho(int sound, void *params);
#trap  // flanger effect on a sound
int snd_setflanger(int sound, void *params);
#trap  // gargle effect on a sound
int snd_setgargle(int sound, void *params);
#trap  // parametric equaliser on a sound
int snd_setparameq(int sound, void *params);
#trap  // reverb effect on a sound
int snd_setreverb(int sound, void *params);

// ---- CD audio ----
#trap  // play a CD audio track, fading in
int cd_play(int track, int fade_in_ms);
#trap  // stop CD audio, fading out
int cd_stop(int fade_out_ms);
#trap  // pause CD audio
int cd_pause();
#trap  // resume paused CD audio
int cd_replay();
#trap  // set the CD audio volume (0..100)
int cd_setvol(int volume);
#trap  // the CD audio volume
int cd_getvol();
#trap  // 1 while CD audio plays
int cd_isplay();
#trap  // the CD audio position in seconds (kind 0..3)
int cd_getpos(int kind);
#trap  // a track's length
int cd_getlen(int track);
#trap  // set how CD audio repeats (0..3); the previous mode
int cd_repeat(int mode);
#trap  // open the CD drive
int cd_eject();

// ---- video and media ----
#trap  // open a video or media file
int media_open(char *path);
#trap  // close the media file
int media_close();
#trap  // play the media file
int media_play();
#trap  // stop the media file
int media_stop();
#trap  // pause the media file
int media_pause();
#trap  // resume paused media
int media_replay();
#trap  // 1 while media plays
int media_isplay();
#trap  // play media in a loop (1) or once (0)
int media_repeat(int repeat);
#trap  // where the video is shown (0: the whole screen)
int media_size(int *rect);
#trap  // set the media volume (0..100)
int media_setvol(int volume);

// ---- keyboard, joystick, mouse and cursor ----
#trap  // state of all 256 keys; 1
int getkey(char *key_states256);
#trap  // state of a joystick
int getjoy(int joystick, void *joy_state);
#trap  // position and buttons of the mouse
int getmouse(void *mouse_state);
#trap  // pointer position in screen coordinates and buttons
int getpoint(void *point_state);
#trap  // show (1) or hide (0) the mouse cursor
int cur_set(int visible);
#trap  // keep the cursor inside a rectangle (0: free)
int cur_clip(int *rect);
#trap  // move the cursor
int cur_setpos(int x, int y);

// ---- clock and frame counter ----
#trap  // milliseconds since counter 0..255 was set
int getcount(int counter);
#trap  // set counter 0..255 to a value in milliseconds
int setcount(int counter, int value);
#trap  // local date and time as eight 16-bit fields
int gettime(void *time16);
#trap  // count a frame; the frames counted in the last whole second
int fps();

// ---- regular expressions ----
#trap  // compile a regular expression; a handle or 0
int reg_new(char *pattern, int options);
#trap  // free a regular expression
int reg_free(int expression);
#trap  // search text for the expression; the match offset or negative
int reg_search(int expression, char *text, int length, int start, int range, int region, int options);
#trap  // match the expression at a position; the match length or negative
int reg_match(int expression, char *text, int length, int position, int region, int options);
#trap  // a new match region; a handle or 0
int match_new();
#trap  // free a match region
int match_free(int region);
#trap  // empty a match region
int match_clear(int region);

// ---- packed files, script file input/output, system files ----
#trap  // write data to a file in the compressed form
int pack_save(char *path, void *data, int size);
#trap  // open a data file (loose, archived or compressed); handle 1..16 or 0
int pack_open(char *path);
#trap  // close a data file handle
int pack_close(int handle);
#trap  // read bytes from a data file; the number read or -1
int pack_read(int handle, void *buffer, int count);
#trap  // move in a data file (origin 0 start, 1 current, 2 end)
int pack_seek(int handle, int offset, int origin);
#trap  // size of a data file
int pack_size(int handle);
#trap  // open a file for reading or writing (C library modes)
int fopen(char *path, char *mode);
#trap  // close a file
int fclose(int stream);
#trap  // read items from a file
int fread(void *buffer, int item_size, int item_count, int stream);
#trap  // write items to a file
int fwrite(void *buffer, int item_size, int item_count, int stream);
#trap  // move in a file; 0 on success
int fseek(int stream, int offset, int origin);
#trap  // position in a file
int ftell(int stream);
#trap  // read a line into the buffer; the buffer, or 0 at the end
char *fgets(char *buffer, int size, int stream);
#trap  // write text to a file
int fputs(char *text, int stream);
#trap  // read the save-data file into a block and bind it; 1 when it existed
int sysfile(char *path, void *block, int size);
#trap  // read (0) or write (1) the bound save-data file
int sysio(int direction);
#trap  // read part of a data file into new memory; its address or 0
void *mload(char *path, int offset, int size);

// ---- memory ----
#trap  // allocate script memory; its address or 0
void *malloc(int size);
#trap  // resize a block of script memory
void *realloc(void *block, int size);
#trap  // free a block of script memory
int free(void *block);
#trap  // copy count bytes
void *memcpy(void *destination, void *source, int count);
#trap  // copy count bytes; the blocks may overlap
void *memmove(void *destination, void *source, int count);
#trap  // fill count bytes with a value
void *memset(void *block, int value, int count);
#trap  // compare two blocks: negative, 0 or positive
int memcmp(void *a, void *b, int count);
#trap  // exchange two blocks
int memswap(void *a, void *b, int count);

// ---- numbers, interpolation, keyframes and noise ----
#trap  // seed the random generator (0: from the clock)
int srand(int seed);
#trap  // random number 0..2147483647
int rand();
#trap  // absolute value
int abs(int n);
#trap  // sign: -1, 0 or 1
int sgn(int n);
#trap  // sine table entry of an angle in 1/2048 turns
int tsin(int angle);
#trap  // cosine table entry of an angle in 1/2048 turns
int tcos(int angle);
#trap  // angle of the vector (x, y) in 1/2048 turns
int tatan(int x, int y);
#trap  // random float 0..1
float random();
#trap  // absolute value
float fabs(float x);
#trap  // square root
float sqrt(float x);
#trap  // x to the power y
float pow(float x, float y);
#trap  // natural logarithm
float log(float x);
#trap  // e to the power x
float exp(float x);
#trap  // largest whole number not above x
float floor(float x);
#trap  // smallest whole number not below x
float ceil(float x);
#trap  // sine
float sin(float radians);
#trap  // cosine
float cos(float radians);
#trap  // tangent
float tan(float radians);
#trap  // arc sine
float asin(float x);
#trap  // arc cosine
float acos(float x);
#trap  // angle of the vector (x, y) in radians
float atan(float y, float x);
#trap  // write a float with six decimals
int ftoa(char *buffer, float value);
#trap  // set the octaves and persistence of perlin_noise
int perlin_init(int octaves, float persistence);
#trap  // smooth noise at a point
float perlin_noise(float x, float y, float z);
#trap  // quadratic Bezier curve through a, b, c at t
float bezier(float a, float b, float c, float t);
#trap  // curve through a, b, c (at 0, 0.5, 1) at t
float neville(float a, float b, float c, float t);
#trap  // a + (b - a) * t
float linear(float a, float b, float t);
#trap  // set a KeyFrame's time and value
int kf_setkey(void *key, float time, float value);
#trap  // prepare an array of KeyFrames for kf_getkey
int kf_calc(void *keys, int count);
#trap  // index of the key before x, or -1
int kf_getindex(void *keys, int count, float x);
#trap  // value of the key-frame curve at x
float kf_getkey(void *keys, int count, float x, int mode);

// ---- file search ----
#trap  // start a search for files matching a pattern; a handle or -1
int find_first(char *pattern, void *find_data);
#trap  // the next file of a search
int find_next(int handle, void *find_data);
#trap  // end a file search
int find_close(int handle);

// ---- rectangles ----
#trap  // 1 when the rectangle is empty
int rc_empty(int *rect);
#trap  // set a rectangle from its edges
int rc_set(int *rect, int left, int top, int right, int bottom);
#trap  // set a rectangle from x, y, width and height
int rc_setwh(int *rect, int x, int y, int width, int height);
#trap  // copy a rectangle
int rc_copy(int *destination, int *source);
#trap  // move a rectangle
int rc_move(int *rect, int dx, int dy);
#trap  // intersection of two rectangles; 0 when empty
int rc_intersect(int *destination, int *a, int *b);
#trap  // smallest rectangle holding both
int rc_union(int *destination, int *a, int *b);
#trap  // grow a rectangle on each side
int rc_inflate(int *rect, int dx, int dy);
#trap  // 1 when the point lies inside
int rc_in(int *rect, int x, int y);
#trap  // put the edges of a rectangle in order
int rc_check(int *rect);

// ---- strings and hashing ----
#trap  // length in bytes
int strlen(char *text);
#trap  // length in characters (a double-byte character counts 1)
int strclen(char *text);
#trap  // copy a string
char *strcpy(char *destination, char *source);
#trap  // copy at most count bytes
char *strncpy(char *destination, char *source, int count);
#trap  // append a string
char *strcat(char *destination, char *source);
#trap  // compare strings: negative, 0 or positive
int strcmp(char *a, char *b);
#trap  // compare strings ignoring letter case
int strcmpi(char *a, char *b);
#trap  // to lower case in place
char *strlwr(char *text);
#trap  // to upper case in place
char *strupr(char *text);
#trap  // first occurrence of a character, or 0
char *strchr(char *text, int character);
#trap  // next token of a string split at delimiters
char *strtok(char *text, char *delimiters);
#trap  // length of the start holding none of the set
int strcspn(char *text, char *set);
#trap  // length of the start made only of the set
int strspn(char *text, char *set);
#trap  // first occurrence of a string, or 0
char *strstr(char *text, char *wanted);
#trap  // first character that is in the set, or 0
char *strpbrk(char *text, char *set);
#trap  // copy of a string in new memory
char *strdup(char *text);
#trap  // copy of at most count bytes in new memory
char *strndup(char *text, int count);
#trap  // text to a signed integer in a base
int strtol(char *text, char **end, int base);
#trap  // text to an unsigned integer in a base
unsigned strtoul(char *text, char **end, int base);
#trap  // text to a float
float strtof(char *text, char **end);
#trap  // format text like the C library; the bytes written
int sprintf(char *buffer, char *format);
#trap  // split a path into drive, folder, name and extension
int splitpath(char *path, char *drive, char *dir, char *name, char *ext);
#trap  // join drive, folder, name and extension
int makepath(char *path, char *drive, char *dir, char *name, char *ext);
#trap  // 32-bit hash of a string
int hash32(char *text);

// ---- directories, files and system ----
#trap  // path of a special folder (documents, ...)
int dir_getpath(int folder, char *buffer260);
#trap  // the current folder
int dir_getcur(char *buffer260);
#trap  // change the current folder
int dir_setcur(char *path);
#trap  // create a folder
int dir_create(char *path);
#trap  // delete an empty folder
int dir_delete(char *path);
#trap  // copy a file
int file_copy(char *source, char *destination, int fail_if_exists);
#trap  // move or rename a file
int file_move(char *source, char *destination);
#trap  // delete a file
int file_delete(char *path);
#trap  // size of the first file matching the path, 0 if none
int file_size(char *path);
#trap  // 1 when the file exists
int file_check(char *path);
#trap  // attributes of a file
int file_getattr(char *path);
#trap  // set the attributes of a file
int file_setattr(char *path, int attributes);
#trap  // creation, access and write times of a file
int file_gettime(char *path, void *created, void *accessed, void *written);
#trap  // set the times of a file
int file_settime(char *path, void *created, void *accessed, void *written);
#trap  // set the desktop wallpaper
int wallpaper(char *image_path, int style);
#trap  // open a file or address with its program
int shell(char *verb, char *file, char *parameters);
#trap  // run a program
int exec(char *command_line);
#trap  // value of a runtime setting by name
int getsystem(char *name);
#trap  // change a runtime setting by name
int setsystem(char *name, int value);
#trap  // show a message box; the button pressed
int mbox(int type, char *caption, char *text);
#trap  // set the window title
int caption(char *text);

// ---- image filters ----
#trap  // map a plane rectangle onto a quadrilateral
int freemap(int dest_slot, int *four_points, int src_slot, int *src_rect, int key);
#trap  // stretch a plane rectangle with smoothing
int smooth(int dest_slot, int *dest_rect, int src_slot, int *src_rect, int key);
#trap  // rotate a plane rectangle by an angle
int rotate(int dest_slot, int *dest_rect, int src_slot, int *src_rect, int angle, int key);
#trap  // fill a rectangle with a rotated, zoomed tiling of a plane
int tiled(int dest_slot, int *dest_rect, int src_slot, int *src_rect, int angle, int zoom);
#trap  // scroll a rectangle of a plane
int scroll(int slot, int *rect, int dx, int dy);
#trap  // add noise to a rectangle
int noise(int slot, int *rect, int amount);
#trap  // shift rows of a rectangle sideways at random
int slice(int slot, int *rect, int amount);
#trap  // copy softened: each pixel the mean of its four neighbours
int gradation(int dest_slot, int x, int y, int src_slot, int *src_rect);
#trap  // copy as blocks of one colour
int mosaic(int dest_slot, int x, int y, int src_slot, int *src_rect, int block_width, int block_height);
#trap  // map grey levels onto a ramp from dark to light (16 bits or more)
int monotone(int slot, int *rect, int dark_colour, int light_colour);
#trap  // copy box-blurred: radius > 0 along rows, < 0 down columns, 0 copies
int blur(int dest_slot, int x, int y, int src_slot, int *src_rect, int radius);
#trap  // one step of a fire animation in a rectangle
int fire(int slot, int *rect);

// ---- animated mesh effects ----
#trap  // create mesh effect 0..7 from a source onto a destination
int ef_init(int effect, int dest_slot, int *dest_rect, int src_slot, int *src_rect);
#trap  // free a mesh effect
int ef_free(int effect);
#trap  // draw a mesh effect into its destination
int ef_copy(int effect);
#trap  // columns, rows and mesh address of an effect
int ef_info(int effect, int *three_values);
#trap  // mesh: rotation and zoom about a centre
int ef_rotate(int effect, float center_x, float center_y, float scale, float radians);
#trap  // mesh: tunnel
int ef_tunnel(int effect, float depth, float radians, float offset);
#trap  // mesh: perspective floor
int ef_land(int effect, float scale, float radians1, float radians2, float height);
#trap  // mesh: sphere
int ef_ball(int effect, float scale, float radians1, float radians2, float distance);
#trap  // mesh: whirl about the centre
int ef_whirl(int effect, float twist);
#trap  // mesh: sideways sine wave per row
int ef_raster(int effect, float phase, float wavelength, float amplitude);
#trap  // add a round dent to the water surface
int ef_blob(int effect, float x, float y, float radius, float depth);
#trap  // advance the water simulation one step
int ef_water(int effect, float damping);
#trap  // mesh: identity
int ef_clear(int effect);
#trap  // mesh: push points away from a point (lens)
int ef_lens(int effect, float x, float y, float radius, float strength);

// ---- key buffer ----
#trap  // empty the typed-character buffer
int key_init();
#trap  // the oldest typed byte, or 0
int key_get();

// ---- clipboard ----
#trap  // put text on the clipboard
int clip_write(char *text);
#trap  // read text from the clipboard
int clip_read(char *buffer, int size);

// ---- networking ----
#trap  // start a link: client of host:port, or server on port (host 0)
int net_open(char *host, int port);
#trap  // close the network link
int net_close();
#trap  // send bytes
int net_send(int client, void *data, int length);
#trap  // receive bytes; the number received
int net_recv(int client, void *buffer, int length);
#trap  // state of the network link
int net_state();

// ---- checksums ----
#trap  // 16-bit CRC of a block
int crc16(void *data, int length);
#trap  // 32-bit CRC of a block
int crc32(void *data, int length);

// ---- DLL calls ----
#trap  // load a native library; a handle or 0
int dll_load(char *module_name);
#trap  // unload a native library
int dll_unload(int module);
#trap  // a function of a loaded library; a handle or 0
int dll_proc(int module, char *function_name);
#trap  // call a library function with the further arguments; its result
int dll_call(int function);

// ---- debug log ----
#trap  // empty the debug output window
int log_clear();
#trap  // formatted line to the debug output (like sprintf)
int log_out(char *format);

// ---- records the runtime shares with scripts ----
// Structures are packed: every field follows the previous one directly.

// Blend modes (BlendMode.mode; a null record means mode 0):
//   0 copy               the source replaces the destination
//   1 source key         copy where the source colour is not param1
//   2 destination key    copy where the destination colour is param1
//   3 constant alpha     mix source and destination by opacity
//   4 operator           op applied where the source alpha is above 0
//   5 alpha layering     source over destination by the source alpha
//   6 tinted layering    as 5, the source tinted towards param2 by extra
//   7 alpha window       copy where opacity <= alpha <= opacity + extra
//   8 threshold wipe     soft wipe along the source alpha (opacity, extra)
//   9 channel copy       op selects a source channel per destination channel
//  10 alpha transfer     destination alpha = source alpha x opacity
//  11 coverage colour    an 8-bit source is the coverage of colour param2
//  12 tinted grey        the source's grey, tinted by param2, layered as 5
//
// Sprite states (Sprite.state): 0 free, 1 hidden, 2 shown.
// Sprite flags (Sprite.flags; sp_flag sets those of new sprites):
//   bits 0-1 changed (sp_draw redraws it), bit 4 smoothing when scaled or
//   rotated, bit 13 removal pending, bit 14 partly covered, bit 15 on the
//   page (drawn and not yet erased).
// Layer masks (sp_init, sp_draw, hit_init, hit_rect, ...): bit n selects
// layer n (0..31); -1 selects all. A hit area's mask names the layers
// hit_check tests it against; 0 makes the area inert.

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

// Material of p3d_material (9 bytes): type 0 flat, 1 Gouraud, 2 Gouraud
// with doubled light, 3/4/5 the same three additive and two-sided, 6
// textured flat, 7 textured Gouraud, 8 the same with doubled light, 9 and
// 10 environment mapped (Gouraud; 10 with doubled light).
struct P3dMaterial {
  int color;             // 0xRRGGBB
  int texture;           // p3d_tex(slot), or 0
  char type;             // 0..10
};

// Light of p3d_light (17 bytes). Kind 0 is directional: p3d_light(&l, a, b,
// 0) with angles a (about y) and b (about x) in 1/2048 turn. Kind 1 is a
// point light: p3d_light(&l, x, y, z) with float world coordinates.
struct P3dLight {
  float red;             // 1.0 is full strength
  float green;
  float blue;
  float range;           // point lights: no light beyond this distance
  char kind;             // 0 directional, 1 point
};

// A font slot's record, for font_set and font_get (48 bytes). Fill it, pass
// its address to font_set, then font_use the slot before gtext. A slot never
// set draws with the face "Meiryo" at height 16.
struct FontRecord {
  char face[32];         // face name, zero-terminated (the game's fonts folder first)
  int height;            // pixels; negative: character height, positive: cell height; 0 is 16
  int angle;             // tenths of a degree
  int style;             // FONT_BOLD, FONT_ITALIC, FONT_UNDERLINE, FONT_STRIKEOUT, FONT_SMOOTH
  int weight;            // 100..900; 0 or less is 400; FONT_BOLD adds 300
};

// Style bits of FontRecord.style; FONT_SMOOTH draws with 256 levels of
// coverage (into 8-bit planes: the coverage itself, for blend mode 11).
#define FONT_BOLD 1
#define FONT_ITALIC 2
#define FONT_UNDERLINE 4
#define FONT_STRIKEOUT 8
#define FONT_SMOOTH 16

// The colour word of gtext and gtextf. Bits 0-7: the text colour, an index
// into the display palette (set entries with pal_set, then pal_change). Bits
// 8-15: the background colour, a palette index too, painted behind the text
// only with TEXT_OPAQUE (bit 30). TEXT_HARD_EDGES (bit 31): smoothed text on
// 32-bit planes gives every pixel it touches the full colour.
#define TEXT_COLOUR(text, background) (((text) & 255) | ((background) & 255) << 8)
#define TEXT_OPAQUE 0x40000000
#define TEXT_HARD_EDGES 0x80000000

// ---- key codes of getkey ----
// getkey fills 256 bytes, one per key: bit 7 is set while the key is down
// and bit 0 changes at each press. With DirectInput=0 in the [System]
// section (the default) the bytes are indexed by the VK_ codes, with
// DirectInput=1 by the DIK_ codes.

// Virtual-key codes (DirectInput=0). Letters and digits are their
// characters ('A', '0') and follow the keyboard layout; VK_OEM_ keys are
// named by their place on a US keyboard, and a Japanese keyboard reports
// some of those places with other VK_OEM_ codes. VK_SHIFT, VK_CONTROL and
// VK_MENU (Alt) are down while either key of the pair is; the VK_ mouse
// buttons are set too.
#define VK_LBUTTON 0x01
#define VK_RBUTTON 0x02
#define VK_MBUTTON 0x04
#define VK_XBUTTON1 0x05
#define VK_XBUTTON2 0x06
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_CLEAR 0x0C
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_PAUSE 0x13
#define VK_CAPITAL 0x14
#define VK_KANA 0x15
#define VK_KANJI 0x19
#define VK_ESCAPE 0x1B
#define VK_CONVERT 0x1C
#define VK_NONCONVERT 0x1D
#define VK_SPACE 0x20
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_SELECT 0x29
#define VK_EXECUTE 0x2B
#define VK_SNAPSHOT 0x2C
#define VK_INSERT 0x2D
#define VK_DELETE 0x2E
#define VK_HELP 0x2F
#define VK_0 0x30
#define VK_1 0x31
#define VK_2 0x32
#define VK_3 0x33
#define VK_4 0x34
#define VK_5 0x35
#define VK_6 0x36
#define VK_7 0x37
#define VK_8 0x38
#define VK_9 0x39
#define VK_A 0x41
#define VK_B 0x42
#define VK_C 0x43
#define VK_D 0x44
#define VK_E 0x45
#define VK_F 0x46
#define VK_G 0x47
#define VK_H 0x48
#define VK_I 0x49
#define VK_J 0x4A
#define VK_K 0x4B
#define VK_L 0x4C
#define VK_M 0x4D
#define VK_N 0x4E
#define VK_O 0x4F
#define VK_P 0x50
#define VK_Q 0x51
#define VK_R 0x52
#define VK_S 0x53
#define VK_T 0x54
#define VK_U 0x55
#define VK_V 0x56
#define VK_W 0x57
#define VK_X 0x58
#define VK_Y 0x59
#define VK_Z 0x5A
#define VK_LWIN 0x5B
#define VK_RWIN 0x5C
#define VK_APPS 0x5D
#define VK_SLEEP 0x5F
#define VK_NUMPAD0 0x60
#define VK_NUMPAD1 0x61
#define VK_NUMPAD2 0x62
#define VK_NUMPAD3 0x63
#define VK_NUMPAD4 0x64
#define VK_NUMPAD5 0x65
#define VK_NUMPAD6 0x66
#define VK_NUMPAD7 0x67
#define VK_NUMPAD8 0x68
#define VK_NUMPAD9 0x69
#define VK_MULTIPLY 0x6A
#define VK_ADD 0x6B
#define VK_SEPARATOR 0x6C
#define VK_SUBTRACT 0x6D
#define VK_DECIMAL 0x6E
#define VK_DIVIDE 0x6F
#define VK_F1 0x70
#define VK_F2 0x71
#define VK_F3 0x72
#define VK_F4 0x73
#define VK_F5 0x74
#define VK_F6 0x75
#define VK_F7 0x76
#define VK_F8 0x77
#define VK_F9 0x78
#define VK_F10 0x79
#define VK_F11 0x7A
#define VK_F12 0x7B
#define VK_F13 0x7C
#define VK_F14 0x7D
#define VK_F15 0x7E
#define VK_F16 0x7F
#define VK_F17 0x80
#define VK_F18 0x81
#define VK_F19 0x82
#define VK_F20 0x83
#define VK_F21 0x84
#define VK_F22 0x85
#define VK_F23 0x86
#define VK_F24 0x87
#define VK_NUMLOCK 0x90
#define VK_SCROLL 0x91
#define VK_OEM_NEC_EQUAL 0x92
#define VK_LSHIFT 0xA0
#define VK_RSHIFT 0xA1
#define VK_LCONTROL 0xA2
#define VK_RCONTROL 0xA3
#define VK_LMENU 0xA4
#define VK_RMENU 0xA5
#define VK_BROWSER_BACK 0xA6
#define VK_BROWSER_FORWARD 0xA7
#define VK_BROWSER_REFRESH 0xA8
#define VK_BROWSER_STOP 0xA9
#define VK_BROWSER_SEARCH 0xAA
#define VK_BROWSER_FAVORITES 0xAB
#define VK_BROWSER_HOME 0xAC
#define VK_VOLUME_MUTE 0xAD
#define VK_VOLUME_DOWN 0xAE
#define VK_VOLUME_UP 0xAF
#define VK_MEDIA_NEXT_TRACK 0xB0
#define VK_MEDIA_PREV_TRACK 0xB1
#define VK_MEDIA_STOP 0xB2
#define VK_MEDIA_PLAY_PAUSE 0xB3
#define VK_LAUNCH_MAIL 0xB4
#define VK_LAUNCH_MEDIA_SELECT 0xB5
#define VK_LAUNCH_APP1 0xB6
#define VK_LAUNCH_APP2 0xB7
#define VK_OEM_1 0xBA
#define VK_OEM_PLUS 0xBB
#define VK_OEM_COMMA 0xBC
#define VK_OEM_MINUS 0xBD
#define VK_OEM_PERIOD 0xBE
#define VK_OEM_2 0xBF
#define VK_OEM_3 0xC0
#define VK_OEM_4 0xDB
#define VK_OEM_5 0xDC
#define VK_OEM_6 0xDD
#define VK_OEM_7 0xDE
#define VK_OEM_102 0xE2
#define VK_OEM_AUTO 0xF3

// Scan codes (DirectInput=1) name the key's place on the keyboard. A
// Japanese keyboard reports DIK_CIRCUMFLEX, DIK_AT, DIK_COLON and DIK_KANJI
// at places where a US keyboard has other keys.
#define DIK_ESCAPE 0x01
#define DIK_1 0x02
#define DIK_2 0x03
#define DIK_3 0x04
#define DIK_4 0x05
#define DIK_5 0x06
#define DIK_6 0x07
#define DIK_7 0x08
#define DIK_8 0x09
#define DIK_9 0x0A
#define DIK_0 0x0B
#define DIK_MINUS 0x0C
#define DIK_EQUALS 0x0D
#define DIK_BACK 0x0E
#define DIK_TAB 0x0F
#define DIK_Q 0x10
#define DIK_W 0x11
#define DIK_E 0x12
#define DIK_R 0x13
#define DIK_T 0x14
#define DIK_Y 0x15
#define DIK_U 0x16
#define DIK_I 0x17
#define DIK_O 0x18
#define DIK_P 0x19
#define DIK_LBRACKET 0x1A
#define DIK_RBRACKET 0x1B
#define DIK_RETURN 0x1C
#define DIK_LCONTROL 0x1D
#define DIK_A 0x1E
#define DIK_S 0x1F
#define DIK_D 0x20
#define DIK_F 0x21
#define DIK_G 0x22
#define DIK_H 0x23
#define DIK_J 0x24
#define DIK_K 0x25
#define DIK_L 0x26
#define DIK_SEMICOLON 0x27
#define DIK_APOSTROPHE 0x28
#define DIK_GRAVE 0x29
#define DIK_LSHIFT 0x2A
#define DIK_BACKSLASH 0x2B
#define DIK_Z 0x2C
#define DIK_X 0x2D
#define DIK_C 0x2E
#define DIK_V 0x2F
#define DIK_B 0x30
#define DIK_N 0x31
#define DIK_M 0x32
#define DIK_COMMA 0x33
#define DIK_PERIOD 0x34
#define DIK_SLASH 0x35
#define DIK_RSHIFT 0x36
#define DIK_MULTIPLY 0x37
#define DIK_LMENU 0x38
#define DIK_SPACE 0x39
#define DIK_CAPITAL 0x3A
#define DIK_F1 0x3B
#define DIK_F2 0x3C
#define DIK_F3 0x3D
#define DIK_F4 0x3E
#define DIK_F5 0x3F
#define DIK_F6 0x40
#define DIK_F7 0x41
#define DIK_F8 0x42
#define DIK_F9 0x43
#define DIK_F10 0x44
#define DIK_NUMLOCK 0x45
#define DIK_SCROLL 0x46
#define DIK_NUMPAD7 0x47
#define DIK_NUMPAD8 0x48
#define DIK_NUMPAD9 0x49
#define DIK_SUBTRACT 0x4A
#define DIK_NUMPAD4 0x4B
#define DIK_NUMPAD5 0x4C
#define DIK_NUMPAD6 0x4D
#define DIK_ADD 0x4E
#define DIK_NUMPAD1 0x4F
#define DIK_NUMPAD2 0x50
#define DIK_NUMPAD3 0x51
#define DIK_NUMPAD0 0x52
#define DIK_DECIMAL 0x53
#define DIK_OEM_102 0x56
#define DIK_F11 0x57
#define DIK_F12 0x58
#define DIK_F13 0x64
#define DIK_F14 0x65
#define DIK_F15 0x66
#define DIK_KANA 0x70
#define DIK_ABNT_C1 0x73
#define DIK_CONVERT 0x79
#define DIK_NOCONVERT 0x7B
#define DIK_YEN 0x7D
#define DIK_NUMPADEQUALS 0x8D
#define DIK_PREVTRACK 0x90
#define DIK_CIRCUMFLEX 0x90
#define DIK_AT 0x91
#define DIK_COLON 0x92
#define DIK_KANJI 0x94
#define DIK_NEXTTRACK 0x99
#define DIK_NUMPADENTER 0x9C
#define DIK_RCONTROL 0x9D
#define DIK_MUTE 0xA0
#define DIK_CALCULATOR 0xA1
#define DIK_PLAYPAUSE 0xA2
#define DIK_MEDIASTOP 0xA4
#define DIK_VOLUMEDOWN 0xAE
#define DIK_VOLUMEUP 0xB0
#define DIK_WEBHOME 0xB2
#define DIK_NUMPADCOMMA 0xB3
#define DIK_DIVIDE 0xB5
#define DIK_SYSRQ 0xB7
#define DIK_RMENU 0xB8
#define DIK_PAUSE 0xC5
#define DIK_HOME 0xC7
#define DIK_UP 0xC8
#define DIK_PRIOR 0xC9
#define DIK_LEFT 0xCB
#define DIK_RIGHT 0xCD
#define DIK_END 0xCF
#define DIK_DOWN 0xD0
#define DIK_NEXT 0xD1
#define DIK_INSERT 0xD2
#define DIK_DELETE 0xD3
#define DIK_LWIN 0xDB
#define DIK_RWIN 0xDC
#define DIK_APPS 0xDD
#define DIK_POWER 0xDE
#define DIK_SLEEP 0xDF
#define DIK_WEBSEARCH 0xE5
#define DIK_WEBFAVORITES 0xE6
#define DIK_WEBREFRESH 0xE7
#define DIK_WEBSTOP 0xE8
#define DIK_WEBFORWARD 0xE9
#define DIK_WEBBACK 0xEA
#define DIK_MYCOMPUTER 0xEB
#define DIK_MAIL 0xEC
#define DIK_MEDIASELECT 0xED
