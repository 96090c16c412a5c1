// Video from scripts run headless: a clip made by the ffmpeg program (one
// second red, one second green, a 1 kHz tone) is played; its colours are
// found in the screenshot at exit and its tone in the recorded output.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "audio/video/media.h"
#include "audio_test_util.h"
#include "support/run_binary.h"

namespace {

namespace fs = std::filesystem;
using namespace talven::test;

const fs::path kScripts = fs::path(TALVEN_TEST_DATA).parent_path() / "scripts";
const fs::path kHeader =
    fs::path(TALVEN_TEST_DATA).parent_path().parent_path() / "sdk" / "talven.h";

struct Pixel {
  int r = -1, g = -1, b = -1;
};

Pixel pixel_at(const fs::path& png, int x, int y) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, png.string().c_str())) return {};
  image.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
  if (x >= int(image.width) || y >= int(image.height)) return {};
  const unsigned char* p = &rgb[(std::size_t(y) * image.width + x) * 3];
  return {p[0], p[1], p[2]};
}

class ScriptMedia : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(TALVEN_BINARY)) GTEST_SKIP() << "build the talven target first";
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg missing";
    dir_ = fs::temp_directory_path() /
           ("talven_media_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::copy_file(kHeader, dir_ / "talven.h");
    fs::copy_file(kScripts / "lib" / "check.h", dir_ / "check.h");
    write_file(dir_ / "Clip.cfg", "[General]\nFileSystem=2\n[Script]\nLoad=main.c\n");
    const std::string make =
        "ffmpeg -v error -y -f lavfi -i color=c=red:s=64x48:r=25:d=1 -f lavfi -i "
        "color=c=lime:s=64x48:r=25:d=1 "
        "-f lavfi -i sine=frequency=1000:sample_rate=44100:duration=2 "
        "-filter_complex '[0][1]concat=n=2:v=1:a=0[v]' -map '[v]' -map 2 -c:v mpeg4 -q:v 2 -c:a "
        "pcm_s16le " +
        (dir_ / "clip.avi").string();
    ASSERT_EQ(std::system(make.c_str()), 0);
  }
  void TearDown() override { fs::remove_all(dir_); }

  BinaryRun run(const std::string& script) {
    fs::copy_file(kScripts / "music" / script, dir_ / "main.c",
                  fs::copy_options::overwrite_existing);
    return run_talven("--headless --log --timeout 30 --audio-out " + (dir_ / "out.wav").string() +
                      " --screenshot " + (dir_ / "shot.png").string() + " " + dir_.string());
  }

  fs::path dir_;
};

TEST(MediaVolume, DecibelScale) {
  using talven::audio::video::media_volume_to_attenuation;
  EXPECT_EQ(media_volume_to_attenuation(10), -5000);
  EXPECT_EQ(media_volume_to_attenuation(0), -10000);
  EXPECT_EQ(media_volume_to_attenuation(-3), -10000);
  EXPECT_EQ(media_volume_to_attenuation(100), 0);
  EXPECT_EQ(media_volume_to_attenuation(250), 0);
  EXPECT_EQ(media_volume_to_attenuation(50), -1505);  // truncated toward zero
}

TEST_F(ScriptMedia, TheFirstColourIsShownInItsRectangleAndTheToneIsHeard) {
  BinaryRun r = run("media_first.c");
  ASSERT_EQ(r.status, 0) << r.out;
  const Pixel inside = pixel_at(dir_ / "shot.png", 320, 180);
  EXPECT_GT(inside.r, 200);
  EXPECT_LT(inside.g, 60);
  const Pixel outside = pixel_at(dir_ / "shot.png", 900, 500);  // beyond the 640x360 rectangle
  EXPECT_LT(outside.r, 60);
  Recording rec = read_recording(dir_ / "out.wav");
  ASSERT_GT(rec.rate, 0u);
  const std::size_t a = onset(rec.left, 0.05f);
  ASSERT_LT(a + rec.rate / 4, rec.left.size()) << "the clip's tone is in the recording";
  EXPECT_NEAR(frequency(rec.left, a + rec.rate / 50, a + rec.rate / 50 + rec.rate / 10, rec.rate),
              1000.0, 20.0);
}

TEST_F(ScriptMedia, TheClipEndsOrRepeats) {
  BinaryRun r = run("media_end.c");
  ASSERT_EQ(r.status, 0) << r.out;
}

}  // namespace
