// Tiny SoundFont 2 files made on the spot: a sine sample of exact period,
// presets and instruments whose zones the tests set generator by generator.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "audio_test_util.h"

namespace talven::test::sf2 {

using Gens = std::vector<std::pair<std::uint16_t, std::int32_t>>;  // generator, amount

struct SampleSpec {
  std::uint32_t start = 0, end = 0, loop_start = 0, loop_end = 0, rate = 44000;
  std::uint8_t key = 69;
};
// A modulator: source, destination generator, amount.
struct ModSpec {
  std::uint16_t source, destination;
  std::int16_t amount;
};
using Mods = std::vector<ModSpec>;

struct InstSpec {
  std::vector<Gens> zones;  // a zone ending in sampleID (53), or a global zone first
  std::vector<Mods> mods;   // zone by zone (missing ones have none)
};
struct PresetSpec {
  std::uint16_t program = 0, bank = 0;
  std::vector<Gens> zones;  // a zone ending in instrument (41), or a global zone first
};
struct FontSpec {
  std::vector<std::int16_t> data;
  std::vector<SampleSpec> samples;
  std::vector<InstSpec> instruments;
  std::vector<PresetSpec> presets;
};

// Sample 0: 100 cycles of a sine of period 100 points at 44000 Hz (440 Hz
// at its key 69), looped over cycles 1 to 90.
inline FontSpec sine_font(Gens instrument_zone = {{54, 1}}) {
  FontSpec f;
  for (int i = 0; i < 10000; ++i)
    f.data.push_back(std::int16_t(std::lround(16000 * std::sin(2 * std::numbers::pi * i / 100))));
  f.data.resize(f.data.size() + 46, 0);
  f.samples.push_back({0, 10000, 100, 9100, 44000, 69});
  instrument_zone.push_back({53, 0});
  f.instruments.push_back({{instrument_zone}, {}});
  // The drum kit: the same sample an octave up.
  f.instruments.push_back({{{{54, 1}, {58, 57}, {57, 1}, {53, 0}}}, {}});
  f.presets.push_back({0, 0, {{{41, 0}}}});
  f.presets.push_back({0, 128, {{{41, 1}}}});
  return f;
}

inline std::string riff_chunk(const char* id, const std::string& body) {
  std::string out(id, 4);
  put32(out, std::uint32_t(body.size()));
  out += body;
  if (body.size() & 1) out.push_back('\0');
  return out;
}

inline std::string name20(const std::string& name) {
  std::string n = name.substr(0, 19);
  n.resize(20, '\0');
  return n;
}

inline std::string sf2_bytes(const FontSpec& f) {
  std::string smpl;
  for (std::int16_t s : f.data) put16(smpl, std::uint16_t(s));

  std::string phdr, pbag, pgen, inst, ibag, igen, shdr, pmod, imod;
  auto zones = [](const std::vector<Gens>& list, const std::vector<Mods>& mods, std::string& bag,
                  std::string& gen, std::string& mod) {
    for (std::size_t i = 0; i < list.size(); ++i) {
      put16(bag, std::uint16_t(gen.size() / 4));
      put16(bag, std::uint16_t(mod.size() / 10));
      for (auto [oper, amount] : list[i]) {
        put16(gen, oper);
        put16(gen, std::uint16_t(amount));
      }
      if (i < mods.size())
        for (const ModSpec& m : mods[i]) {
          put16(mod, m.source), put16(mod, m.destination), put16(mod, std::uint16_t(m.amount));
          put16(mod, 0), put16(mod, 0);
        }
    }
  };
  for (std::size_t i = 0; i < f.presets.size(); ++i) {
    phdr += name20("preset" + std::to_string(i));
    put16(phdr, f.presets[i].program);
    put16(phdr, f.presets[i].bank);
    put16(phdr, std::uint16_t(pbag.size() / 4));
    put32(phdr, 0), put32(phdr, 0), put32(phdr, 0);
    zones(f.presets[i].zones, {}, pbag, pgen, pmod);
  }
  phdr += name20("EOP");
  put16(phdr, 0), put16(phdr, 0), put16(phdr, std::uint16_t(pbag.size() / 4));
  put32(phdr, 0), put32(phdr, 0), put32(phdr, 0);
  put16(pbag, std::uint16_t(pgen.size() / 4)), put16(pbag, 0);
  pmod += std::string(10, '\0');
  put32(pgen, 0);
  for (std::size_t i = 0; i < f.instruments.size(); ++i) {
    inst += name20("inst" + std::to_string(i));
    put16(inst, std::uint16_t(ibag.size() / 4));
    zones(f.instruments[i].zones, f.instruments[i].mods, ibag, igen, imod);
  }
  inst += name20("EOI");
  put16(inst, std::uint16_t(ibag.size() / 4));
  put16(ibag, std::uint16_t(igen.size() / 4)), put16(ibag, std::uint16_t(imod.size() / 10));
  imod += std::string(10, '\0');
  put32(igen, 0);
  for (std::size_t i = 0; i <= f.samples.size(); ++i) {
    const SampleSpec s = i < f.samples.size() ? f.samples[i] : SampleSpec{};
    shdr += name20(i < f.samples.size() ? "sample" + std::to_string(i) : "EOS");
    put32(shdr, s.start), put32(shdr, s.end), put32(shdr, s.loop_start), put32(shdr, s.loop_end);
    put32(shdr, s.rate);
    shdr += char(s.key);
    shdr += '\0';
    put16(shdr, 0), put16(shdr, 1);
  }
  std::string ifil;
  put16(ifil, 2), put16(ifil, 1);
  const std::string info = "INFO" + riff_chunk("ifil", ifil) + riff_chunk("INAM", "tiny");
  const std::string sdta = "sdta" + riff_chunk("smpl", smpl);
  const std::string pdta =
      "pdta" + riff_chunk("phdr", phdr) + riff_chunk("pbag", pbag) + riff_chunk("pmod", pmod) +
      riff_chunk("pgen", pgen) + riff_chunk("inst", inst) + riff_chunk("ibag", ibag) +
      riff_chunk("imod", imod) + riff_chunk("igen", igen) + riff_chunk("shdr", shdr);
  return riff_chunk("RIFF", "sfbk" + riff_chunk("LIST", info) + riff_chunk("LIST", sdta) +
                                riff_chunk("LIST", pdta));
}

// Where chunk `id` starts (its header) in a built file.
inline std::size_t chunk_at(const std::string& file, const char* id) {
  return file.find(std::string(id, 4));
}

}  // namespace talven::test::sf2
