// ini_geti / ini_gets / ini_seti / ini_sets through their handlers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "base/config.h"
#include "lib/builtin_call.h"
#include "lib/system/system_builtins.h"

namespace {

namespace fs = std::filesystem;
using namespace talven;
using namespace talven::lib;
using lib::test::bind;
using lib::test::call;
using lib::test::put;

class IniValues : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("talven_ini_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    file_ = (dir_ / "game.ini").string();
    std::ofstream(file_) << "[Num]\n"
                            "plain=42\n"
                            "tail=42A94967297\n"
                            "wrap=4294967297\n"
                            "negwrap=-4294967297\n"
                            "spaced=   -17\n"
                            "letter=abc\n"
                            "empty=\n"
                            "[Text]\n"
                            "quoted=\"  padded  \"\n"
                            "long=0123456789\n";
    saved_config_path_ = config().config_path;
  }
  void TearDown() override {
    config().config_path = saved_config_path_;
    fs::remove_all(dir_);
  }

  std::int32_t geti(const char* key, std::int32_t def, Addr file) {
    return static_cast<std::int32_t>(
        call(bind<&bi_ini_geti>, {put("Num"), put(key), static_cast<std::uint32_t>(def), file}));
  }
  std::string read(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
  std::string file_;
  std::string saved_config_path_;
};

TEST_F(IniValues, IntegersAreReadThePlatformsWay) {
  Addr f = put(file_);
  EXPECT_EQ(geti("plain", 7, f), 42);
  EXPECT_EQ(geti("tail", 7, f), 42);
  EXPECT_EQ(geti("wrap", 7, f), 1);
  EXPECT_EQ(geti("negwrap", 7, f), -1);
  EXPECT_EQ(geti("spaced", 7, f), -17);
  EXPECT_EQ(geti("letter", 7, f), 0);  // text that starts with a letter reads 0
  EXPECT_EQ(geti("empty", 7, f), 7);   // an empty value gives the default
  EXPECT_EQ(geti("missing", 7, f), 7);
  EXPECT_EQ(geti("PLAIN", 7, f), 42);  // keys without regard to case
  EXPECT_EQ(geti("plain", 7, put((dir_ / "nofile.ini").string())), 7);
  EXPECT_EQ(geti("plain", 7, lib::test::bad_address()), 7);
}

TEST_F(IniValues, NullFileMeansConfigPath) {
  config().config_path = file_;
  EXPECT_EQ(geti("plain", 7, 0), 42);
  EXPECT_EQ(call(bind<&bi_ini_seti>, {put("Window"), put("WindowLeft"), 99, 0}), 1u);
  EXPECT_NE(read(file_).find("WindowLeft=99"), std::string::npos);
}

TEST_F(IniValues, StringsTruncateAndCount) {
  Addr f = put(file_);
  Addr buf = lib::test::block(32);
  EXPECT_EQ(call(bind<&bi_ini_gets>, {put("Text"), put("long"), put("def"), buf, 32, f}), 10u);
  EXPECT_EQ(lib::test::text_at(buf), "0123456789");
  // A 5-byte buffer holds 4 characters and the zero; the count is 4.
  Addr small = lib::test::block(8);
  EXPECT_EQ(call(bind<&bi_ini_gets>, {put("Text"), put("long"), put("def"), small, 5, f}), 4u);
  EXPECT_EQ(lib::test::bytes_at(small, 6), std::string("0123\0\xEE", 6));
  // Quotes are taken off; the default loses trailing blanks.
  EXPECT_EQ(call(bind<&bi_ini_gets>, {put("Text"), put("quoted"), 0, buf, 32, f}), 10u);
  EXPECT_EQ(lib::test::text_at(buf), "  padded  ");
  EXPECT_EQ(call(bind<&bi_ini_gets>, {put("Text"), put("none"), put("dflt  "), buf, 32, f}), 4u);
  EXPECT_EQ(lib::test::text_at(buf), "dflt");
  // Failures: null buffer, size 0, a buffer that does not hold the text.
  EXPECT_EQ(call(bind<&bi_ini_gets>, {put("Text"), put("long"), 0, 0, 32, f}), 0u);
  EXPECT_EQ(call(bind<&bi_ini_gets>, {put("Text"), put("long"), 0, buf, 0, f}), 0u);
  EXPECT_EQ(
      call(bind<&bi_ini_gets>, {put("Text"), put("long"), 0, lib::test::bad_address(), 32, f}), 0u);
}

TEST_F(IniValues, NameListsForNullSectionOrKey) {
  Addr f = put(file_);
  Addr buf = lib::test::block(64);
  // Sections: "Num\0Text\0\0", the count leaves out the last zero.
  EXPECT_EQ(call(bind<&bi_ini_gets>, {0, 0, put("d"), buf, 64, f}), 9u);
  EXPECT_EQ(lib::test::bytes_at(buf, 11), std::string("Num\0Text\0\0\xEE", 11));
  EXPECT_EQ(call(bind<&bi_ini_gets>, {put("text"), 0, put("d"), buf, 64, f}), 12u);
  EXPECT_EQ(lib::test::bytes_at(buf, 13), std::string("quoted\0long\0\0", 13));
  // Too small: cut, two zeros, size - 2.
  Addr small = lib::test::block(8);
  EXPECT_EQ(call(bind<&bi_ini_gets>, {0, 0, 0, small, 6, f}), 4u);
  EXPECT_EQ(lib::test::bytes_at(small, 7), std::string("Num\0\0\0\xEE", 7));
  // A missing section or file lists nothing.
  EXPECT_EQ(call(bind<&bi_ini_gets>, {put("none"), 0, 0, buf, 64, f}), 0u);
  EXPECT_EQ(call(bind<&bi_ini_gets>, {0, 0, 0, buf, 64, put((dir_ / "no.ini").string())}), 0u);
}

TEST_F(IniValues, WritesReplaceAndDelete) {
  Addr f = put(file_);
  EXPECT_EQ(call(bind<&bi_ini_seti>, {put("Num"), put("plain"), static_cast<std::uint32_t>(-5), f}),
            1u);
  EXPECT_EQ(geti("plain", 7, f), -5);
  EXPECT_EQ(call(bind<&bi_ini_sets>, {put("New"), put("name"), put("value"), f}), 1u);
  Addr buf = lib::test::block(32);
  EXPECT_EQ(call(bind<&bi_ini_gets>, {put("new"), put("NAME"), 0, buf, 32, f}), 5u);
  // A null text removes the key, a null key the whole section.
  EXPECT_EQ(call(bind<&bi_ini_sets>, {put("New"), put("name"), 0, f}), 1u);
  EXPECT_EQ(call(bind<&bi_ini_gets>, {put("New"), put("name"), put("gone"), buf, 32, f}), 4u);
  EXPECT_EQ(call(bind<&bi_ini_sets>, {put("Num"), 0, 0, f}), 1u);
  EXPECT_EQ(geti("wrap", 7, f), 7);
  EXPECT_NE(read(file_).find("[Text]"), std::string::npos);
  // A new file in the game's folder; a null section or a wild text is refused.
  const std::string fresh = (dir_ / "Fresh.ini").string();
  EXPECT_EQ(call(bind<&bi_ini_seti>, {put("S"), put("k"), 3, put(fresh)}), 1u);
  EXPECT_EQ(read(fresh).find("k=3") != std::string::npos, true);
  EXPECT_EQ(call(bind<&bi_ini_seti>, {0, put("k"), 3, f}), 0u);
  EXPECT_EQ(call(bind<&bi_ini_sets>, {put("S"), put("k"), lib::test::bad_address(), f}), 0u);
  EXPECT_EQ(call(bind<&bi_ini_sets>, {put("S"), put("k"), put("v"), put(std::string(270, 'x'))}),
            0u);
}

}  // namespace
