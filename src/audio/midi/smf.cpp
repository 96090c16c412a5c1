#include "audio/midi/smf.h"

#include <algorithm>

namespace talven::audio::midi {

namespace {

std::uint32_t be32(const unsigned char* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
         p[3];
}
std::uint16_t be16(const unsigned char* p) { return std::uint16_t((p[0] << 8) | p[1]); }

// A track's event before times are known: its tick and, for tempo changes,
// the new tempo (status 0xFF).
struct RawEvent {
  std::uint64_t tick;
  std::uint32_t order;  // file order, to keep events of one tick in sequence
  std::uint8_t status, data1, data2;
  std::uint32_t tempo;  // microseconds per quarter note (status 0xFF)
};

struct Cursor {
  const unsigned char* p;
  const unsigned char* end;
  bool ok = true;

  std::uint8_t byte() {
    if (p >= end) {
      ok = false;
      return 0;
    }
    return *p++;
  }
  // A variable-length quantity: at most four bytes.
  std::uint32_t varlen() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      std::uint8_t b = byte();
      v = (v << 7) | (b & 0x7F);
      if (!(b & 0x80)) return v;
    }
    ok = false;
    return v;
  }
  void skip(std::uint32_t n) {
    if (std::size_t(end - p) < n) {
      p = end;
      ok = false;
      return;
    }
    p += n;
  }
};

int data_bytes(std::uint8_t status) {
  switch (status & 0xF0) {
    case 0xC0:
    case 0xD0: return 1;
    default: return 2;
  }
}

void read_track(Cursor c, std::uint64_t start_tick, std::vector<RawEvent>& out,
                std::uint32_t& order, std::uint64_t& end_tick) {
  std::uint64_t tick = start_tick;
  std::uint8_t running = 0;
  while (c.ok && c.p < c.end) {
    tick += c.varlen();
    if (!c.ok) break;
    std::uint8_t b = c.byte();
    if (!c.ok) break;
    if (b == 0xFF) {  // meta event
      std::uint8_t type = c.byte();
      std::uint32_t len = c.varlen();
      if (!c.ok) break;
      if (type == 0x2F) {
        end_tick = std::max(end_tick, tick);
        return;  // end of track
      }
      if (type == 0x51 && len >= 3 && std::size_t(c.end - c.p) >= 3) {
        std::uint32_t tempo = (std::uint32_t(c.p[0]) << 16) | (std::uint32_t(c.p[1]) << 8) | c.p[2];
        out.push_back({tick, order++, 0xFF, 0, 0, tempo == 0 ? 1u : tempo});
      }
      c.skip(len);
      end_tick = std::max(end_tick, tick);
      continue;
    }
    if (b == 0xF0 || b == 0xF7) {  // SysEx: skipped by its length
      c.skip(c.varlen());
      running = 0;
      end_tick = std::max(end_tick, tick);
      continue;
    }
    std::uint8_t status, d1;
    if (b & 0x80) {
      if (b >= 0xF0) break;  // other system messages do not belong in files
      status = running = b;
      d1 = c.byte();
    } else {
      if (!running) break;  // running status with nothing to run on
      status = running;
      d1 = b;
    }
    std::uint8_t d2 = data_bytes(status) == 2 ? c.byte() : 0;
    if (!c.ok) break;
    out.push_back({tick, order++, status, std::uint8_t(d1 & 0x7F), std::uint8_t(d2 & 0x7F), 0});
    end_tick = std::max(end_tick, tick);
  }
}

}  // namespace

bool read_smf(std::string_view data, MidiSong& song) {
  song = {};
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  const auto* end = p + data.size();
  if (data.size() < 14 || std::string_view(data.data(), 4) != "MThd") return false;
  const std::uint32_t header_len = be32(p + 4);
  if (header_len < 6) return false;
  const std::uint16_t format = be16(p + 8);
  const std::uint16_t division = be16(p + 12);
  if (division == 0) return false;
  // Ticks to seconds: metrical time (ticks per quarter note, tempo-driven)
  // or time-code time (frames per second times ticks per frame).
  double seconds_per_tick_fixed = 0;
  if (division & 0x8000) {
    int fps = -static_cast<std::int8_t>(division >> 8);
    int per_frame = division & 0xFF;
    if (fps <= 0 || per_frame == 0) return false;
    seconds_per_tick_fixed = 1.0 / (fps == 29 ? 29.97 : fps) / per_frame;
  }
  p += 8 + std::min<std::uint64_t>(header_len, std::uint64_t(end - p - 8));

  std::vector<RawEvent> raw;
  std::uint32_t order = 0;
  std::uint64_t song_end = 0;
  int tracks = 0;
  while (end - p >= 8) {
    const std::uint32_t len = be32(p + 4);
    const bool is_track = std::string_view(reinterpret_cast<const char*>(p), 4) == "MTrk";
    p += 8;
    const auto* chunk_end = p + std::min<std::uint64_t>(len, std::uint64_t(end - p));
    if (is_track) {
      std::uint64_t track_end = 0;
      // Format 2 holds independent patterns: they play one after another.
      read_track(Cursor{p, chunk_end}, format == 2 ? song_end : 0, raw, order, track_end);
      song_end = std::max(song_end, track_end);
      ++tracks;
    }
    p = chunk_end;
  }
  if (tracks == 0) return false;

  std::stable_sort(raw.begin(), raw.end(), [](const RawEvent& a, const RawEvent& b) {
    return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
  });
  // Walk the merged list, turning ticks into seconds through the tempo map.
  double tempo_seconds_per_tick = 0.5 / division;  // 120 beats per minute
  std::uint64_t last_tick = 0;
  double now = 0;
  song.events.reserve(raw.size());
  for (const RawEvent& e : raw) {
    const double per_tick =
        seconds_per_tick_fixed > 0 ? seconds_per_tick_fixed : tempo_seconds_per_tick;
    now += double(e.tick - last_tick) * per_tick;
    last_tick = e.tick;
    if (e.status == 0xFF) {
      if (seconds_per_tick_fixed == 0) tempo_seconds_per_tick = e.tempo / 1e6 / division;
      continue;
    }
    song.events.push_back({now, e.status, e.data1, e.data2});
  }
  const double per_tick =
      seconds_per_tick_fixed > 0 ? seconds_per_tick_fixed : tempo_seconds_per_tick;
  song.length_seconds = now + double(song_end - last_tick) * per_tick;
  return true;
}

}  // namespace talven::audio::midi
