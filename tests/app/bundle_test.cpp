// `talven bundle` and starting a bundled game: the folder it writes runs the
// game with no arguments, packs data folders on request, and every refusal
// leaves nothing behind.
#include "app/bundle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

using talven::BundleOutcome;
using talven::BundleRequest;
using talven::BundleTarget;
using talven::test::BinaryRun;

class Bundle : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = talven::test::make_temp_dir("talven_bundle_");
    ASSERT_FALSE(root_.empty());
    game_ = root_ / "Quest";
    // A game whose main script reports the size of a data file, or 90 when
    // the file cannot be found.
    write(game_ / "Quest.cfg", "[General]\nFileSystem=3\nTitle=Quest\n");
    write(game_ / "Quest" / "main.c",
          "#include \"talven.h\"\n"
          "int main() { int h; int n; h = pack_open(\"data/bg/a.txt\");\n"
          "  if (h < 1) return 90; n = pack_size(h); pack_close(h); return n; }\n");
    write(game_ / "data" / "bg" / "a.txt", "twelve bytes");
    write(game_ / "data" / "b.txt", "b");
    write(game_ / "cd" / "track02.wav", "not really a track");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  static void write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
  }
  static std::string read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  BundleRequest request(const fs::path& out) const {
    BundleRequest r;
    r.game = game_.string();
    r.out = out.string();
    r.target = talven::native_bundle_target();
    r.program = TALVEN_BINARY;
    return r;
  }
  // Names in `dir` other than the finished bundle's: staging leftovers.
  std::vector<std::string> leftovers() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(root_)) {
      const std::string name = e.path().filename().string();
      if (name.find(".tmp-") != std::string::npos) names.push_back(name);
    }
    return names;
  }
  fs::path root_, game_;
};

// The program of a bundle in `out` of the game Quest: Quest.exe on
// Windows; Quest, or Quest.MACHINE when the scripts' folder has the name,
// on Linux (one regular file either way).
fs::path bundled_program(const fs::path& out) {
  fs::path found;
  for (const auto& e : fs::directory_iterator(out)) {
    const std::string name = e.path().filename().string();
    if (e.is_regular_file() && name.rfind("Quest", 0) == 0 && name != "Quest.cfg") {
      EXPECT_TRUE(found.empty()) << found << " and " << e.path();
      found = e.path();
    }
  }
  return found;
}

// A fake Windows build: the program, DLLs in either case, the soundfonts
// and things that do not belong in a bundle.
// The headers of a 64-bit Windows program: the DOS header pointing at the PE
// header at 64, whose PE32+ optional header names the subsystem.
std::string fake_windows_program(int subsystem) {
  std::string image(64 + 4 + 20 + 96, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  image[0x3C] = 64;
  image.replace(64, 4, std::string("PE\0\0", 4));
  image[64 + 24] = 0x0b;  // PE32+
  image[64 + 25] = 0x02;
  image[64 + 24 + 68] = static_cast<char>(subsystem);
  return image;
}

int subsystem_of(const std::string& image) {
  return static_cast<unsigned char>(image.at(64 + 24 + 68)) |
         static_cast<unsigned char>(image.at(64 + 24 + 69)) << 8;
}

fs::path fake_windows_build(const fs::path& dir) {
  std::ofstream(dir / "talven.exe", std::ios::binary) << fake_windows_program(3);
  std::ofstream(dir / "avcodec-59.dll", std::ios::binary) << "dll";
  std::ofstream(dir / "LIBWINPTHREAD-1.DLL", std::ios::binary) << "dll";
  fs::create_directories(dir / "soundfonts");
  std::ofstream(dir / "soundfonts" / "gm.sf2", std::ios::binary) << "sf2";
  std::ofstream(dir / "README.md", std::ios::binary) << "readme";
  fs::create_directories(dir / "sdk");
  return dir;
}

TEST_F(Bundle, NativeBundleHoldsProgramConfigurationAndDataButNoLeftovers) {
  write(game_ / "Quest.exe", "an old program of the game");
  write(game_ / "save.dat.tmpA1b2C3", "a save that died");
  write(game_ / "data" / "c.txt.tmp", "a leftover below a folder");
  const fs::path out = root_ / "dist";
  const BundleOutcome done = talven::make_bundle(request(out));
  ASSERT_EQ(done.status, 0) << done.message;
  // On Linux the scripts' folder Quest/ takes the plain name: the program
  // is Quest.MACHINE.
  const fs::path program = bundled_program(out);
  EXPECT_NE(program.filename().string().rfind("Quest.", 0), std::string::npos) << program;
  // The running program, not the game's old one; a Windows bundle's copy
  // differs in one byte, its subsystem (a GUI program). Compared byte by
  // byte: a failure must not print two whole programs.
  const std::string copied = read(program), original = read(TALVEN_BINARY);
  ASSERT_EQ(copied.size(), original.size());
  std::size_t differing = 0;
  for (std::size_t i = 0; i < copied.size(); ++i) differing += copied[i] != original[i];
  EXPECT_EQ(differing, talven::native_bundle_target() == BundleTarget::kWindows ? 1u : 0u);
#ifndef _WIN32
  EXPECT_NE(fs::status(program).permissions() & fs::perms::owner_exec, fs::perms::none);
  EXPECT_FALSE(fs::exists(out / "Quest.exe"));
#endif
  EXPECT_EQ(read(out / "Quest.cfg"), read(game_ / "Quest.cfg"));
  EXPECT_EQ(read(out / "Quest" / "main.c"), read(game_ / "Quest" / "main.c"));
  EXPECT_EQ(read(out / "data" / "bg" / "a.txt"), "twelve bytes");
  EXPECT_TRUE(fs::exists(out / "cd" / "track02.wav"));
  EXPECT_FALSE(fs::exists(out / "save.dat.tmpA1b2C3"));
  EXPECT_FALSE(fs::exists(out / "data" / "c.txt.tmp"));
  EXPECT_TRUE(leftovers().empty());
  // The game folder itself is untouched.
  EXPECT_EQ(read(game_ / "Quest.exe"), "an old program of the game");
}

TEST_F(Bundle, WindowsBundleTakesTheBuildGivenWithItsDllsAndSoundFonts) {
  const fs::path build = root_ / "win";
  fs::create_directories(build);
  fake_windows_build(build);
  write(game_ / "Quest", "a Linux program of the game");
  BundleRequest r = request(root_ / "dist");
  r.target = BundleTarget::kWindows;
  r.windows_from = build.string();
  const BundleOutcome done = talven::make_bundle(r);
  ASSERT_EQ(done.status, 0) << done.message;
  const fs::path out = root_ / "dist";
  // The player's program is the build's, turned into a GUI program (no
  // console window); talven.exe itself stays a console program.
  const std::string program = read(out / "Quest.exe");
  ASSERT_EQ(program.size(), fake_windows_program(3).size());
  EXPECT_EQ(subsystem_of(program), 2);
  EXPECT_EQ(program.substr(0, 64 + 24 + 68), fake_windows_program(3).substr(0, 64 + 24 + 68));
  EXPECT_EQ(subsystem_of(read(build / "talven.exe")), 3);
  EXPECT_TRUE(fs::exists(out / "avcodec-59.dll"));
  EXPECT_TRUE(fs::exists(out / "LIBWINPTHREAD-1.DLL"));
  EXPECT_EQ(read(out / "soundfonts" / "gm.sf2"), "sf2");
  EXPECT_FALSE(fs::exists(out / "README.md"));
  EXPECT_FALSE(fs::exists(out / "sdk"));
  EXPECT_FALSE(fs::exists(out / "talven.exe"));
  EXPECT_FALSE(fs::is_regular_file(out / "Quest"));  // the folder of scripts stays
  EXPECT_TRUE(fs::exists(out / "Quest" / "main.c"));
}

TEST_F(Bundle, RefusalsAndFailuresLeaveNothingBehind) {
  // OUT exists and holds something.
  const fs::path full = root_ / "full";
  write(full / "keep.txt", "mine");
  BundleOutcome r = talven::make_bundle(request(full));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.message.find("not an empty folder"), std::string::npos) << r.message;
  EXPECT_EQ(read(full / "keep.txt"), "mine");

  // OUT inside the game's folder, directly or deeper.
  for (const fs::path& inside : {game_ / "dist", game_ / "data" / "dist", game_}) {
    r = talven::make_bundle(request(inside));
    EXPECT_EQ(r.status, 2) << inside;
    EXPECT_NE(r.message.find("inside the game folder"), std::string::npos) << r.message;
  }
  EXPECT_FALSE(fs::exists(game_ / "dist"));
  EXPECT_FALSE(fs::exists(game_ / "data" / "dist"));

  // A folder without a configuration is not a game.
  const fs::path bare = root_ / "bare";
  write(bare / "main.c", "int main() { return 0; }\n");
  BundleRequest no_cfg = request(root_ / "out1");
  no_cfg.game = bare.string();
  r = talven::make_bundle(no_cfg);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.message.find("no configuration bare.cfg"), std::string::npos) << r.message;

  // A Windows build folder without talven.exe fails after the checks.
  BundleRequest windows = request(root_ / "out2");
  windows.target = BundleTarget::kWindows;
  windows.windows_from = (root_ / "bare").string();
  r = talven::make_bundle(windows);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.message.find("holds no talven.exe"), std::string::npos) << r.message;

  // A talven.exe that is not a 64-bit Windows program fails as well.
  const fs::path not_pe = root_ / "not-pe";
  write(not_pe / "talven.exe", "MZ but no PE header here");
  BundleRequest foreign = request(root_ / "out5");
  foreign.target = BundleTarget::kWindows;
  foreign.windows_from = not_pe.string();
  r = talven::make_bundle(foreign);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.message.find("is not a 64-bit Windows program"), std::string::npos) << r.message;

  // No runtime program to copy.
  BundleRequest missing = request(root_ / "out3");
  missing.program = (root_ / "no-such-program").string();
  r = talven::make_bundle(missing);
  EXPECT_EQ(r.status, 1);
#ifndef _WIN32
  EXPECT_NE(r.message.find("no runtime program"), std::string::npos) << r.message;
#endif

  // A failure halfway through (an archive refuses names that differ only in
  // letter case) takes the half-written folder away. Skipped where the file
  // system itself ignores case.
  write(game_ / "data" / "Twin.txt", "1");
  write(game_ / "data" / "twin.txt", "2");
  if (std::distance(fs::directory_iterator(game_ / "data"), fs::directory_iterator()) == 4) {
    BundleRequest twins = request(root_ / "out4");
    twins.archive = true;
    r = talven::make_bundle(twins);
    EXPECT_EQ(r.status, 1) << r.message;
  }

  for (const char* out : {"out1", "out2", "out3", "out4", "out5"})
    EXPECT_FALSE(fs::exists(root_ / out)) << out;
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(Bundle, AnEmptyOutputFolderIsFilledAndMissingParentsAreMade) {
  fs::create_directories(root_ / "empty");
  EXPECT_EQ(talven::make_bundle(request(root_ / "empty")).status, 0);
  EXPECT_TRUE(fs::exists(root_ / "empty" / "Quest.cfg"));
  EXPECT_EQ(talven::make_bundle(request(root_ / "a" / "b" / "dist")).status, 0);
  EXPECT_FALSE(bundled_program(root_ / "a" / "b" / "dist").empty());
}

TEST_F(Bundle, ArchivesPackDataFoldersButKeepScriptsAndCdLoose) {
  BundleRequest r = request(root_ / "dist");
  r.archive = true;
  const BundleOutcome done = talven::make_bundle(r);
  ASSERT_EQ(done.status, 0) << done.message;
  const fs::path out = root_ / "dist";
  EXPECT_TRUE(fs::is_regular_file(out / "data.bin"));
  EXPECT_FALSE(fs::exists(out / "data"));
  EXPECT_TRUE(fs::is_regular_file(out / "Quest" / "main.c"));
  EXPECT_FALSE(fs::exists(out / "Quest.bin"));
  EXPECT_TRUE(fs::is_regular_file(out / "cd" / "track02.wav"));
  const BinaryRun list = talven::test::run_talven("list " + (out / "data.bin").string());
  EXPECT_EQ(list.status, 0) << list.out;
  EXPECT_NE(list.out.find("bg/a.txt"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("b.txt"), std::string::npos) << list.out;

  // Entry names with '\' for games whose scripts name files that way.
  r = request(root_ / "dist2");
  r.archive = true;
  r.backslash = true;
  ASSERT_EQ(talven::make_bundle(r).status, 0);
  const BinaryRun list2 =
      talven::test::run_talven("list " + (root_ / "dist2" / "data.bin").string());
  EXPECT_NE(list2.out.find("bg\\a.txt"), std::string::npos) << list2.out;
}

TEST_F(Bundle, ArchivesFollowTheConfiguredFileSystem) {
  // Loose files only: packing would hide the data.
  write(game_ / "Quest.cfg", "[General]\nFileSystem=2\n");
  BundleRequest r = request(root_ / "dist");
  r.archive = true;
  BundleOutcome refused = talven::make_bundle(r);
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.message.find("FileSystem=2"), std::string::npos) << refused.message;
  EXPECT_FALSE(fs::exists(root_ / "dist"));

  // Archives only: the scripts' folder is packed too, or the game would not
  // find its main script.
  write(game_ / "Quest.cfg", "[General]\nFileSystem=1\n");
  ASSERT_EQ(talven::make_bundle(r).status, 0);
  EXPECT_TRUE(fs::is_regular_file(root_ / "dist" / "Quest.bin"));
  EXPECT_FALSE(fs::exists(root_ / "dist" / "Quest" / "main.c"));

  // A folder and an archive of the same name cannot both become FOLDER.bin.
  write(game_ / "data.bin", "an older archive");
  r.out = (root_ / "dist3").string();
  BundleOutcome both = talven::make_bundle(r);
  EXPECT_EQ(both.status, 1);
  EXPECT_NE(both.message.find("both data and data.bin"), std::string::npos) << both.message;
  EXPECT_FALSE(fs::exists(root_ / "dist3"));
}

TEST_F(Bundle, TheToolReportsUsageAndRefusalsThroughItsStatus) {
  EXPECT_EQ(talven::test::run_talven("bundle").status, 2);
  EXPECT_EQ(talven::test::run_talven("bundle " + game_.string()).status, 2);
  EXPECT_EQ(talven::test::run_talven("bundle --frobnicate " + game_.string() + " x").status, 2);
  const BinaryRun inside =
      talven::test::run_talven("bundle " + game_.string() + " " + (game_ / "out").string());
  EXPECT_EQ(inside.status, 2);
  EXPECT_NE(inside.out.find("inside the game folder"), std::string::npos) << inside.out;
  const BinaryRun help = talven::test::run_talven("--help");
  EXPECT_NE(help.out.find("bundle GAME OUT"), std::string::npos);
}

#ifdef _WIN32
#define SKIP_ON_WINDOWS() \
  GTEST_SKIP() << "the bundled program is started through the POSIX shell, with the video " \
                  "driver chosen through its environment"
#else
#define SKIP_ON_WINDOWS() (void)0
#endif

// Runs `program` with `args` and no usable display, so that a run that
// would open a window goes headless by itself.
BinaryRun run_without_display(const fs::path& program, const std::string& args) {
  return talven::test::run_shell("SDL_VIDEODRIVER=no-such-driver '" + program.string() + "' " +
                                 args);
}

TEST_F(Bundle, TheBundledProgramRunsTheGameBesideIt) {
  SKIP_ON_WINDOWS();
  for (bool archive : {false, true}) {
    const fs::path out = root_ / (archive ? "packed" : "loose");
    BundleRequest r = request(out);
    r.archive = archive;
    ASSERT_EQ(talven::make_bundle(r).status, 0);
    // The game's main script returns the data file's size.
    const fs::path program = bundled_program(out);
    BinaryRun plain = run_without_display(program, "");
    EXPECT_EQ(plain.status, 12) << plain.out;
    EXPECT_EQ(plain.out.find("usage:"), std::string::npos) << plain.out;
    // Options without a game use the game beside the program.
    BinaryRun headless = talven::test::run_shell("'" + program.string() + "' --headless");
    EXPECT_EQ(headless.status, 12) << headless.out;
    // Started from another folder, it still finds its game.
    BinaryRun elsewhere =
        talven::test::run_shell("cd / && '" + program.string() + "' --headless --frames 100");
    EXPECT_EQ(elsewhere.status, 12) << elsewhere.out;
  }
  // A game named on the command line wins over the one beside the program.
  const fs::path other = root_ / "Other";
  write(other / "Other.cfg", "[General]\nFileSystem=3\n");
  write(other / "Other" / "main.c", "int main() { return 33; }\n");
  BinaryRun named = talven::test::run_shell("'" + bundled_program(root_ / "loose").string() +
                                            "' --headless '" + other.string() + "'");
  EXPECT_EQ(named.status, 33) << named.out;

  // A game whose scripts lie at the top has its program under the plain name.
  const fs::path flat = root_ / "Flat";
  write(flat / "Flat.cfg", "[General]\nFileSystem=3\n[Script]\nLoad=start.c\n");
  write(flat / "start.c", "int main() { return 44; }\n");
  BundleRequest r = request(root_ / "flat-out");
  r.game = flat.string();
  ASSERT_EQ(talven::make_bundle(r).status, 0);
  BinaryRun plain = run_without_display(root_ / "flat-out" / "Flat", "");
  EXPECT_EQ(plain.status, 44) << plain.out;
}

TEST_F(Bundle, WithoutItsConfigurationOrNamedTalvenTheProgramShowsTheHelp) {
  SKIP_ON_WINDOWS();
  // Named after no configuration beside it.
  const fs::path lone = root_ / "lone";
  fs::create_directories(lone);
  fs::copy_file(TALVEN_BINARY, lone / "Quest");
  fs::permissions(lone / "Quest", fs::perms::owner_all);
  BinaryRun r = run_without_display(lone / "Quest", "");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("usage: talven"), std::string::npos) << r.out;
  // Named talven, even with a talven.cfg beside it.
  write(lone / "talven.cfg", "[General]\nFileSystem=3\n");
  write(lone / "talven" / "main.c", "int main() { return 5; }\n");
  fs::copy_file(TALVEN_BINARY, lone / "TALVEN.exe");
  fs::permissions(lone / "TALVEN.exe", fs::perms::owner_all);
  r = run_without_display(lone / "TALVEN.exe", "");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("usage: talven"), std::string::npos) << r.out;
}

}  // namespace
