// The compressed data format: a dictionary coder over a big-endian bit stream.
//
//   bytes 0-3   signature 0x61 0x63 0x70 0x00
//   bytes 4-7   length of the uncompressed data, big-endian
//   from 8      codes of 9 to 15 bits, most significant bit first; the last
//               byte is padded with zero bits
//
// Codes 0-255 are literal bytes, 256 ends the data, 257 widens the codes by
// one bit, 258 empties the dictionary (back to 9 bits, next code 259), and
// 259 up name earlier strings followed by one byte. The encoder widens when
// the next free code passes the current width and resets after giving out
// code 32767, so the decoder follows the encoder without computing widths.
//
// The file layer decodes through a BitReader on a FastFile (OpenExpFile);
// pack_save writes through a BitWriter; the author tools and tests use the
// in-memory forms compress_bytes() and expand_bytes().
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "storage/output_file.h"

namespace talven::storage {

struct FastFile;

constexpr std::uint32_t kCompressedSignature = 0x61637000;
constexpr std::size_t kStreamBufferSize = 16384;
constexpr std::uint32_t kCodeEnd = 256;
constexpr std::uint32_t kCodeGrow = 257;
constexpr std::uint32_t kCodeReset = 258;
constexpr std::uint32_t kFirstFreeCode = 259;
constexpr std::uint32_t kLastCode = 32767;
constexpr int kFirstCodeWidth = 9;
constexpr int kLastCodeWidth = 15;
// Decoded lengths are signed 32-bit values for the readers above us.
constexpr std::uint32_t kMaxDecodedLength = 0x7FFFFFFF;

// A growable byte block (malloc-backed, so it can grow without zero-filling).
struct ByteBuffer {
  std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t capacity = 0;

  ByteBuffer() = default;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ~ByteBuffer();
  bool reserve(std::size_t n);
  void clear();
};

// Bit-stream writer. Output goes to an atomic output file (created by
// create_bit_writer) or to a string.
struct BitWriter {
  AtomicOutput file;
  std::string* memory = nullptr;
  std::function<bool(const std::uint8_t*, std::size_t)> sink;  // when set, takes the bytes
  std::unique_ptr<std::uint8_t[]> buffer;                      // kStreamBufferSize bytes
  std::size_t bytes = 0;                                       // whole bytes held in buffer
  std::uint64_t bits = 0;                                      // pending bits, low `bit_count` bits
  int bit_count = 0;
  bool failed = false;
};

// Creates the writer for game path `path` (the file appears when
// close_bit_writer succeeds). Reports "ファイルの作成に失敗しました FILE - %s"
// or "ファイル出力バッファのメモリ確保に失敗しました"; null on failure.
std::unique_ptr<BitWriter> create_bit_writer(std::string_view path);
// A writer that appends to `out`.
std::unique_ptr<BitWriter> create_memory_bit_writer(std::string& out);
// A writer that hands its bytes to `sink` (false from the sink fails the writer).
std::unique_ptr<BitWriter> create_sink_bit_writer(
    std::function<bool(const std::uint8_t*, std::size_t)> sink);
// Writes the low n bits of value (n <= 32), most significant first. A failed
// flush reports "ビットデータの書き込みに失敗しました" and fails.
bool write_bits(BitWriter& writer, std::uint32_t value, int n);
// Pads the last byte, writes out what is held and commits the file; a failure
// reports "ファイルの書き込みに失敗しました" and leaves the old file alone.
// A writer that already failed does not commit and returns false.
bool close_bit_writer(BitWriter& writer);

// Bit-stream reader over a FastFile or a memory block.
struct BitReader {
  FastFile* file = nullptr;  // owned; null for a memory or source reader
  // When set, fills a buffer and returns the bytes given (0 at the end).
  std::function<std::size_t(std::uint8_t*, std::size_t)> source;
  std::unique_ptr<std::uint8_t[]> buffer;
  const std::uint8_t* data = nullptr;
  std::size_t valid = 0;     // bytes in data
  std::size_t position = 0;  // next unread byte
  std::uint64_t bits = 0;
  int bit_count = 0;
  bool ended = false;

  BitReader() = default;
  BitReader(const BitReader&) = delete;
  BitReader& operator=(const BitReader&) = delete;
  ~BitReader();
  // Hands the file back to the caller (the reader stops reading).
  FastFile* release_file();
};

// Opens game path `path` with OpenFastFile. Reports
// "ファイル入力バッファのメモリ確保に失敗しました" when the buffer cannot be had
// (open failures are reported by OpenFastFile); null on failure.
std::unique_ptr<BitReader> open_bit_reader(std::string_view path);
std::unique_ptr<BitReader> open_memory_bit_reader(std::string_view data);
std::unique_ptr<BitReader> open_source_bit_reader(
    std::function<std::size_t(std::uint8_t*, std::size_t)> source);
// Reads the next piece of input into the reader's buffer; false at the end.
bool refill_bits(BitReader& reader);
// Reads n bits (n <= 32); false when the stream ends first.
inline bool read_bits(BitReader& r, int n, std::uint32_t& value) {
  while (r.bit_count < n) {
    if (r.position == r.valid && !refill_bits(r)) return false;
    r.bits = (r.bits << 8) | r.data[r.position++];
    r.bit_count += 8;
  }
  r.bit_count -= n;
  value = static_cast<std::uint32_t>((r.bits >> r.bit_count) & ((std::uint64_t{1} << n) - 1));
  r.bits &= (std::uint64_t{1} << r.bit_count) - 1;
  return true;
}

// Encodes `size` bytes (size >= 1) as codes, ending with the end code.
// Reports "辞書オブジェクトの作成に失敗しました。" when the dictionary cannot be had.
bool encode(BitWriter& writer, const std::uint8_t* data, std::size_t size);

// The same coder fed piece by piece (the codes do not depend on how the data
// is cut): feed() any number of times, then finish() once.
class StreamEncoder {
 public:
  explicit StreamEncoder(BitWriter& writer);
  ~StreamEncoder();
  bool feed(const std::uint8_t* data, std::size_t size);
  bool finish();

 private:
  struct State;
  BitWriter& writer_;
  std::unique_ptr<State> state_;
};

// Decodes like decode(), handing the bytes to `sink` in pieces instead of
// keeping them; *decoded counts them.
bool decode_to(BitReader& reader, std::uint32_t length,
               const std::function<bool(const std::uint8_t*, std::size_t)>& sink,
               std::uint64_t* decoded);

// Decodes codes into `out` (appended), which never grows past `length`
// bytes. A stream that stops (end code or end of input) before `length`
// bytes leaves `out` short: the rest reads as zero bytes. That tail is never
// allocated here, so `out` grows only with what the codes spell and a
// declared length larger than the codes costs nothing. False when the codes
// spell more than `length` bytes, or use a code the encoder cannot have
// given out at that point (damaged data), or memory runs out.
bool decode(BitReader& reader, std::uint32_t length, ByteBuffer& out);

// A whole compressed image of `data` (signature, length, codes) in `out`.
// Empty data gives the header and the end code alone. False when the data is
// longer than kMaxDecodedLength or the dictionary cannot be had.
bool compress_bytes(std::string_view data, std::string& out);
// Decodes a whole compressed image without its zero tail: `decoded` gets
// the bytes the codes spell and `length` the declared length, which is never
// less; the bytes from decoded.size() up to `length` read as zeros. False
// for a wrong signature, a missing length, a declared length above
// kMaxDecodedLength or damaged codes.
bool expand_decoded(std::string_view image, std::string& decoded, std::uint32_t& length);
// The same, filled out with the zero tail to exactly the declared length
// (which is allocated in full: for images whose length is trusted).
bool expand_bytes(std::string_view image, std::string& out);

// Writes `size` bytes at `data` to game path `path` in the compressed form
// (what pack_save does). With no data (size 0 or a null pointer) the file
// holds the two header fields alone and the result is false. The target is
// replaced only when the whole file was written.
bool save_compressed(std::string_view path, const void* data, std::size_t size);

}  // namespace talven::storage
