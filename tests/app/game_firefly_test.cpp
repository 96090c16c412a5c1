// Firefly Night, built as a release (archives only) and played headless from
// its recorded input: the result, the save data, the last frame and the
// sound of the run are checked.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "graphics/plane/image_io.h"
#include "lib/numbers.h"
#include "storage/archive.h"
#include "support/game_font.h"
#include "support/run_binary.h"

namespace {

namespace fs = std::filesystem;

const fs::path kGame =
    fs::path(TALVEN_TEST_DATA).parent_path().parent_path() / "examples" / "firefly";
constexpr int kRoundStart = 139;  // the frame the round begins on in the recording

// Builds the release (archives only) into a fresh folder, with a short round
// and Quit ending the run with the score as its result.
// Where Python cannot be started (Windows), the build made the release
// beforehand into firefly-release beside the binary, and it is copied.
bool build_release(const fs::path& dir) {
  fs::remove_all(dir);
  if (talven::test::have_tool("python3")) {
    const std::string cmd = "python3 " + (kGame / "make_release.py").string() + " " +
                            TALVEN_BINARY + " " + dir.string() + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return false;
  } else {
    std::error_code ec;
    fs::copy(fs::path(TALVEN_BINARY).parent_path() / "firefly-release", dir,
             fs::copy_options::recursive, ec);
    if (ec) return false;
  }
  std::string cfg;
  if (!talven::read_file((dir / "Firefly.cfg").string(), cfg)) return false;
  for (auto [from, to] :
       {std::pair{"RoundFrames=7200", "RoundFrames=600"}, {"ReturnScore=0", "ReturnScore=1"}}) {
    auto at = cfg.find(from);
    if (at == std::string::npos) return false;
    cfg.replace(at, std::strlen(from), to);
  }
  return talven::write_file_atomic((dir / "Firefly.cfg").string(), cfg);
}

struct Wave {
  int rate = 0;
  std::vector<float> left;  // -1..1
  double rms(double from_s, double to_s) const {
    std::size_t a = static_cast<std::size_t>(std::max(0.0, from_s) * rate);
    std::size_t b = std::min(left.size(), static_cast<std::size_t>(to_s * rate));
    if (b <= a) return 0;
    double sum = 0;
    for (std::size_t i = a; i < b; ++i) sum += double(left[i]) * left[i];
    return std::sqrt(sum / double(b - a));
  }
  double seconds() const { return rate ? double(left.size()) / rate : 0; }
};

// The 16-bit stereo WAV that --audio-out writes.
bool read_wave(const fs::path& path, Wave& w) {
  std::string d;
  if (!talven::read_file(path.string(), d) || d.size() < 12 || d.compare(0, 4, "RIFF") != 0)
    return false;
  std::size_t i = 12;
  int channels = 0;
  while (i + 8 <= d.size()) {
    std::uint32_t size;
    std::memcpy(&size, d.data() + i + 4, 4);
    if (d.compare(i, 4, "fmt ") == 0 && size >= 16) {
      std::uint16_t ch;
      std::uint32_t rate;
      std::memcpy(&ch, d.data() + i + 10, 2);
      std::memcpy(&rate, d.data() + i + 12, 4);
      channels = ch;
      w.rate = static_cast<int>(rate);
    } else if (d.compare(i, 4, "data") == 0) {
      if (channels != 2 || w.rate <= 0) return false;
      std::size_t frames = std::min<std::size_t>(size, d.size() - i - 8) / 4;
      w.left.resize(frames);
      for (std::size_t f = 0; f < frames; ++f) {
        std::int16_t s;
        std::memcpy(&s, d.data() + i + 8 + f * 4, 2);
        w.left[f] = s / 32768.0f;
      }
      return true;
    }
    i += 8 + size + (size & 1);
  }
  return false;
}

std::vector<int> frames_logged(const std::string& out, const std::string& what) {
  std::vector<int> frames;
  std::regex line(what + " at frame ([0-9]+)");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator();
       ++it)
    frames.push_back(std::stoi((*it)[1]));
  return frames;
}

TEST(FireflyGame, RecordedPlayReachesItsKnownEndAndQuitCloses) {
  struct Dir {
    fs::path dir = fs::temp_directory_path() / ("talven_firefly_" + std::to_string(::getpid()));
    ~Dir() { fs::remove_all(dir); }
  } r;
  ASSERT_TRUE(build_release(r.dir)) << "make_release.py failed";
  // The release reads archives only: the tests' face goes in as fonts.bin.
  std::string error;
  ASSERT_TRUE(talven::storage::write_archive(
      (r.dir / "fonts.bin").string(), {{"ipag.ttf", talven::test::test_font_file().string()}}, 7,
      &error))
      << error;
  ASSERT_TRUE(fs::exists(r.dir / "data.bin"));
  ASSERT_TRUE(fs::exists(r.dir / "Firefly.bin"));
  ASSERT_FALSE(fs::exists(r.dir / "Firefly" / "main.c"));  // scripts come from the archive

  // A damaged save file is replaced by a new table, not trusted.
  ASSERT_TRUE(talven::write_file_atomic((r.dir / "Firefly.sav").string(), std::string(48, '\x7f')));

  const fs::path shot = r.dir / "end.png", sound = r.dir / "run.wav";
  auto run = talven::test::run_talven(
      "--headless --log --timeout 90 --input " + (kGame / "demo.txt").string() + " --audio-out " +
      sound.string() + " --screenshot " + shot.string() + " " + r.dir.string());
  // Eight catches and one sting: 8 - 2.
  EXPECT_EQ(run.status, 6) << run.out;
  EXPECT_NE(run.out.find("the save data was damaged"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("round of 600 frames from frame " + std::to_string(kRoundStart)),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("result 6, place 0"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("final score 6, best 6, 820 frames"), std::string::npos) << run.out;
  const std::vector<int> catches = frames_logged(run.out, "caught firefly [0-9]+");
  const std::vector<int> stings = frames_logged(run.out, "stung");
  EXPECT_EQ(catches.size(), 8u);
  ASSERT_EQ(stings.size(), 1u);

  // The save data: magic, the table best first, dates, and its CRC-32.
  std::string save;
  ASSERT_TRUE(talven::read_file((r.dir / "Firefly.sav").string(), save));
  ASSERT_EQ(save.size(), 48u);
  std::int32_t words[12];
  std::memcpy(words, save.data(), 48);
  EXPECT_EQ(words[0], 0x59464C46);
  EXPECT_EQ(words[1], 6);
  EXPECT_EQ(words[2], 0);
  EXPECT_GT(words[6], 20000101);  // today as yyyymmdd
  EXPECT_EQ(static_cast<std::uint32_t>(words[11]),
            talven::lib::crc32({reinterpret_cast<const std::uint8_t*>(save.data()), 44}));

  // The last frame: the title with Quit chosen and the high scores open.
  std::string png;
  ASSERT_TRUE(talven::read_file(shot.string(), png)) << run.out;
  talven::graphics::MemorySource src(png.data(), png.size());
  auto plane = talven::graphics::read_png(src);
  ASSERT_TRUE(plane);
  ASSERT_EQ(plane->width, 1280);
  ASSERT_EQ(plane->height, 720);
  const int bytes = plane->bpp / 8;
  auto rgb = [&](int x, int y) {
    const std::uint8_t* p = plane->row(y) + x * bytes;  // blue, green, red
    return std::array<int, 3>{p[2], p[1], p[0]};
  };
  auto bright = [&](int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) {
        auto c = rgb(x, y);
        if (c[0] + c[1] + c[2] > 500) ++n;
      }
    return n;
  };
  auto quit_bar = rgb(110, 478), start_row = rgb(110, 325), moon = rgb(1040, 110),
       pond = rgb(640, 700);
  EXPECT_GT(quit_bar[0], 130);  // the golden highlight sits on Quit...
  EXPECT_GT(quit_bar[1], 130);
  EXPECT_LT(quit_bar[2], 120);
  EXPECT_LT(start_row[0], 70);  // ...and not on Start
  EXPECT_GT(moon[0], 230);
  EXPECT_LT(pond[0], 60);
  EXPECT_GT(pond[2], pond[0]);
  EXPECT_GT(bright(120, 70, 580, 170), 3000);    // the title text
  EXPECT_GT(bright(720, 290, 1160, 560), 1500);  // the high-score table
  EXPECT_LT(bright(700, 200, 1200, 280), 200);   // sky above the table

  // The sound: music and the night never stop, the title's idle second is
  // quiet, and every catch and the sting ring out when they happen.
  Wave w;
  ASSERT_TRUE(read_wave(sound, w));
  EXPECT_GT(w.seconds(), 820 / 60.0 - 0.5);
  for (double t = 0.5; t + 0.5 < w.seconds() - 0.3; t += 0.5)
    EXPECT_GT(w.rms(t, t + 0.5), 0.001) << "at " << t;
  const double quiet = w.rms(1.0, 1.5);
  // Frames map to times only when the run kept 60 frames a second (a
  // sanitizer build may not: then its sound runs ahead of the frames).
  if (w.seconds() < 820 / 60.0 * 1.15) {
    EXPECT_LT(quiet, 0.03);
    for (int n : catches) {
      double t = (kRoundStart + n) / 60.0;
      EXPECT_GT(w.rms(t - 0.05, t + 0.45), 4 * quiet) << "catch at frame " << n;
    }
    double t = (kRoundStart + stings[0]) / 60.0;
    EXPECT_GT(w.rms(t - 0.05, t + 0.45), 10 * quiet);
  }

  // Quit from the title in a normal configuration closes the program; the
  // table the recorded play saved is read back intact.
  std::string cfg;
  ASSERT_TRUE(talven::read_file((r.dir / "Firefly.cfg").string(), cfg));
  cfg.replace(cfg.find("ReturnScore=1"), 13, "ReturnScore=0");
  ASSERT_TRUE(talven::write_file_atomic((r.dir / "Firefly.cfg").string(), cfg));
  const fs::path input = r.dir / "quit.txt";
  ASSERT_TRUE(talven::write_file_atomic(input.string(),
                                        "frame 5 key down Escape\nframe 6 key up Escape\n"));
  auto quit = talven::test::run_talven("--headless --log --timeout 30 --input " + input.string() +
                                       " " + r.dir.string());
  EXPECT_EQ(quit.status, 0) << quit.out;  // closed by exit, not by the timeout
  EXPECT_EQ(quit.out.find("damaged"), std::string::npos) << quit.out;
  EXPECT_NE(quit.out.find("final score 0, best 6"), std::string::npos) << quit.out;
}

}  // namespace
