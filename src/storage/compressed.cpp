#include "storage/compressed.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/game_path.h"
#include "base/messages.h"
#include "storage/file_layer.h"

namespace talven::storage {

namespace {

constexpr unsigned kLevel = 2;

constexpr std::uint64_t low_bits(int n) { return n >= 64 ? ~0ull : (1ull << n) - 1; }

std::string directory_of(const std::string& host_path) {
  std::size_t slash = host_path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : host_path.substr(0, slash);
}

// The encoder's open-addressed table: (prefix code, byte) -> code. A slot
// holds key << 16 | code with key = prefix << 8 | byte, so one load tells
// both; 0 is an empty slot (no code is 0). With twice as many slots as
// codes and a multiplicative hash, probes stay short; the codes written do
// not depend on the table's layout.
struct EncoderTable {
  static constexpr int kBits = 16;
  static constexpr std::uint32_t kSlots = 1u << kBits;
  static_assert(kSlots >= 2 * (kLastCode + 1));
  std::uint64_t slot[kSlots];

  void reset() { std::memset(slot, 0, sizeof slot); }

  // The slot holding (prefix, byte), or the empty one where it goes.
  std::uint32_t lookup(std::uint32_t p, std::uint32_t c) const {
    const std::uint64_t key = (std::uint64_t{p} << 8) | c;
    std::uint32_t h = (static_cast<std::uint32_t>(key) * 0x9E3779B1u) >> (32 - kBits);
    for (;;) {
      const std::uint64_t e = slot[h];
      if (e == 0 || (e >> 16) == key) return h;
      h = (h + 1) & (kSlots - 1);
    }
  }
  static std::uint64_t entry(std::uint32_t p, std::uint32_t c, std::uint32_t code) {
    return (((std::uint64_t{p} << 8) | c) << 16) | code;
  }
};

// The decoder's table is indexed by code; each string is its prefix's string
// plus one byte, and its length is kept so it can be spelled back to front
// straight into the output.
struct DecoderTable {
  std::uint16_t prefix[kLastCode + 1];
  std::uint16_t length[kLastCode + 1];
  std::uint8_t byte[kLastCode + 1];
  // Where each code's string was last written (output position), for the
  // streaming decoder: while that still lies in its output piece, the string
  // is copied from there instead of spelled out along its prefix chain.
  std::uint64_t where[kLastCode + 1];

  DecoderTable() {
    for (std::uint32_t i = 0; i < 256; ++i) {
      prefix[i] = 0;
      length[i] = 1;
      byte[i] = static_cast<std::uint8_t>(i);
    }
  }
};

bool flush_writer(BitWriter& w) {
  if (w.bytes == 0) return true;
  bool ok;
  if (w.sink) {
    ok = w.sink(w.buffer.get(), w.bytes);
  } else if (w.memory) {
    w.memory->append(reinterpret_cast<const char*>(w.buffer.get()), w.bytes);
    ok = true;
  } else {
    ok = w.file.write(w.buffer.get(), w.bytes);
  }
  std::memset(w.buffer.get(), 0, w.bytes);
  w.bytes = 0;
  return ok;
}

// Makes room for `need` bytes in total, growing geometrically but never past
// `cap` (the declared length), so a false length costs nothing up front.
bool ensure_capacity(ByteBuffer& b, std::size_t need, std::size_t cap) {
  if (need <= b.capacity) return true;
  std::size_t target = std::max<std::size_t>(b.capacity * 2, 64 * 1024);
  target = std::max(std::min(target, cap), need);
  return b.reserve(target);
}

}  // namespace

bool refill_bits(BitReader& r) {
  if (!r.ended && r.source) {
    const std::size_t got = r.source(r.buffer.get(), kStreamBufferSize);
    if (got == 0) {
      r.ended = true;
      return false;
    }
    r.data = r.buffer.get();
    r.valid = got;
    r.position = 0;
    return true;
  }
  if (r.ended || !r.file) {
    r.ended = true;
    return false;
  }
  std::size_t got = 0;
  if (!ReadFastFile(r.file, r.buffer.get(), kStreamBufferSize, &got) || got == 0) {
    r.ended = true;
    return false;
  }
  r.data = r.buffer.get();
  r.valid = got;
  r.position = 0;
  return true;
}

ByteBuffer::~ByteBuffer() { std::free(data); }

bool ByteBuffer::reserve(std::size_t n) {
  if (n <= capacity) return true;
  void* p = std::realloc(data, n);
  if (!p) return false;
  data = static_cast<std::uint8_t*>(p);
  capacity = n;
  return true;
}

void ByteBuffer::clear() {
  std::free(data);
  data = nullptr;
  size = capacity = 0;
}

// ---- writer ----

std::unique_ptr<BitWriter> create_bit_writer(std::string_view path) {
  std::string game_path(path.substr(0, path.find('\0')));
  std::unique_ptr<BitWriter> w(new (std::nothrow) BitWriter);
  if (w) w->buffer.reset(new (std::nothrow) std::uint8_t[kStreamBufferSize]());
  if (!w || !w->buffer) {
    report_message(kLevel, "ファイル出力バッファのメモリ確保に失敗しました");
    return nullptr;
  }
  if (!w->file.open(host_path_for_write(game_path))) {
    report_message(kLevel, "ファイルの作成に失敗しました FILE - %s", game_path.c_str());
    return nullptr;
  }
  return w;
}

std::unique_ptr<BitWriter> create_sink_bit_writer(
    std::function<bool(const std::uint8_t*, std::size_t)> sink) {
  std::unique_ptr<BitWriter> w(new (std::nothrow) BitWriter);
  if (w) w->buffer.reset(new (std::nothrow) std::uint8_t[kStreamBufferSize]());
  if (!w || !w->buffer) return nullptr;
  w->sink = std::move(sink);
  return w;
}

std::unique_ptr<BitWriter> create_memory_bit_writer(std::string& out) {
  std::unique_ptr<BitWriter> w(new (std::nothrow) BitWriter);
  if (w) w->buffer.reset(new (std::nothrow) std::uint8_t[kStreamBufferSize]());
  if (!w || !w->buffer) {
    report_message(kLevel, "ファイル出力バッファのメモリ確保に失敗しました");
    return nullptr;
  }
  w->memory = &out;
  return w;
}

bool write_bits(BitWriter& w, std::uint32_t value, int n) {
  if (w.failed) return false;
  w.bits = (w.bits << n) | (value & low_bits(n));
  w.bit_count += n;
  while (w.bit_count >= 8) {
    w.bit_count -= 8;
    w.buffer[w.bytes++] = static_cast<std::uint8_t>(w.bits >> w.bit_count);
    if (w.bytes == kStreamBufferSize && !flush_writer(w)) {
      w.failed = true;
      report_message(kLevel, "ビットデータの書き込みに失敗しました");
      return false;
    }
  }
  w.bits &= low_bits(w.bit_count);
  return true;
}

bool close_bit_writer(BitWriter& w) {
  if (w.failed) {
    w.file.abandon();
    return false;
  }
  bool ok = true;
  if (w.bit_count > 0) {
    if (w.bytes == kStreamBufferSize) ok = flush_writer(w);
    w.buffer[w.bytes++] = static_cast<std::uint8_t>(w.bits << (8 - w.bit_count));
    w.bits = 0;
    w.bit_count = 0;
  }
  ok = ok && flush_writer(w);
  if (!w.memory && !w.sink) {
    std::string target = w.file.path();
    ok = ok && w.file.commit();
    w.file.abandon();
    if (ok) invalidate_path_cache(directory_of(target));
  }
  if (!ok) {
    w.failed = true;
    report_message(kLevel, "ファイルの書き込みに失敗しました");
  }
  return ok;
}

// ---- reader ----

BitReader::~BitReader() { CloseFastFile(file); }

FastFile* BitReader::release_file() {
  FastFile* f = file;
  file = nullptr;
  ended = true;
  return f;
}

std::unique_ptr<BitReader> open_bit_reader(std::string_view path) {
  std::unique_ptr<BitReader> r(new (std::nothrow) BitReader);
  if (r) r->buffer.reset(new (std::nothrow) std::uint8_t[kStreamBufferSize]);
  if (!r || !r->buffer) {
    report_message(kLevel, "ファイル入力バッファのメモリ確保に失敗しました");
    return nullptr;
  }
  r->file = OpenFastFile(path);
  if (!r->file) return nullptr;
  r->data = r->buffer.get();
  return r;
}

std::unique_ptr<BitReader> open_memory_bit_reader(std::string_view data) {
  std::unique_ptr<BitReader> r(new (std::nothrow) BitReader);
  if (!r) return nullptr;
  r->data = reinterpret_cast<const std::uint8_t*>(data.data());
  r->valid = data.size();
  return r;
}

std::unique_ptr<BitReader> open_source_bit_reader(
    std::function<std::size_t(std::uint8_t*, std::size_t)> source) {
  std::unique_ptr<BitReader> r(new (std::nothrow) BitReader);
  if (r) r->buffer.reset(new (std::nothrow) std::uint8_t[kStreamBufferSize]);
  if (!r || !r->buffer) return nullptr;
  r->source = std::move(source);
  return r;
}

// ---- coder ----

struct StreamEncoder::State {
  EncoderTable table;
  std::uint32_t next = kFirstFreeCode;
  int width = kFirstCodeWidth;
  std::uint32_t limit = 511;
  std::uint32_t prefix = 0;  // the string being extended
  bool started = false;
  bool failed = false;
};

StreamEncoder::StreamEncoder(BitWriter& writer)
    : writer_(writer), state_(new (std::nothrow) State) {
  if (!state_) {
    report_message(kLevel, "辞書オブジェクトの作成に失敗しました。");
    return;
  }
  state_->table.reset();
}

StreamEncoder::~StreamEncoder() = default;

bool StreamEncoder::feed(const std::uint8_t* data, std::size_t size) {
  if (!state_ || state_->failed) return false;
  State& s = *state_;
  std::size_t i = 0;
  if (!s.started && size > 0) {
    s.prefix = data[0];
    s.started = true;
    i = 1;
  }
  for (; i < size; ++i) {
    const std::uint32_t c = data[i];
    const std::uint32_t h = s.table.lookup(s.prefix, c);
    if (const std::uint64_t e = s.table.slot[h]; e != 0) {
      s.prefix = static_cast<std::uint32_t>(e & 0xFFFF);
      continue;
    }
    s.table.slot[h] = EncoderTable::entry(s.prefix, c, s.next);
    ++s.next;
    bool ok = write_bits(writer_, s.prefix, s.width);
    s.prefix = c;
    if (s.next > kLastCode) {
      ok = ok && write_bits(writer_, kCodeReset, s.width);
      s.table.reset();
      s.next = kFirstFreeCode;
      s.width = kFirstCodeWidth;
      s.limit = 511;
    } else if (s.next > s.limit) {
      ok = ok && write_bits(writer_, kCodeGrow, s.width);
      ++s.width;
      s.limit = 2 * s.limit + 1;
    }
    if (!ok) {
      s.failed = true;
      return false;
    }
  }
  return true;
}

bool StreamEncoder::finish() {
  if (!state_ || state_->failed) return false;
  State& s = *state_;
  if (!s.started) return write_bits(writer_, kCodeEnd, kFirstCodeWidth);
  return write_bits(writer_, s.prefix, s.width) && write_bits(writer_, kCodeEnd, s.width);
}

bool encode(BitWriter& w, const std::uint8_t* data, std::size_t size) {
  StreamEncoder encoder(w);
  return encoder.feed(data, size) && encoder.finish();
}

bool decode_to(BitReader& r, std::uint32_t length,
               const std::function<bool(const std::uint8_t*, std::size_t)>& sink,
               std::uint64_t* decoded) {
  // Pieces of at most the buffer's size go to the sink; one string is never
  // longer than the dictionary's codes, so it always fits.
  constexpr std::size_t kPiece = 1 << 20;
  ByteBuffer piece;
  if (!piece.reserve(kPiece)) return false;
  std::uint64_t total = 0;
  bool ok = true;
  BitReader& reader = r;
  // Decode in rounds of at most one piece's room, flushing in between.
  std::unique_ptr<DecoderTable> table(new (std::nothrow) DecoderTable);
  if (!table) {
    report_message(kLevel, "辞書オブジェクトの作成に失敗しました。");
    return false;
  }
  DecoderTable& t = *table;
  auto flush = [&]() {
    if (piece.size && !sink(piece.data, piece.size)) ok = false;
    total += piece.size;
    piece.size = 0;
    return ok;
  };
  auto put = [&](std::size_t n) -> std::uint8_t* {  // room for n more bytes
    if (total + piece.size + n > length) return nullptr;
    if (piece.size + n > kPiece && !flush()) return nullptr;
    std::uint8_t* at = piece.data + piece.size;
    piece.size += n;
    return at;
  };
  for (;;) {
    std::uint32_t next = kFirstFreeCode;
    int width = kFirstCodeWidth;
    std::uint32_t code;
    if (!read_bits(reader, width, code) || code == kCodeEnd) break;
    if (code > 255) return false;
    std::uint8_t* first = put(1);
    if (!first) return false;
    *first = static_cast<std::uint8_t>(code);
    std::uint32_t prev = code;
    std::uint64_t prev_at = total + piece.size - 1;
    bool reset = false;
    for (;;) {
      if (!read_bits(reader, width, code) || code == kCodeEnd) break;
      if (code == kCodeGrow) {
        if (width == kLastCodeWidth) return false;
        ++width;
        continue;
      }
      if (code == kCodeReset) {
        reset = true;
        break;
      }
      if (code > next || next > kLastCode) return false;
      const std::uint32_t spelled = code == next ? prev : code;
      const std::size_t n = t.length[spelled] + (code == next ? 1u : 0u);
      std::uint8_t* dst = put(n);
      if (!dst) return false;
      const std::uint64_t at = total + piece.size - n;
      if (spelled < 256) {
        dst[0] = static_cast<std::uint8_t>(spelled);
      } else if (t.where[spelled] >= total) {
        std::memcpy(dst, piece.data + (t.where[spelled] - total), t.length[spelled]);
      } else {
        std::uint32_t c = spelled;
        for (std::size_t i = t.length[spelled]; i-- > 0;) {
          dst[i] = t.byte[c];
          c = t.prefix[c];
        }
      }
      if (code == next) dst[n - 1] = dst[0];
      // The new string is prev's followed by this one's first byte, which
      // is where prev was written.
      t.prefix[next] = static_cast<std::uint16_t>(prev);
      t.byte[next] = dst[0];
      t.length[next] = static_cast<std::uint16_t>(t.length[prev] + 1);
      t.where[next] = prev_at;
      ++next;
      prev = code;
      prev_at = at;
    }
    if (!reset) break;
  }
  if (!flush()) return false;
  if (decoded) *decoded = total;
  return ok;
}

bool decode(BitReader& r, std::uint32_t length, ByteBuffer& out) {
  std::unique_ptr<DecoderTable> table(new (std::nothrow) DecoderTable);
  if (!table) {
    report_message(kLevel, "辞書オブジェクトの作成に失敗しました。");
    return false;
  }
  DecoderTable& t = *table;
  const std::size_t end = out.size + length;
  for (;;) {  // one round per dictionary reset
    std::uint32_t next = kFirstFreeCode;
    int width = kFirstCodeWidth;
    std::uint32_t code;
    if (!read_bits(r, width, code) || code == kCodeEnd) return true;
    // A fresh dictionary holds only literals.
    if (code > 255) return false;
    if (out.size + 1 > end || !ensure_capacity(out, out.size + 1, end)) return false;
    out.data[out.size++] = static_cast<std::uint8_t>(code);
    std::uint32_t prev = code;
    for (;;) {
      if (!read_bits(r, width, code) || code == kCodeEnd) return true;
      if (code == kCodeGrow) {
        if (width == kLastCodeWidth) return false;
        ++width;
        continue;
      }
      if (code == kCodeReset) break;
      // Only codes already given out, or the one about to be, are valid.
      if (code > next || next > kLastCode) return false;
      std::uint32_t spelled = code == next ? prev : code;
      std::size_t n = t.length[spelled] + (code == next ? 1u : 0u);
      if (n > end - out.size || !ensure_capacity(out, out.size + n, end)) return false;
      std::uint8_t* dst = out.data + out.size;
      std::uint32_t c = spelled;
      for (std::size_t i = t.length[spelled]; i-- > 0;) {
        dst[i] = t.byte[c];
        c = t.prefix[c];
      }
      if (code == next) dst[n - 1] = dst[0];
      out.size += n;
      t.prefix[next] = static_cast<std::uint16_t>(prev);
      t.byte[next] = dst[0];
      t.length[next] = static_cast<std::uint16_t>(t.length[prev] + 1);
      ++next;
      prev = code;
    }
  }
}

// ---- whole images ----

bool compress_bytes(std::string_view data, std::string& out) {
  out.clear();
  if (data.size() > kMaxDecodedLength) return false;
  std::unique_ptr<BitWriter> w = create_memory_bit_writer(out);
  if (!w) return false;
  try {
    bool ok = write_bits(*w, kCompressedSignature, 32) &&
              write_bits(*w, static_cast<std::uint32_t>(data.size()), 32) &&
              encode(*w, reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    return close_bit_writer(*w) && ok;
  } catch (const std::bad_alloc&) {
    out.clear();
    return false;
  }
}

bool expand_decoded(std::string_view image, std::string& decoded, std::uint32_t& length) {
  decoded.clear();
  length = 0;
  std::unique_ptr<BitReader> r = open_memory_bit_reader(image);
  std::uint32_t signature, declared;
  if (!r || !read_bits(*r, 32, signature) || signature != kCompressedSignature ||
      !read_bits(*r, 32, declared) || declared > kMaxDecodedLength)
    return false;
  ByteBuffer buffer;
  if (!decode(*r, declared, buffer)) return false;
  try {
    decoded.assign(reinterpret_cast<const char*>(buffer.data), buffer.size);
  } catch (const std::bad_alloc&) {
    decoded.clear();
    return false;
  }
  length = declared;
  return true;
}

bool expand_bytes(std::string_view image, std::string& out) {
  std::uint32_t length = 0;
  if (!expand_decoded(image, out, length)) return false;
  try {
    out.resize(length, '\0');
  } catch (const std::bad_alloc&) {
    out.clear();
    return false;
  }
  return true;
}

bool save_compressed(std::string_view path, const void* data, std::size_t size) {
  if (size > 0xFFFFFFFFu) return false;
  std::unique_ptr<BitWriter> w = create_bit_writer(path);
  if (!w) return false;
  bool ok = write_bits(*w, kCompressedSignature, 32) &&
            write_bits(*w, static_cast<std::uint32_t>(size), 32);
  // No data: the file keeps its two header fields and the save counts as failed.
  bool has_data = size > 0 && data;
  if (ok && has_data) ok = encode(*w, static_cast<const std::uint8_t*>(data), size);
  if (!ok) {
    w->file.abandon();
    return false;
  }
  return close_bit_writer(*w) && has_data;
}

}  // namespace talven::storage
