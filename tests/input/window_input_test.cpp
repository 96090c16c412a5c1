// Real input sent to the window from outside the process (xdotool on a
// virtual display, only where both exist), seen by a script through
// getkey, getpoint and key_get; the session is recorded with
// --record-input and the recording, replayed headless, gives the script
// the same sight.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/run_binary.h"

namespace {

namespace fs = std::filesystem;

const fs::path kTests = fs::path(TALVEN_TEST_DATA).parent_path();

bool have(const char* tool) { return talven::test::have_tool(tool); }

using talven::test::run_shell;

// One windowed session driven by xdotool, then its recording replayed.
// `direct`: the DirectInput back end.
void session(bool direct) {
  fs::path dir = fs::temp_directory_path() / ("talven_wininput_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy_file(kTests.parent_path() / "sdk" / "talven.h", dir / "talven.h");
  fs::copy_file(kTests / "scripts" / "input" / "window_watch.c", dir / "main.c");
  std::ofstream(dir / "Watch.cfg")
      << "[General]\nFileSystem=3\nTitle=InputWatch\n[System]\nDirectInput=" << (direct ? 1 : 0)
      << "\n[Screen]\nWidth=320\nHeight=240\n[Script]\nLoad=main.c\n";
  const std::string seen =
      direct ? "seen key 0 1 click 1 at 100 50 text 1" : "seen key 1 0 click 1 at 100 50 text 1";
  const std::string rec = (dir / "rec.txt").string();
  // Every step is bounded: the game by --timeout and, should it hang, by
  // timeout; each xdotool by timeout. Software drawing keeps the GL driver
  // (which deadlocks under the sanitizers) out of the way.
  std::string session =
      "SDL_FRAMEBUFFER_ACCELERATION=0 SDL_RENDER_DRIVER=software timeout -k 2 30 " +
      std::string(TALVEN_BINARY) + " --log --timeout 20 --record-input " + rec + " " +
      dir.string() +
      " & pid=$!; "
      "w=$(timeout 20 xdotool search --sync --name InputWatch | head -n 1); "
      "timeout 5 xdotool windowfocus --sync $w; sleep 0.5; "
      "timeout 5 xdotool mousemove --window $w 100 50; sleep 0.3; "
      "timeout 5 xdotool click --window $w 1; sleep 0.3; "
      "timeout 5 xdotool keydown a; sleep 0.4; timeout 5 xdotool keyup a; "
      "timeout 5 xdotool type q; "
      "wait $pid";
  talven::test::BinaryRun r;
  for (int attempt = 0; attempt < 3; ++attempt) {
    r = run_shell(
        "ASAN_OPTIONS=detect_leaks=0 timeout -k 5 60 xvfb-run -a -s '-screen 0 800x600x24' sh -c "
        "'" +
        session + "'");
    if (r.out.find("xvfb-run: error") == std::string::npos) break;
  }
  EXPECT_NE(r.out.find(seen), std::string::npos) << r.out;

  std::ifstream in(rec);
  std::stringstream s;
  s << in.rdbuf();
  const std::string recorded = s.str();
  EXPECT_NE(recorded.find("key down A"), std::string::npos) << recorded;
  EXPECT_NE(recorded.find("button down left"), std::string::npos) << recorded;
  EXPECT_NE(recorded.find("move 100 50"), std::string::npos) << recorded;
  EXPECT_NE(recorded.find("text \"q\""), std::string::npos) << recorded;

  // The recording drives a headless run to the same sight.
  auto replayed =
      talven::test::run_talven("--headless --log --timeout 30 --input " + rec + " " + dir.string());
  EXPECT_NE(replayed.out.find(seen), std::string::npos) << replayed.out;
  fs::remove_all(dir);
}

TEST(WindowInput, KeysClicksAndTextFromOutsideReachTheScript) {
  if (!have("xvfb-run") || !have("xdotool")) GTEST_SKIP() << "xvfb-run or xdotool is not installed";
  {
    SCOPED_TRACE("plain");
    session(false);
  }
  {
    SCOPED_TRACE("DirectInput");
    session(true);
  }
}

}  // namespace
