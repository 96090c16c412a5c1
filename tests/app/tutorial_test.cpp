// The tutorial's games (examples/tutorial/stepN, docs/tutorial.md) run as
// the tutorial says: each step is played headless in a scratch copy, with
// the recorded input of step 6 where the step has fruit to catch, and what
// it shows, plays or saves is checked.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "base/atomic_file.h"
#include "graphics/plane/image_io.h"
#include "support/game_font.h"
#include "support/run_binary.h"

namespace {

namespace fs = std::filesystem;

const fs::path kTutorial =
    fs::path(TALVEN_TEST_DATA).parent_path().parent_path() / "examples" / "tutorial";
const std::string kDemo = (kTutorial / "step6" / "demo.txt").string();

// A scratch copy of one step (the games write sounds and save data beside
// themselves), with the fruit made repeatable (Seed=1) as step 6 has it.
struct StepCopy {
  fs::path dir;
  explicit StepCopy(int step) {
    dir = fs::temp_directory_path() /
          ("talven_tutorial_" + std::to_string(step) + "_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::copy(kTutorial / ("step" + std::to_string(step)), dir, fs::copy_options::recursive);
    talven::test::add_game_font(dir);
    std::string cfg;
    if (talven::read_file((dir / "Catch.cfg").string(), cfg)) {
      auto at = cfg.find("Seed=0");
      if (at != std::string::npos) cfg.replace(at, 6, "Seed=1");
      talven::write_file_atomic((dir / "Catch.cfg").string(), cfg);
    }
  }
  ~StepCopy() { fs::remove_all(dir); }
  talven::test::BinaryRun run(const std::string& options) const {
    return talven::test::run_talven("--headless --log --timeout 60 " + options + " " +
                                    dir.string());
  }
};

struct Shot {
  std::unique_ptr<talven::graphics::Plane> plane;
  // Red, green and blue of a pixel as 0xRRGGBB.
  std::uint32_t rgb(int x, int y) const {
    const std::uint8_t* p = plane->row(y) + x * (plane->bpp / 8);  // blue, green, red
    return std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
  }
  // Pixels of a box whose colour is within `tolerance` of `colour` on every channel.
  int count(int x0, int y0, int x1, int y1, std::uint32_t colour, int tolerance) const {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) {
        std::uint32_t c = rgb(x, y);
        bool close_enough = true;
        for (int shift = 0; shift < 24; shift += 8)
          close_enough = close_enough &&
                         std::abs(int(c >> shift & 255) - int(colour >> shift & 255)) <= tolerance;
        n += close_enough;
      }
    return n;
  }
};

Shot read_shot(const fs::path& path) {
  Shot s;
  std::string png;
  if (!talven::read_file(path.string(), png)) return s;
  talven::graphics::MemorySource src(png.data(), png.size());
  s.plane = talven::graphics::read_png(src);
  return s;
}

int occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

constexpr std::uint32_t kSky = 0x5A9BD8, kGold = 0xFFC040, kBasket = 0x8B5A2B;

TEST(Tutorial, Step1ShowsTheTitleAndEscapeEndsIt) {
  StepCopy game(1);
  const fs::path shot = game.dir / "shot.png";
  auto r = game.run("--frames 20 --screenshot " + shot.string());
  EXPECT_EQ(r.status, 124) << r.out;  // runs until --frames ends it
  Shot s = read_shot(shot);
  ASSERT_TRUE(s.plane) << r.out;
  ASSERT_EQ(s.plane->width, 640);
  ASSERT_EQ(s.plane->height, 480);
  EXPECT_EQ(s.rgb(5, 5), kSky);
  // "Catch!" in palette entry 3 (gold), smoothed: solid gold inside the letters.
  EXPECT_GT(s.count(200, 150, 440, 240, kGold, 8), 400);
  EXPECT_EQ(s.count(0, 300, 640, 480, kGold, 8), 0);

  const fs::path input = game.dir / "escape.txt";
  ASSERT_TRUE(talven::write_file_atomic(input.string(), "frame 5 key down Escape\n"));
  r = game.run("--input " + input.string());
  EXPECT_EQ(r.status, 0) << r.out;
}

TEST(Tutorial, Step2MovesTheBasketWithTheArrowKeys) {
  StepCopy game(2);
  const fs::path shot = game.dir / "shot.png", input = game.dir / "right.txt";
  ASSERT_TRUE(talven::write_file_atomic(
      input.string(), "frame 5 key down Right\nframe 35 key up Right\nframe 40 key down Escape\n"));
  auto r = game.run("--input " + input.string() + " --screenshot " + shot.string());
  EXPECT_EQ(r.status, 0) << r.out;
  // Thirty frames of Right at 8 pixels a frame from the middle.
  EXPECT_NE(r.out.find("the basket stopped at x 560"), std::string::npos) << r.out;
  Shot s = read_shot(shot);
  ASSERT_TRUE(s.plane) << r.out;
  EXPECT_GT(s.count(540, 420, 580, 440, kBasket, 4), 600);
  EXPECT_EQ(s.count(280, 400, 360, 440, kBasket, 4), 0);
}

TEST(Tutorial, Step3CatchesAndMissesFruitAsRecorded) {
  StepCopy game(3);
  auto r = game.run("--input " + kDemo);
  EXPECT_EQ(r.status, 7) << r.out;  // the score
  EXPECT_EQ(occurrences(r.out, "caught at"), 7) << r.out;
  EXPECT_EQ(occurrences(r.out, "missed at"), 3) << r.out;
  EXPECT_NE(r.out.find("game over: score 7"), std::string::npos) << r.out;
  // A basket that never moves catches none of the same fruit.
  r = game.run("");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(occurrences(r.out, "missed at"), 3) << r.out;
}

TEST(Tutorial, Step4PlaysMusicAndSounds) {
  StepCopy game(4);
  const fs::path wav = game.dir / "run.wav";
  auto r = game.run("--audio-out " + wav.string());
  EXPECT_EQ(r.status, 0) << r.out;
  for (const char* made : {"catch.wav", "miss.wav", "tune.wav"})
    EXPECT_TRUE(fs::exists(game.dir / made)) << made;
  // The 16-bit stereo recording holds the music from the start.
  std::string data;
  ASSERT_TRUE(talven::read_file(wav.string(), data));
  const std::size_t chunk = data.find("data", 12);
  ASSERT_NE(chunk, std::string::npos);
  const std::size_t start = chunk + 8;
  const std::size_t frames = 48000;  // about a second from the start
  ASSERT_GT(data.size(), start + frames * 4);
  double sum = 0;
  for (std::size_t f = 0; f < frames; ++f) {
    std::int16_t left;
    std::memcpy(&left, data.data() + start + f * 4, 2);
    sum += double(left) * left;
  }
  EXPECT_GT(std::sqrt(sum / frames), 300.0) << "no music in the first second";
}

TEST(Tutorial, Step5KeepsTheBestScoreBetweenGames) {
  StepCopy game(5);
  auto save = [&](std::int32_t& best, std::int32_t& games) {
    std::string d;
    if (!talven::read_file((game.dir / "catch.sav").string(), d) || d.size() != 8) return false;
    std::memcpy(&best, d.data(), 4);
    std::memcpy(&games, d.data() + 4, 4);
    return true;
  };
  std::int32_t best = -1, games = -1;
  auto r = game.run("--input " + kDemo);
  EXPECT_EQ(r.status, 7) << r.out;
  ASSERT_TRUE(save(best, games)) << r.out;
  EXPECT_EQ(best, 7);
  EXPECT_EQ(games, 1);
  // A worse game keeps the best score and counts itself.
  r = game.run("");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("game over: score 0, best 7, games 2"), std::string::npos) << r.out;
  ASSERT_TRUE(save(best, games));
  EXPECT_EQ(best, 7);
  EXPECT_EQ(games, 2);
}

TEST(Tutorial, Step6ChecksItsRecordedGame) {
  // check.sh is the test the tutorial shows; it runs on the game as shipped
  // (its configuration already fixes the seed).
  const std::string cmd =
      (kTutorial / "step6" / "check.sh").string() + " " + TALVEN_BINARY + " >/dev/null 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  // It fails when the game does not play as recorded: here, with the
  // recording emptied, the basket stands still and scores 0.
  StepCopy game(6);
  ASSERT_TRUE(talven::write_file_atomic((game.dir / "demo.txt").string(), "# nothing\n"));
  const std::string emptied =
      (game.dir / "check.sh").string() + " " + TALVEN_BINARY + " >/dev/null 2>&1";
  EXPECT_NE(std::system(emptied.c_str()), 0);
}

}  // namespace
