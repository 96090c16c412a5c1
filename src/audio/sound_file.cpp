#include "audio/sound_file.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstring>

namespace talven::audio {

namespace {

std::uint16_t get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// A read position over the file held in memory, for libvorbisfile.
struct MemoryReader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos;
};

std::size_t mem_read(void* dst, std::size_t size, std::size_t count, void* source) {
  auto* m = static_cast<MemoryReader*>(source);
  if (size == 0) return 0;
  std::size_t want = size * count;
  if (count && want / count != size) want = m->size;  // overflow: as much as there is
  std::size_t n = std::min(want, m->size - m->pos);
  n -= n % size;  // whole items only
  std::memcpy(dst, m->data + m->pos, n);
  m->pos += n;
  return n / size;
}

int mem_seek(void* source, ogg_int64_t offset, int origin) {
  auto* m = static_cast<MemoryReader*>(source);
  ogg_int64_t base;
  switch (origin) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = static_cast<ogg_int64_t>(m->pos); break;
    case SEEK_END: base = static_cast<ogg_int64_t>(m->size); break;
    default: return -1;
  }
  ogg_int64_t to = base + offset;
  if (to < 0 || to > static_cast<ogg_int64_t>(m->size)) return -1;
  m->pos = static_cast<std::size_t>(to);
  return 0;
}

long mem_tell(void* source) { return static_cast<long>(static_cast<MemoryReader*>(source)->pos); }

// Consecutive decoder errors after which a stream counts as ended.
constexpr int kMaxDecodeErrors = 64;

}  // namespace

struct SoundFile::Ogg {
  MemoryReader reader{};
  OggVorbis_File vf{};
  bool open = false;
  ~Ogg() {
    if (open) ov_clear(&vf);
  }
};

SoundFile::~SoundFile() = default;

std::unique_ptr<SoundFile> SoundFile::open(std::vector<std::uint8_t> bytes) {
  std::unique_ptr<SoundFile> f(new SoundFile());
  f->bytes_ = std::move(bytes);
  const std::uint8_t* b = f->bytes_.data();
  const std::size_t size = f->bytes_.size();

  if (size >= 4 && std::memcmp(b, "OggS", 4) == 0) {
    f->ogg_ = std::make_unique<Ogg>();
    Ogg& o = *f->ogg_;
    o.reader = {b, size, 0};
    ov_callbacks callbacks{mem_read, mem_seek, nullptr, mem_tell};
    if (ov_open_callbacks(&o.reader, &o.vf, nullptr, 0, callbacks) != 0) return nullptr;
    o.open = true;
    vorbis_info* info = ov_info(&o.vf, -1);
    if (!info || info->channels <= 0 || info->channels > 255 || info->rate <= 0) return nullptr;
    ogg_int64_t total = ov_pcm_total(&o.vf, -1);
    f->total_samples_ = total > 0 ? static_cast<std::uint64_t>(total) : 0;
    WaveFormat& w = f->format_;
    w.format_tag = 1;
    w.channels = static_cast<std::uint16_t>(info->channels);
    w.samples_per_sec = static_cast<std::uint32_t>(std::min<long>(info->rate, 0x7FFFFFFF));
    w.bits_per_sample = 16;
    w.block_align = static_cast<std::uint16_t>(w.channels * 2);
    w.avg_bytes_per_sec = w.samples_per_sec * w.block_align;
    f->length_ = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(f->total_samples_ * w.block_align, 0xFFFFFFFFu));
    return f;
  }

  // RIFF WAVE: the chunks of the form, in any order, each clipped to the
  // bytes the file really has.
  if (size < 12 || std::memcmp(b, "RIFF", 4) != 0 || std::memcmp(b + 8, "WAVE", 4) != 0)
    return nullptr;
  std::size_t end = std::min<std::size_t>(size, static_cast<std::size_t>(get32(b + 4)) + 8);
  bool have_fmt = false, have_data = false;
  for (std::size_t at = 12; at + 8 <= end;) {
    std::uint32_t chunk = get32(b + at + 4);
    std::size_t body = at + 8;
    std::size_t len = std::min<std::size_t>(chunk, end - body);
    if (!have_fmt && std::memcmp(b + at, "fmt ", 4) == 0) {
      if (len < 16) return nullptr;
      WaveFormat& w = f->format_;
      w.format_tag = get16(b + body);
      w.channels = get16(b + body + 2);
      w.samples_per_sec = get32(b + body + 4);
      w.avg_bytes_per_sec = get32(b + body + 8);
      w.block_align = get16(b + body + 12);
      w.bits_per_sample = get16(b + body + 14);
      w.extra_size = len >= 18 ? get16(b + body + 16) : 0;
      have_fmt = true;
    } else if (!have_data && std::memcmp(b + at, "data", 4) == 0) {
      f->data_offset_ = static_cast<std::uint32_t>(body);
      f->data_length_ = static_cast<std::uint32_t>(len);
      have_data = true;
    }
    std::size_t next = body + static_cast<std::size_t>(chunk) + (chunk & 1);
    if (next <= at) break;
    at = next;
  }
  if (!have_fmt || f->format_.format_tag != 1 || !have_data) return nullptr;
  f->length_ = f->data_length_;
  return f;
}

std::uint32_t SoundFile::fill(std::uint8_t* dst, std::uint32_t n) {
  std::uint32_t done = 0;
  if (ogg_) {
    int errors = 0;
    while (done < n) {
      int bitstream = 0;
      long got = ov_read(&ogg_->vf, reinterpret_cast<char*>(dst + done),
                         static_cast<int>(std::min<std::uint32_t>(n - done, 1 << 20)), 0, 2, 1,
                         &bitstream);
      if (got > 0) {
        done += static_cast<std::uint32_t>(got);
        errors = 0;
      } else if (got == 0 || ++errors >= kMaxDecodeErrors) {
        break;
      }
    }
    std::memset(dst + done, 0, n - done);
    return done;
  }
  if (read_pos_ < data_length_) {
    done = std::min(n, data_length_ - read_pos_);
    std::memcpy(dst, bytes_.data() + data_offset_ + read_pos_, done);
    read_pos_ += done;
  }
  std::memset(dst + done, format_.bits_per_sample == 8 ? 128 : 0, n - done);
  return done;
}

bool SoundFile::seek(std::uint32_t byte_pos) {
  if (ogg_) {
    std::uint32_t ba = format_.block_align ? format_.block_align : 1;
    return ov_pcm_seek(&ogg_->vf, byte_pos / ba) == 0;
  }
  if (byte_pos > data_length_) return false;
  read_pos_ = byte_pos;
  return true;
}

std::string SoundFile::comment() const {
  if (!ogg_) return {};
  vorbis_comment* c = ov_comment(&ogg_->vf, -1);
  if (!c) return {};
  for (int i = 0; i < c->comments; ++i) {
    if (!c->user_comments[i] || c->comment_lengths[i] < 8) continue;
    if (std::memcmp(c->user_comments[i], "COMMENT=", 8) != 0) continue;
    std::size_t len =
        std::min<std::size_t>(static_cast<std::size_t>(c->comment_lengths[i]) - 8, 255);
    std::string text(c->user_comments[i] + 8, len);
    return text.substr(0, text.find('\0'));
  }
  return {};
}

}  // namespace talven::audio
