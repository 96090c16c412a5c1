// The one-feature samples without a test of their own: Music Box (MIDI) and
// Picture Show (video), each run headless from a copy of its folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "graphics/plane/image_io.h"
#include "support/run_binary.h"

namespace {

namespace fs = std::filesystem;

const fs::path kExamples = fs::path(TALVEN_TEST_DATA).parent_path().parent_path() / "examples";

struct Sample {
  fs::path dir;
  explicit Sample(const std::string& name) {
    dir = fs::temp_directory_path() / ("talven_gallery_" + name + "_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::copy(kExamples / name, dir, fs::copy_options::recursive);
  }
  ~Sample() { fs::remove_all(dir); }
};

// RMS of the left channel of a 16-bit stereo WAV, per 50 ms window.
std::vector<double> window_levels(const fs::path& path, int& rate) {
  std::vector<double> levels;
  std::string d;
  if (!talven::read_file(path.string(), d) || d.size() < 44) return levels;
  std::uint32_t r;
  std::memcpy(&r, d.data() + 24, 4);
  rate = static_cast<int>(r);
  std::size_t i = 12;
  while (i + 8 <= d.size() && d.compare(i, 4, "data") != 0) {
    std::uint32_t size;
    std::memcpy(&size, d.data() + i + 4, 4);
    i += 8 + size + (size & 1);
  }
  if (i + 8 > d.size() || rate <= 0) return levels;
  const std::size_t frames = (d.size() - i - 8) / 4, win = static_cast<std::size_t>(rate / 20);
  for (std::size_t w = 0; w + win <= frames; w += win) {
    double sum = 0;
    for (std::size_t f = w; f < w + win; ++f) {
      std::int16_t s;
      std::memcpy(&s, d.data() + i + 8 + f * 4, 2);
      sum += double(s) * s;
    }
    levels.push_back(std::sqrt(sum / double(win)) / 32768.0);
  }
  return levels;
}

double mean_level(const std::vector<double>& l, double from_s, double to_s) {
  std::size_t a = static_cast<std::size_t>(from_s * 20),
              b = std::min(l.size(), static_cast<std::size_t>(to_s * 20));
  if (b <= a) return 0;
  double sum = 0;
  for (std::size_t i = a; i < b; ++i) sum += l[i];
  return sum / double(b - a);
}

TEST(GalleryMusicBox, PlaysPausesAndFadesItsOwnSong) {
  Sample s("music");
  const fs::path wav = s.dir / "out.wav";
  auto r = talven::test::run_talven("--headless --log --timeout 30 --audio-out " + wav.string() +
                                    " " + s.dir.string());
  ASSERT_EQ(r.status, 0) << r.out;  // the sample counts its own failed checks
  EXPECT_TRUE(fs::exists(s.dir / "tune.mid"));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex("paused at ([0-9]+) ms"))) << r.out;
  EXPECT_GE(std::stoi(m[1]), 1500);

  int rate = 0;
  auto levels = window_levels(wav, rate);
  ASSERT_GT(levels.size(), 70u) << "under 3.5 s of sound";
  const double playing = mean_level(levels, 0.2, 1.4);
  EXPECT_GT(playing, 0.005);
  // The pause is a silent stretch of at least 150 ms...
  int silent_run = 0, longest = 0;
  for (std::size_t i = 20; i < 52 && i < levels.size(); ++i) {
    silent_run = levels[i] < playing * 0.05 ? silent_run + 1 : 0;
    longest = std::max(longest, silent_run);
  }
  EXPECT_GE(longest, 3);
  // ...the song plays on after it, and the fade to 40 leaves it far quieter.
  EXPECT_GT(mean_level(levels, 2.2, 2.9), playing * 0.5);
  EXPECT_LT(mean_level(levels, 3.4, 3.9), playing * 0.4);
}

TEST(GalleryPictureShow, PlaysTheClipInItsFrame) {
  if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg missing";
  Sample s("video");
  ASSERT_EQ(std::system(
                ((s.dir / "make_clip.sh").string() + " " + (s.dir / "clip.mp4").string()).c_str()),
            0);

  // Mid-clip: the picture fills the frame's inside, the frame stays around it.
  const fs::path shot = s.dir / "shot.png";
  auto mid = talven::test::run_talven("--headless --frames 100 --screenshot " + shot.string() +
                                      " " + s.dir.string());
  EXPECT_EQ(mid.status, 124) << mid.out;
  std::string png;
  ASSERT_TRUE(talven::read_file(shot.string(), png)) << mid.out;
  talven::graphics::MemorySource src(png.data(), png.size());
  auto plane = talven::graphics::read_png(src);
  ASSERT_TRUE(plane);
  ASSERT_EQ(plane->width, 640);
  const int bytes = plane->bpp / 8;
  auto rgb = [&](int x, int y) {
    const std::uint8_t* p = plane->row(y) + x * bytes;
    return (p[2] << 16) | (p[1] << 8) | p[0];
  };
  const int frame = rgb(155, 150);
  EXPECT_NEAR((frame >> 16) & 255, 0xC0, 8);
  EXPECT_NEAR((frame >> 8) & 255, 0xA0, 8);
  std::set<int> colours;  // the test picture's bars along one row
  for (int x = 165; x < 475; x += 10) colours.insert(rgb(x, 130) & 0xE0E0E0);
  EXPECT_GE(colours.size(), 5u);
  EXPECT_EQ(rgb(20, 20), 0x102030);  // outside the frame: the script's background

  // To the end: 3 s of clip and the half-second pause, then a clean close.
  auto full = talven::test::run_talven("--headless --log --timeout 30 " + s.dir.string());
  EXPECT_EQ(full.status, 0) << full.out;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(full.out, m, std::regex("shown for ([0-9]+) frames"))) << full.out;
  EXPECT_GT(std::stoi(m[1]), 170);
  EXPECT_LT(std::stoi(m[1]), 300);
}

}  // namespace
