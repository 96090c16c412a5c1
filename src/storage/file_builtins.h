// File builtins: pack handles over data files, pack_save, mload, the stream
// builtins (fopen ... fputs) and the system file binding (sysfile, sysio).
//
// Scripts see only small numbers: pack handles 1..16 and stream handles
// 1..kStreamHandles, indexes into host tables, never host pointers. Paths
// are game paths; pack handles and mload read through the data file layer
// (archives and compressed files included), streams and the system file use
// the real file system through the game path layer.
//
// Save data is replaced whole or not at all: sysio(1), the save at
// shut-down and pack_save write a temporary file beside the target and
// rename it over the old one, so a crash, a kill or a full disk in the
// middle leaves the previous file intact.
//
// Failure values when an argument does not fit (a bad address, a buffer or
// count outside valid script memory, an unknown handle):
//
//   pack_save, pack_open, mload, fopen,
//   fread, fwrite, fgets, sysfile, sysio    0
//   pack_close                              0 for a number outside 1..16
//   pack_read, pack_seek, pack_size         -1
//   fclose, fseek, ftell, fputs             -1
//
// Streams opened without 'b' are text streams, as the games' own platform
// made them: LF is written as CR LF, CR LF reads as LF and Ctrl-Z ends the
// text; positions (ftell, fseek) are byte offsets in the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/address_space.h"

namespace talven::storage {

constexpr int kPackHandles = 16;
constexpr int kStreamHandles = 64;
constexpr std::size_t kMaxSystemFilePath = 259;

// ---- pack handles --------------------------------------------------------------
int pack_open(std::string_view path);  // 1..16, or 0
int pack_close(int handle);            // 1, or 0 outside 1..16
// Bytes read into buffer, or -1.
std::int64_t pack_read(int handle, void* buffer, std::size_t count);
std::int64_t pack_seek(int handle, std::int64_t offset, int origin);
std::int64_t pack_size(int handle);

// Loads `size` bytes (the whole file when size <= 0) from `offset` into a
// new block of script heap; 0 when the file cannot be opened or the block
// cannot be had. Bytes past the end of the file are zero.
Addr mload(std::string_view path, std::int32_t offset, std::int32_t size);

// ---- streams -----------------------------------------------------------------------
// The host mode for a C-library mode text ("r", "wb", "a+t"...): always
// binary, with *text telling whether the stream translates line ends (no
// 'b' in the mode). Empty when the mode is not one of the C library's.
std::string stream_mode(std::string_view mode, bool* text = nullptr);
int stream_open(std::string_view path, std::string_view mode);  // handle or 0
int stream_close(int handle);                                   // 0 or -1
// The C-library operations on an open handle; unknown handles give 0,
// false or -1.
std::size_t stream_read(int handle, void* buffer, std::size_t size, std::size_t count);
std::size_t stream_write(int handle, const void* data, std::size_t size, std::size_t count);
bool stream_gets(int handle, char* buffer, int size);
int stream_puts(int handle, std::string_view text);  // 0 or -1
std::int64_t stream_tell(int handle);
int stream_seek(int handle, std::int64_t offset, int origin);  // 0 or -1

// ---- system file binding --------------------------------------------------------
// Binds path to size bytes at block and loads the file into it: 1 when the
// file existed and was read. 0 for a null path or block, a size of 0, a
// path longer than kMaxSystemFilePath or a block outside script memory
// (the earlier binding then stays).
int sysfile(std::string_view path, Addr block, std::uint32_t size);
// Nonzero direction saves the block (atomically), 0 loads it: 1 or 0.
int sysio(int direction);
// The save at shut-down: writes a binding that exists one last time, then
// clears it. Called by the runtime's stop sequence while the bound block is
// still allocated: a freed program area or stack may already read as zeros.
void save_system_file_at_shutdown();
// Closes every pack handle and stream (at shut-down, after the save above).
void close_file_handles();

// ---- builtin handlers -------------------------------------------------------------
// Typed (runtime/bind.h binds them in the builtin table).
bool bi_pack_save(Addr path, Addr data, std::int32_t size);
std::int32_t bi_pack_open(Addr path);
std::int32_t bi_pack_close(std::int32_t handle);
std::int32_t bi_pack_read(std::int32_t handle, Addr buffer, std::uint32_t count);
std::int32_t bi_pack_seek(std::int32_t handle, std::int32_t offset, std::int32_t origin);
std::int32_t bi_pack_size(std::int32_t handle);
std::int32_t bi_fopen(Addr path, Addr mode);
std::int32_t bi_fclose(std::int32_t handle);
std::uint32_t bi_fread(Addr buffer, std::uint32_t size, std::uint32_t count, std::int32_t handle);
std::uint32_t bi_fwrite(Addr buffer, std::uint32_t size, std::uint32_t count, std::int32_t handle);
std::int32_t bi_fseek(std::int32_t handle, std::int32_t offset, std::int32_t origin);
std::int32_t bi_ftell(std::int32_t handle);
Addr bi_fgets(Addr buffer, std::int32_t size, std::int32_t handle);
std::int32_t bi_fputs(Addr text, std::int32_t handle);
std::int32_t bi_sysfile(Addr path, Addr block, std::uint32_t size);
std::int32_t bi_sysio(std::int32_t direction);
Addr bi_mload(Addr path, std::int32_t offset, std::int32_t size);

}  // namespace talven::storage
