// The SoundFont 2 reader and synthesiser: fonts made in the test (a sine
// of known pitch) played note by note and measured, damaged fonts refused
// or sanitised, and the system's General MIDI font when it is installed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/midi/midi_player.h"
#include "audio/midi/sf2_font.h"
#include "audio/midi/sf2_synth.h"
#include "audio/midi/system_soundfonts.h"
#include "audio/mixer.h"
#include "sf2_test_font.h"

namespace talven::audio::midi {
namespace {

using test::sf2::FontSpec;
using test::sf2::Gens;
using test::sf2::sf2_bytes;
using test::sf2::sine_font;

std::shared_ptr<const sf2::Font> parse(const std::string& bytes, std::string* why = nullptr) {
  std::string reason;
  auto font = sf2::read_font(
      std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), &reason);
  if (why) *why = reason;
  return font;
}

constexpr std::uint32_t kRate = 44100;

struct Player {
  explicit Player(const FontSpec& font = sine_font(), std::uint32_t rate = kRate)
      : rate(rate), synth(parse(sf2_bytes(font)), rate) {}
  void send(int status, int d1, int d2 = 0) {
    synth.event(std::uint8_t(status), std::uint8_t(d1), std::uint8_t(d2));
  }
  // Renders `seconds` of output (in odd-sized pieces, as the sequencer does).
  std::vector<float> run(double seconds) {
    std::vector<float> out(std::size_t(seconds * rate) * 2);
    for (std::size_t at = 0; at < out.size() / 2;) {
      const std::size_t n = std::min<std::size_t>(out.size() / 2 - at, 37);
      synth.render(out.data() + 2 * at, n);
      at += n;
    }
    return out;
  }
  std::uint32_t rate;
  Sf2Synth synth;
};

// Rising zero crossings of one channel per second.
double frequency(const std::vector<float>& stereo, std::uint32_t rate, int channel = 0) {
  int rises = 0;
  for (std::size_t i = 2 + std::size_t(channel); i < stereo.size(); i += 2)
    if (stereo[i - 2] < 0 && stereo[i] >= 0) ++rises;
  return rises / (double(stereo.size() / 2) / rate);
}

double rms(const std::vector<float>& stereo, int channel = -1) {
  double sum = 0;
  std::size_t n = 0;
  for (std::size_t i = 0; i < stereo.size(); ++i)
    if (channel < 0 || int(i % 2) == channel) sum += double(stereo[i]) * stereo[i], ++n;
  return n ? std::sqrt(sum / double(n)) : 0;
}

// ---- pitch ----------------------------------------------------------------------

TEST(Sf2Synth, NotesSoundAtTheirPitchAtAnyOutputRate) {
  for (std::uint32_t rate : {44100u, 22050u, 48000u}) {
    Player p(sine_font(), rate);
    p.send(0x90, 69, 127);
    p.run(0.1);
    EXPECT_NEAR(frequency(p.run(1.0), rate), 440, 2) << rate;
    p.send(0x90, 81, 127);  // an octave up
    p.send(0x80, 69);
    p.run(0.1);
    EXPECT_NEAR(frequency(p.run(1.0), rate), 880, 3) << rate;
  }
}

TEST(Sf2Synth, PitchBendFollowsTheRangeRpnZeroSets) {
  Player p;
  p.send(0x90, 69, 127);
  p.send(0xE0, 0x7F, 0x7F);  // full bend up: 2 semitones at first
  p.run(0.1);
  EXPECT_NEAR(frequency(p.run(1.0), kRate), 440 * std::exp2(2 / 12.0), 3);
  for (auto [cc, v] : {std::pair{101, 0}, {100, 0}, {6, 12}, {38, 0}}) p.send(0xB0, cc, v);
  p.run(0.1);
  EXPECT_NEAR(frequency(p.run(1.0), kRate), 880, 4);
  p.send(0xB0, 121, 0);  // reset all controllers: the wheel back to the centre
  p.run(0.1);
  EXPECT_NEAR(frequency(p.run(1.0), kRate), 440, 2);
}

TEST(Sf2Synth, TuningGeneratorsLayerAsTheFormatSays) {
  // The instrument's global zone sets coarse tune +12; its zone says nothing.
  FontSpec f = sine_font();
  f.instruments[0].zones.insert(f.instruments[0].zones.begin(), Gens{{51, 12}});
  Player up(f);
  up.send(0x90, 69, 127);
  up.run(0.1);
  EXPECT_NEAR(frequency(up.run(1.0), kRate), 880, 3);
  // The zone's own +24 replaces the global +12; a preset zone adds -24.
  f.instruments[0].zones[1].insert(f.instruments[0].zones[1].begin(), {51, 24});
  f.presets[0].zones[0].insert(f.presets[0].zones[0].begin(), {51, -24});
  Player back(f);
  back.send(0x90, 69, 127);
  back.run(0.1);
  EXPECT_NEAR(frequency(back.run(1.0), kRate), 440, 2);
  // overridingRootKey and scaleTuning 0: every key plays the root's pitch.
  Player flat(sine_font({{54, 1}, {56, 0}, {58, 69}}));
  flat.send(0x90, 40, 127);
  flat.run(0.1);
  EXPECT_NEAR(frequency(flat.run(1.0), kRate), 440, 2);
}

TEST(Sf2Synth, ChannelTenPlaysTheDrumBank) {
  Player p;
  p.send(0x99, 69, 127);  // the kit's sample sits an octave up
  p.run(0.1);
  EXPECT_NEAR(frequency(p.run(1.0), kRate), 880, 3);
  p.send(0xB9, 0, 5);  // a bank select does not take channel 10 off the drums
  p.send(0xC9, 0);
  p.send(0x99, 69, 127);
  p.run(0.1);
  EXPECT_NEAR(frequency(p.run(1.0), kRate), 880, 3);
  // Bank 3 does not exist: bank 0's program plays.
  p.send(0xB0, 0, 3);
  p.send(0xC0, 0);
  p.send(0x90, 69, 127);
  p.send(0xB9, 120, 0);
  p.run(0.1);
  EXPECT_NEAR(frequency(p.run(1.0), kRate), 440, 2);
}

// ---- level and pan ----------------------------------------------------------------

double level_of(std::initializer_list<std::pair<int, int>> controllers, int velocity) {
  Player p;
  for (auto [cc, v] : controllers) p.send(0xB0, cc, v);
  p.send(0x90, 69, velocity);
  p.run(0.1);
  return rms(p.run(0.5));
}

TEST(Sf2Synth, VelocityVolumeAndExpressionScaleTheLevel) {
  const double full = level_of({{7, 127}}, 127);
  EXPECT_GT(full, 0.01);
  // Each follows -40·log10(v/127) dB: half the value is a quarter of the level.
  EXPECT_NEAR(level_of({{7, 127}}, 64) / full, std::pow(64 / 127.0, 2), 0.02);
  EXPECT_NEAR(level_of({{7, 64}}, 127) / full, std::pow(64 / 127.0, 2), 0.02);
  EXPECT_NEAR(level_of({{7, 127}, {11, 64}}, 127) / full, std::pow(64 / 127.0, 2), 0.02);
  EXPECT_LT(level_of({{7, 0}}, 127), full * 1e-4);
  // initialAttenuation of 100 cB counts as 40 cB: 4 dB down.
  Player quiet(sine_font({{54, 1}, {48, 100}}));
  quiet.send(0xB0, 7, 127);
  quiet.send(0x90, 69, 127);
  quiet.run(0.1);
  EXPECT_NEAR(rms(quiet.run(0.5)) / full, std::pow(10, -4 / 20.0), 0.02);
}

TEST(Sf2Synth, ZonesRestateDefaultModulatorAmounts) {
  const double full = level_of({{7, 127}}, 127);
  // Velocity to attenuation restated as 0 in the zone: soft notes are as
  // loud as hard ones; a global zone's amount counts where the zone is silent.
  FontSpec f = sine_font();
  f.instruments[0].mods = {{{0x0502, 48, 0}}};
  Player flat(f);
  flat.send(0xB0, 7, 127);
  flat.send(0x90, 69, 20);
  flat.run(0.1);
  EXPECT_NEAR(rms(flat.run(0.5)) / full, 1, 0.02);
  f = sine_font();
  f.instruments[0].zones.insert(f.instruments[0].zones.begin(), Gens{{51, 0}});
  f.instruments[0].mods = {{{0x0502, 48, 480}}, {}};  // half the curve: -20·log10
  Player half(f);
  half.send(0xB0, 7, 127);
  half.send(0x90, 69, 64);
  half.run(0.1);
  EXPECT_NEAR(rms(half.run(0.5)) / full, 64 / 127.0, 0.02);
  // A damaged modulator list is ignored; the font still plays.
  std::string bytes = sf2_bytes(sine_font());
  bytes[test::sf2::chunk_at(bytes, "ibag") + 8 + 2] = 9;  // a modulator index past the list
  auto font = parse(bytes);
  ASSERT_TRUE(font);
  EXPECT_EQ(font->instruments[0].zones[0].mod_set, 0);
}

TEST(Sf2Synth, PanMovesTheSoundBetweenTheChannels) {
  Player p;
  p.send(0x90, 69, 127);
  p.run(0.1);
  std::vector<float> mid = p.run(0.5);
  EXPECT_NEAR(rms(mid, 0), rms(mid, 1), 1e-4);
  p.send(0xB0, 10, 0);
  p.run(0.1);
  std::vector<float> left = p.run(0.5);
  EXPECT_GT(rms(left, 0), 50 * rms(left, 1));
  p.send(0xB0, 10, 127);
  p.run(0.1);
  std::vector<float> right = p.run(0.5);
  EXPECT_GT(rms(right, 1), 50 * rms(right, 0));
  // The zone's own pan adds to the controller's.
  Player zone(sine_font({{54, 1}, {17, -500}}));
  zone.send(0x90, 69, 127);
  zone.run(0.1);
  std::vector<float> z = zone.run(0.5);
  EXPECT_GT(rms(z, 0), 50 * rms(z, 1));
}

// ---- note ends, loops and pedals ----------------------------------------------------

TEST(Sf2Synth, LoopModesDecideHowLongANoteLasts) {
  // The sample alone lasts 10000 / 44000 s.
  Player looped;  // continuous loop: sounds while held, stops after release
  looped.send(0x90, 69, 127);
  looped.run(1.0);
  EXPECT_GT(rms(looped.run(0.2)), 0.01);
  looped.send(0x80, 69);
  looped.run(0.05);
  EXPECT_EQ(rms(looped.run(0.2)), 0);
  EXPECT_EQ(looped.synth.active_voices(), 0);

  Player once(sine_font({{54, 0}}));  // no loop: ends with the sample, key held
  once.send(0x90, 69, 127);
  EXPECT_GT(rms(once.run(0.2)), 0.01);
  once.run(0.1);
  EXPECT_EQ(rms(once.run(0.2)), 0);
  EXPECT_EQ(once.synth.active_voices(), 0);

  // Loop until release, with a long release: plays on through the loop's
  // end to the sample's end once let go.
  Player until(sine_font({{54, 3}, {38, 2400}}));
  until.send(0x90, 69, 127);
  until.run(1.0);
  EXPECT_GT(rms(until.run(0.2)), 0.01);
  until.send(0x80, 69);
  EXPECT_GT(rms(until.run(0.01)), 0.01);
  until.run(0.25);
  EXPECT_EQ(until.synth.active_voices(), 0);
}

TEST(Sf2Synth, ReleaseDecaysToSilenceOverItsTime) {
  Player p(sine_font({{54, 1}, {38, 0}}));  // release 1 s for the full 100 dB
  p.send(0x90, 69, 127);
  p.run(0.2);
  const double held = rms(p.run(0.1));
  p.send(0x80, 69);
  const double early = rms(p.run(0.1));  // 0 to 10 dB down
  EXPECT_LT(early, held);
  EXPECT_GT(early, held * 0.3);
  p.run(0.4);
  const double late = rms(p.run(0.2));  // 50 to 70 dB down
  EXPECT_LT(late, held * 0.01);
  p.run(0.4);
  EXPECT_EQ(p.synth.active_voices(), 0);
}

TEST(Sf2Synth, SustainPedalAndChannelModeMessages) {
  Player p;
  p.send(0xB0, 64, 127);
  p.send(0x90, 69, 127);
  p.send(0x80, 69);
  p.run(0.3);
  EXPECT_EQ(p.synth.active_voices(), 1);  // held by the pedal
  p.send(0xB0, 64, 0);
  p.run(0.1);
  EXPECT_EQ(p.synth.active_voices(), 0);

  p.send(0x90, 69, 127);
  p.send(0x91, 70, 127);
  p.send(0xB0, 123, 0);  // all notes off: channel 1 only
  p.run(0.1);
  EXPECT_EQ(p.synth.active_voices(), 1);
  p.send(0xB1, 120, 0);  // all sound off: at once
  EXPECT_EQ(p.synth.active_voices(), 0);
  p.send(0x90, 69, 127);
  p.synth.all_sounds_off();
  EXPECT_EQ(rms(p.run(0.1)), 0);
}

TEST(Sf2Synth, VoicesAreLimitedAndExclusiveClassesCutEachOther) {
  Player p;
  for (int ch = 0; ch < 16; ++ch)
    if (ch != 9)
      for (int key = 0; key < 20; ++key) p.send(0x90 | ch, key + 40, 100);
  EXPECT_EQ(p.synth.active_voices(), Sf2Synth::kMaxVoices);
  p.send(0x90, 100, 127);  // a new note still sounds, in a stolen voice
  EXPECT_EQ(p.synth.active_voices(), Sf2Synth::kMaxVoices);
  p.synth.all_sounds_off();
  p.send(0x99, 60, 127);  // the kit's zone has exclusive class 1
  p.send(0x99, 62, 127);
  EXPECT_EQ(p.synth.active_voices(), 1);
}

TEST(Sf2Synth, TheSameEventsRenderTheSameOutput) {
  auto play = [] {
    Player p;
    p.send(0xB0, 1, 100);  // vibrato
    p.send(0x90, 60, 90);
    p.send(0x99, 36, 110);
    std::vector<float> a = p.run(0.3);
    p.send(0x80, 60);
    std::vector<float> b = p.run(0.3);
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  EXPECT_EQ(play(), play());
}

TEST(Sf2Synth, PlaysASongThroughTheSequencerAndTheMixer) {
  static std::shared_ptr<const sf2::Font> font;
  font = parse(sf2_bytes(sine_font()));
  Mixer mixer(48000);
  ASSERT_TRUE(midi_start_with(&mixer, [](std::uint32_t rate) -> std::unique_ptr<Synth> {
    return std::make_unique<Sf2Synth>(font, rate);
  }));
  // One track: A4 held for one second (two beats at 120 bpm), then its end.
  const std::string track("\0\x90\x45\x7F\x87\x40\x80\x45\0\0\xFF\x2F\0", 13);
  std::string smf("MThd\0\0\0\6\0\0\0\1\x01\xE0MTrk\0\0\0", 21);
  smf += char(track.size());
  ASSERT_EQ(midi_load_bytes(smf + track), 1);
  ASSERT_EQ(midi_play(), 1);
  std::vector<float> out(48000 / 2 * 2);
  mixer.render(out.data(), out.size() / 2);
  EXPECT_NEAR(frequency(out, 48000), 440, 3);
  EXPECT_EQ(midi_isplay(), 1);
  std::vector<float> rest(48000 * 2);
  mixer.render(rest.data(), rest.size() / 2);  // past the song's end
  EXPECT_EQ(midi_isplay(), 0);
  midi_shutdown();
  font.reset();
}

// ---- the reader ---------------------------------------------------------------------

TEST(Sf2Reader, ReadsPresetsInstrumentsAndSamples) {
  std::string why;
  auto font = parse(sf2_bytes(sine_font()), &why);
  ASSERT_TRUE(font) << why;
  ASSERT_EQ(font->presets.size(), 2u);
  EXPECT_EQ(font->find(128, 0), &font->presets[1]);
  EXPECT_EQ(font->find(1, 0), nullptr);
  ASSERT_EQ(font->samples.size(), 1u);
  const sf2::Sample& s = font->samples[0];
  EXPECT_EQ(s.end, 10000u);
  EXPECT_TRUE(s.has_loop);
  EXPECT_EQ(s.loop_start, 100u);
  EXPECT_EQ(s.loop_end, 9100u);
  ASSERT_EQ(font->instruments[1].zones.size(), 1u);
  EXPECT_EQ(font->instruments[1].zones[0].gen[sf2::kRootKey], 57);
}

TEST(Sf2Reader, DamagedHydrasAreRefusedWithAReason) {
  const std::string good = sf2_bytes(sine_font());
  auto refused = [](std::string bytes) {
    std::string why;
    const bool ok = parse(bytes, &why) != nullptr;
    EXPECT_TRUE(ok || !why.empty());
    return !ok;
  };
  // Every cut: refused or read, never a crash or an overrun (ASan build).
  for (std::size_t n = 0; n < good.size(); n += 7) refused(good.substr(0, n));
  EXPECT_TRUE(refused(good.substr(0, good.size() - 1)));
  EXPECT_TRUE(refused("RIFF\4\0\0\0sfbk"));
  EXPECT_TRUE(refused(std::string(64, 'x')));

  // Bytes replaced at an offset from a chunk's header (its records start at 8).
  auto patched = [&](const char* id, std::size_t at, std::string bytes) {
    std::string f = good;
    f.replace(test::sf2::chunk_at(f, id) + at, bytes.size(), bytes);
    return f;
  };
  // A preset's bag index beyond the bags, and falling bag indexes.
  EXPECT_TRUE(refused(patched("phdr", 8 + 38 + 24, std::string("\x50\0", 2))));
  EXPECT_TRUE(refused(patched("phdr", 8 + 24, std::string("\x02\0", 2))));
  EXPECT_TRUE(refused(patched("phdr", 8 + 2 * 38 + 24, std::string("\x50\0", 2))));  // terminal
  // Generator indexes falling, or rising beyond the generators.
  EXPECT_TRUE(refused(patched("ibag", 8, std::string("\x40\0", 2))));
  EXPECT_TRUE(refused(patched("ibag", 8 + 2 * 4, std::string("\x40\0", 2))));  // terminal
  // A chunk size past its list; a record count that is not whole.
  EXPECT_TRUE(refused(patched("pgen", 4, std::string("\xFF\xFF\0\0", 4))));
  std::string odd = good;
  const std::size_t shdr = test::sf2::chunk_at(odd, "shdr");
  odd[shdr + 4] = char(odd[shdr + 4] - 2);
  EXPECT_TRUE(refused(odd));
}

TEST(Sf2Reader, BadSamplesAndTargetsAreSanitised) {
  // Sample 0's end and loop end past the data: clipped to it.
  FontSpec f = sine_font();
  f.samples[0].end = 900000;
  f.samples[0].loop_end = 800000;
  auto font = parse(sf2_bytes(f));
  ASSERT_TRUE(font);
  EXPECT_EQ(font->samples[0].end, font->data.size());
  EXPECT_LE(font->samples[0].loop_end, font->samples[0].end);
  // A loop that ends before it starts is dropped; the sample still plays.
  f = sine_font();
  f.samples[0].loop_start = 5000;
  f.samples[0].loop_end = 10;
  font = parse(sf2_bytes(f));
  ASSERT_TRUE(font);
  EXPECT_FALSE(font->samples[0].has_loop);
  // A sample starting past the data, or of rate 0, is dropped with its zones.
  f = sine_font();
  f.samples.push_back({20000, 30000, 0, 0, 44000, 60});
  f.samples.push_back({0, 100, 0, 0, 0, 60});
  f.instruments[0].zones = {{{53, 1}}, {{53, 2}}, {{53, 7}}, {{54, 1}, {53, 0}}};
  f.presets[0].zones.insert(f.presets[0].zones.begin(), {{41, 9}});  // no such instrument
  font = parse(sf2_bytes(f));
  ASSERT_TRUE(font);
  ASSERT_EQ(font->instruments[0].zones.size(), 1u);
  EXPECT_EQ(font->instruments[0].zones[0].target, 0);
  ASSERT_EQ(font->presets[0].zones.size(), 1u);
  // Sample offsets that leave the data are clipped when the note starts;
  // a start past the data plays nothing.
  Player p(sine_font({{54, 1}, {1, 30000}, {3, 30000}}));
  p.send(0x90, 69, 127);
  p.run(0.1);
  EXPECT_NEAR(frequency(p.run(0.5), kRate), 440, 4);
  Player none(sine_font({{54, 1}, {4, 5}}));
  none.send(0x90, 69, 127);
  EXPECT_EQ(none.synth.active_voices(), 0);
  EXPECT_EQ(rms(none.run(0.1)), 0);
}

TEST(Sf2Reader, TheSystemGeneralMidiFontPlays) {
  const std::string path = "/usr/share/sounds/sf2/TimGM6mb.sf2";
  std::string why;
  auto font = sf2::load_font(path, &why);
  if (!font && why.rfind("cannot open", 0) == 0) GTEST_SKIP() << path << " is not installed";
  ASSERT_TRUE(font) << why;
  EXPECT_GT(font->presets.size(), 100u);
  Sf2Synth synth(font, kRate);
  for (int key : {60, 64, 67}) synth.event(0x90, std::uint8_t(key), 100);
  synth.event(0x99, 36, 100);
  synth.event(0x99, 42, 100);
  std::vector<float> out(kRate * 2);
  synth.render(out.data(), kRate);
  EXPECT_GT(rms(out), 0.01);
  float peak = 0;
  for (float x : out) peak = std::max(peak, std::abs(x));
  EXPECT_LT(peak, 1.0f);
  EXPECT_GE(synth.active_voices(), 3);
}

TEST(Sf2Reader, TheFontIsTheConfiguredOneThenTheGamesThenTheSystems) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("talven_sf2_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "fonts");
  for (const char* name : {"b.SF2", "a.sf2", "fonts/own.sf2", "notes.txt"})
    std::ofstream(dir / name, std::ios::binary) << sf2_bytes(sine_font());
  fs::create_directories(dir / "0.sf2");  // a folder is not a font
  const std::string game = dir.string();
  EXPECT_EQ(find_soundfont("fonts/own.sf2", game), game + "/fonts/own.sf2");
  EXPECT_EQ(find_soundfont("missing.sf2", game), game + "/a.sf2");
  fs::remove(dir / "a.sf2");
  EXPECT_EQ(find_soundfont("", game), game + "/b.SF2");
  // No font in the game: the first of the system's that exists.
  std::string system;
  for (const std::string& p : system_soundfonts())
    if (fs::is_regular_file(p)) {
      system = p;
      break;
    }
  EXPECT_EQ(find_soundfont("", (dir / "fonts" / "none").string()), system);
  std::string why;
  EXPECT_TRUE(sf2::load_font(game + "/fonts/own.sf2", &why)) << why;
  EXPECT_FALSE(sf2::load_font(game + "/0.sf2", &why));
  EXPECT_FALSE(why.empty());
  fs::remove_all(dir);
}

}  // namespace
}  // namespace talven::audio::midi
