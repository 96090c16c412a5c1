#include "audio/midi/sf2_font.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/host_file.h"

namespace talven::audio::midi::sf2 {

namespace {

using Bytes = std::span<const std::uint8_t>;

std::uint16_t le16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
std::uint32_t le32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}

bool fail(std::string* why, std::string reason) {
  if (why) *why = std::move(reason);
  return false;
}

struct Chunk {
  std::string_view id;
  Bytes body;
};

// The chunks of a RIFF body; each must fit inside it (a last odd pad byte
// may be missing).
bool split_chunks(Bytes body, std::vector<Chunk>& out, std::string* why) {
  std::size_t at = 0;
  while (at < body.size()) {
    if (body.size() - at < 8) return fail(why, "a chunk header is cut short");
    const std::uint8_t* p = body.data() + at;
    const std::uint32_t size = le32(p + 4);
    if (size > body.size() - at - 8)
      return fail(why, "chunk '" + std::string(reinterpret_cast<const char*>(p), 4) +
                           "' runs past the data holding it");
    out.push_back(
        {std::string_view(reinterpret_cast<const char*>(p), 4), body.subspan(at + 8, size)});
    at += 8 + std::size_t(size) + (size & 1);
  }
  return true;
}

const Chunk* find_chunk(const std::vector<Chunk>& chunks, std::string_view id) {
  for (const Chunk& c : chunks)
    if (c.id == id) return &c;
  return nullptr;
}

// The chunks inside the LIST chunk of form `type`.
bool list_of(const std::vector<Chunk>& chunks, std::string_view type, std::vector<Chunk>& out,
             std::string* why) {
  for (const Chunk& c : chunks)
    if (c.id == "LIST" && c.body.size() >= 4 &&
        std::string_view(reinterpret_cast<const char*>(c.body.data()), 4) == type)
      return split_chunks(c.body.subspan(4), out, why);
  return fail(why, "no '" + std::string(type) + "' list");
}

// A hydra chunk as records of `size` bytes; at least `min` of them (the
// terminal record counts).
bool records(const std::vector<Chunk>& pdta, std::string_view id, std::size_t size, std::size_t min,
             Bytes& out, std::string* why) {
  const Chunk* c = find_chunk(pdta, id);
  if (!c) return fail(why, "no '" + std::string(id) + "' chunk");
  if (c->body.size() % size != 0)
    return fail(why, "chunk '" + std::string(id) + "' is not a whole number of records");
  if (c->body.size() / size < min)
    return fail(why, "chunk '" + std::string(id) + "' has too few records");
  out = c->body;
  return true;
}

std::string name_of(const std::uint8_t* p) {
  std::size_t n = 0;
  while (n < 20 && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

// Generators a preset zone may not set: they only make sense for a sample.
bool instrument_only(int g) {
  switch (g) {
    case kStartOffset:
    case kEndOffset:
    case kStartLoopOffset:
    case kEndLoopOffset:
    case kStartCoarseOffset:
    case kEndCoarseOffset:
    case kStartLoopCoarseOffset:
    case kEndLoopCoarseOffset:
    case kKeynum:
    case kVelocity:
    case kSampleModes:
    case kExclusiveClass:
    case kRootKey:
    case kSampleId: return true;
    default: return false;
  }
}

// Which default modulator a modulator of this source and destination
// restates, or -1.
int restated_default(std::uint16_t source, std::uint16_t destination) {
  if (source == 0x0502 && destination == kAttenuation) return kVelocityToAttenuation;
  if (source == 0x0102 && destination == kFilterFc) return kVelocityToFilterFc;
  if (source == 0x0081 && destination == kVibLfoToPitch) return kModWheelToVibrato;
  return -1;
}

// The modulator records of a list, or nothing when the bags' indexes into
// it fall or leave it.
Bytes modulators(const std::vector<Chunk>& pdta, std::string_view id, Bytes bags) {
  const Chunk* c = find_chunk(pdta, id);
  if (!c || c->body.size() % 10 != 0) return {};
  std::size_t prev = 0;
  for (std::size_t i = 0; i < bags.size() / 4; ++i) {
    const std::size_t v = le16(bags.data() + 4 * i + 2);
    if (v < prev || v > c->body.size() / 10) return {};
    prev = v;
  }
  return c->body;
}

// Bags [first, last) of one preset or instrument, with their generators,
// into zones. The terminal generator (instrument or sampleID) ends a zone's
// list; a first zone without it is the global zone, a later one is dropped,
// as is a zone whose target is not usable.
// `mods` is empty when the list is missing or its indexes are out of order.
template <typename Usable>
void read_zones(Bytes bags, Bytes gens, Bytes mods, std::size_t first, std::size_t last,
                bool preset, Usable usable, Zone& global, std::vector<Zone>& zones) {
  const int terminal = preset ? kInstrument : kSampleId;
  for (std::size_t b = first; b < last; ++b) {
    const std::size_t g0 = le16(bags.data() + 4 * b), g1 = le16(bags.data() + 4 * (b + 1));
    Zone z;
    if (!mods.empty()) {
      const std::size_t m1 = le16(bags.data() + 4 * (b + 1) + 2);
      for (std::size_t m = le16(bags.data() + 4 * b + 2); m < m1; ++m) {
        const std::uint8_t* p = mods.data() + 10 * m;
        const int which = restated_default(le16(p), le16(p + 2));
        if (which < 0) continue;
        z.mod[std::size_t(which)] = std::int16_t(le16(p + 4));
        z.mod_set = std::uint8_t(z.mod_set | (1 << which));
      }
    }
    for (std::size_t g = g0; g < g1; ++g) {
      const std::uint8_t* p = gens.data() + 4 * g;
      const int oper = le16(p);
      if (oper == terminal) {
        z.target = le16(p + 2);
        break;
      }
      if (oper == kKeyRange) {
        z.key_lo = p[2], z.key_hi = p[3], z.has_key_range = true;
      } else if (oper == kVelRange) {
        z.vel_lo = p[2], z.vel_hi = p[3], z.has_vel_range = true;
      } else if (oper < kGenCount && oper != kInstrument && oper != kSampleId &&
                 !(preset && instrument_only(oper))) {
        z.gen[std::size_t(oper)] = std::int16_t(le16(p + 2));
        z.set |= std::uint64_t(1) << oper;
      }
    }
    if (z.target < 0) {
      if (b == first) global = z;
    } else if (usable(z.target)) {
      zones.push_back(z);
    }
  }
}

// The 16-bit indexes at `offset` of records of `size` bytes never fall and
// stay at or below `limit`.
bool indexes_rise(Bytes recs, std::size_t size, std::size_t offset, std::size_t limit) {
  std::size_t prev = 0;
  for (std::size_t i = 0; i < recs.size() / size; ++i) {
    const std::size_t v = le16(recs.data() + i * size + offset);
    if (v < prev || v > limit) return false;
    prev = v;
  }
  return true;
}

}  // namespace

std::int16_t default_generator(int gen) {
  switch (gen) {
    case kFilterFc: return 13500;
    case kModLfoDelay:
    case kVibLfoDelay:
    case kModEnvDelay:
    case kModEnvAttack:
    case kModEnvHold:
    case kModEnvDecay:
    case kModEnvRelease:
    case kVolEnvDelay:
    case kVolEnvAttack:
    case kVolEnvHold:
    case kVolEnvDecay:
    case kVolEnvRelease: return -12000;
    case kKeynum:
    case kVelocity:
    case kRootKey: return -1;
    case kScaleTuning: return 100;
    default: return 0;
  }
}

std::int16_t default_mod_amount(int mod) {
  switch (mod) {
    case kVelocityToAttenuation: return 960;
    case kVelocityToFilterFc: return -2400;
    case kModWheelToVibrato: return 50;
    default: return 0;
  }
}

const Preset* Font::find(int bank, int program) const {
  for (const Preset& p : presets)
    if (p.bank == bank && p.program == program) return &p;
  return nullptr;
}

std::shared_ptr<const Font> read_font(Bytes bytes, std::string* why) {
  if (bytes.size() > kMaxFontBytes) return fail(why, "the file is larger than 1 GiB"), nullptr;
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "sfbk", 4) != 0)
    return fail(why, "not a SoundFont 2 file"), nullptr;
  const std::uint32_t riff_size = le32(bytes.data() + 4);
  if (riff_size < 4 || riff_size > bytes.size() - 8)
    return fail(why, "the file is cut short"), nullptr;
  std::vector<Chunk> top, sdta, pdta;
  if (!split_chunks(bytes.subspan(12, riff_size - 4), top, why)) return nullptr;
  if (!list_of(top, "sdta", sdta, why) || !list_of(top, "pdta", pdta, why)) return nullptr;

  auto font = std::make_shared<Font>();
  if (const Chunk* smpl = find_chunk(sdta, "smpl")) {
    font->data.resize(smpl->body.size() / 2);
    for (std::size_t i = 0; i < font->data.size(); ++i)
      font->data[i] = std::int16_t(le16(smpl->body.data() + 2 * i));
  }

  Bytes phdr, pbag, pgen, inst, ibag, igen, shdr;
  if (!records(pdta, "phdr", 38, 2, phdr, why) || !records(pdta, "pbag", 4, 1, pbag, why) ||
      !records(pdta, "pgen", 4, 1, pgen, why) || !records(pdta, "inst", 22, 2, inst, why) ||
      !records(pdta, "ibag", 4, 1, ibag, why) || !records(pdta, "igen", 4, 1, igen, why) ||
      !records(pdta, "shdr", 46, 2, shdr, why))
    return nullptr;
  const std::size_t n_pbag = pbag.size() / 4, n_ibag = ibag.size() / 4;
  if (!indexes_rise(phdr, 38, 24, n_pbag - 1))
    return fail(why, "preset bag indexes are out of order or range"), nullptr;
  if (!indexes_rise(pbag, 4, 0, pgen.size() / 4))
    return fail(why, "preset generator indexes are out of order or range"), nullptr;
  if (!indexes_rise(inst, 22, 20, n_ibag - 1))
    return fail(why, "instrument bag indexes are out of order or range"), nullptr;
  if (!indexes_rise(ibag, 4, 0, igen.size() / 4))
    return fail(why, "instrument generator indexes are out of order or range"), nullptr;

  const Bytes pmod = modulators(pdta, "pmod", pbag), imod = modulators(pdta, "imod", ibag);

  // Samples: clipped to the data; unusable ones keep their place, empty.
  const std::size_t n_samples = shdr.size() / 46 - 1;
  font->samples.resize(n_samples);
  for (std::size_t i = 0; i < n_samples; ++i) {
    const std::uint8_t* p = shdr.data() + 46 * i;
    Sample& s = font->samples[i];
    s.name = name_of(p);
    const std::uint32_t size = std::uint32_t(font->data.size());
    const std::uint32_t start = le32(p + 20), end = std::min(le32(p + 24), size);
    const std::uint32_t rate = le32(p + 36);
    const bool rom = (le16(p + 44) & 0x8000) != 0;
    if (rom || rate == 0 || start >= end) continue;  // stays empty: start == end
    s.start = start;
    s.end = end;
    s.rate = std::clamp<std::uint32_t>(rate, 400, 200000);
    s.original_key = p[40];
    s.pitch_correction = std::int8_t(p[41]);
    s.loop_start = std::max(le32(p + 28), start);
    s.loop_end = std::min(le32(p + 32), end);
    s.has_loop = s.loop_start < s.loop_end;
    if (!s.has_loop) s.loop_start = s.loop_end = 0;
  }

  const std::size_t n_inst = inst.size() / 22 - 1;
  font->instruments.resize(n_inst);
  for (std::size_t i = 0; i < n_inst; ++i) {
    Instrument& in = font->instruments[i];
    in.name = name_of(inst.data() + 22 * i);
    read_zones(
        ibag, igen, imod, le16(inst.data() + 22 * i + 20), le16(inst.data() + 22 * (i + 1) + 20),
        false,
        [&](int s) { return std::size_t(s) < n_samples && font->samples[std::size_t(s)].end > 0; },
        in.global, in.zones);
  }

  const std::size_t n_presets = phdr.size() / 38 - 1;
  for (std::size_t i = 0; i < n_presets; ++i) {
    const std::uint8_t* p = phdr.data() + 38 * i;
    Preset pr;
    pr.name = name_of(p);
    pr.program = le16(p + 20);
    pr.bank = le16(p + 22);
    read_zones(
        pbag, pgen, pmod, le16(p + 24), le16(p + 38 + 24), true,
        [&](int n) {
          return std::size_t(n) < n_inst && !font->instruments[std::size_t(n)].zones.empty();
        },
        pr.global, pr.zones);
    font->presets.push_back(std::move(pr));
  }
  if (font->presets.empty()) return fail(why, "the font has no presets"), nullptr;
  return font;
}

std::shared_ptr<const Font> load_font(const std::string& host_path, std::string* why) {
  const int h = host_file::open_read(host_path);
  if (h < 0) return fail(why, "cannot open " + host_path), nullptr;
  host_file::Info info;
  std::vector<std::uint8_t> bytes;
  bool ok = host_file::info_of(h, info) && info.regular;
  if (ok && info.size > kMaxFontBytes) {
    host_file::close(h);
    return fail(why, "the file is larger than 1 GiB"), nullptr;
  }
  if (ok) {
    bytes.resize(std::size_t(info.size));
    ok = host_file::read_exact_at(h, bytes.data(), bytes.size(), 0);
  }
  host_file::close(h);
  if (!ok) return fail(why, "cannot read " + host_path), nullptr;
  return read_font(bytes, why);
}

}  // namespace talven::audio::midi::sf2
