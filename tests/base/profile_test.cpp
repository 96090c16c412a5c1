// Private-profile files: reading rules, integer parsing and byte-exact rewrites.
#include "base/profile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/temp_dir.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
namespace profile = talven::profile;

namespace {

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = talven::test::make_temp_dir("talven-ini-").string();
    ASSERT_FALSE(dir_.empty());
    file_ = dir_ + "/game.cfg";
  }
  void TearDown() override { fs::remove_all(dir_); }

  void put(const std::string& text) { std::ofstream(file_, std::ios::binary) << text; }
  std::string contents() const {
    std::ifstream in(file_, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string get(std::string_view section, std::string_view key) const {
    return profile::get_string(file_, section, key, "<none>");
  }

  std::string dir_;
  std::string file_;
};

}  // namespace

TEST(ProfileParse, IntegersAsTheWindowsFunction) {
  EXPECT_EQ(profile::parse_int("42", -1), 42);
  EXPECT_EQ(profile::parse_int("42A9", -1), 42);
  EXPECT_EQ(profile::parse_int("B42", -1), 0);
  EXPECT_EQ(profile::parse_int("4294967297", -1), 1);
  EXPECT_EQ(profile::parse_int("2147483648", -1), INT32_MIN);
  EXPECT_EQ(profile::parse_int("-2147483648", -1), INT32_MIN);
  EXPECT_EQ(profile::parse_int("4294967295", 0), -1);
  EXPECT_EQ(profile::parse_int("  -12", -1), -12);
  EXPECT_EQ(profile::parse_int("\t+7", -1), 7);
  EXPECT_EQ(profile::parse_int(" 0x10", -1), 0);
  EXPECT_EQ(profile::parse_int("-", -1), 0);
  EXPECT_EQ(profile::parse_int("- 5", -1), 0);
  EXPECT_EQ(profile::parse_int("", 9), 9);
  EXPECT_EQ(profile::parse_int("   ", 9), 9);
}

TEST_F(ProfileTest, ReadingRules) {
  put("\xEF\xBB\xBF[Screen]\r\n"
      "Width=800\r\n"
      "  height  =  600  \r\n"
      "; Depth=8\r\n"
      "Title = \"  quoted  \"\r\n"
      "Single='x'\r\n"
      "Mixed=\"x'\r\n"
      "NoEquals\r\n"
      "Empty=\r\n"
      "Hex=0x20\r\n"
      "Width=1024\r\n"
      "\r\n"
      "[ Window ]\r\n"
      "Left=-5\r\n"
      "Text=a=b ; not a comment\r\n"
      "[\x82\x72\x82\x85\x82\x94]\r\n"  // full-width "Ｓｅｔ"
      "\x83\x5D=zo\r\n"                 // a key whose trail byte is ']'
      "[\x83\x5D]\r\n"                  // a section name ending in a ']' trail byte
      "k=v\r\n"
      "[Screen]\r\n"
      "Width=1\r\n"
      "Later=found\r\n"
      "[Broken\r\n"
      "Lost=1\n"
      "[Last]\n"
      "end=yes");
  EXPECT_EQ(get("Screen", "Width"), "800");  // first occurrence wins
  EXPECT_EQ(get("screen", "WIDTH"), "800");
  EXPECT_EQ(get(" Screen ", " Height "), "600");
  EXPECT_EQ(get("Screen", "Depth"), "<none>");
  EXPECT_EQ(get("Screen", "; Depth"), "<none>");
  EXPECT_EQ(get("Screen", "Title"), "  quoted  ");
  EXPECT_EQ(get("Screen", "Single"), "x");
  EXPECT_EQ(get("Screen", "Mixed"), "\"x'");
  EXPECT_EQ(get("Screen", "NoEquals"), "<none>");
  EXPECT_EQ(get("Screen", "Empty"), "");
  EXPECT_EQ(get("Screen", "Later"), "found");  // a later section of the same name
  EXPECT_EQ(get("Window", "Left"), "-5");
  EXPECT_EQ(get("Window", "Text"), "a=b ; not a comment");
  EXPECT_EQ(get("\x82\x93\x82\x85\x82\x94", "\x83\x5D"), "zo");  // "ｓｅｔ"
  EXPECT_EQ(get("\x83\x5D", "k"), "v");
  EXPECT_EQ(get("Broken", "Lost"), "<none>");
  EXPECT_EQ(get("Last", "Lost"), "<none>");
  EXPECT_EQ(get("Last", "end"), "yes");
  EXPECT_EQ(get("Nowhere", "Width"), "<none>");
  EXPECT_EQ(get("", "Width"), "<none>");

  EXPECT_EQ(profile::get_int(file_, "Screen", "Width", 7), 800);
  EXPECT_EQ(profile::get_int(file_, "Screen", "Height", 7), 600);
  EXPECT_EQ(profile::get_int(file_, "Screen", "Empty", 7), 7);
  EXPECT_EQ(profile::get_int(file_, "Screen", "Missing", 7), 7);
  EXPECT_EQ(profile::get_int(file_, "Screen", "Hex", 7), 0);
  EXPECT_EQ(profile::get_int(file_, "Screen", "Single", 7), 0);
  EXPECT_EQ(profile::get_int(file_, "Window", "Left", 7), -5);
  EXPECT_EQ(profile::get_int(dir_ + "/missing.cfg", "Screen", "Width", 7), 7);
  EXPECT_EQ(profile::get_string(dir_, "Screen", "Width", "d"), "d");  // a directory
}

TEST_F(ProfileTest, KeysBeforeAnySectionAreIgnored) {
  put("Width=1\n[Screen]\nHeight=2\n");
  EXPECT_EQ(get("Screen", "Width"), "<none>");
  EXPECT_EQ(get("", "Width"), "<none>");
  EXPECT_EQ(get("Screen", "Height"), "2");
}

TEST_F(ProfileTest, RewritingChangesOnlyTheWrittenKey) {
  const std::string before =
      "; settings\r\n"
      "[Screen]\r\n"
      "Width = 800   \r\n"
      "Height=600\r\n"
      "\r\n"
      "; window position\r\n"
      "[Window]\r\n"
      "Left=\r\n"
      "\r\n";
  put(before);
  ASSERT_TRUE(profile::write_string(file_, "screen", "WIDTH", "1024"));
  EXPECT_EQ(contents(),
            "; settings\r\n[Screen]\r\nWidth = 1024\r\nHeight=600\r\n\r\n"
            "; window position\r\n[Window]\r\nLeft=\r\n\r\n");
  ASSERT_TRUE(profile::write_string(file_, "Window", "Left", "-3"));
  EXPECT_EQ(contents(),
            "; settings\r\n[Screen]\r\nWidth = 1024\r\nHeight=600\r\n\r\n"
            "; window position\r\n[Window]\r\nLeft=-3\r\n\r\n");

  // A new key goes after the section's last non-blank line (here a comment
  // that belongs to the next section: the rule is by lines, not by meaning).
  ASSERT_TRUE(profile::write_string(file_, "Screen", "Depth", "32"));
  EXPECT_EQ(contents(),
            "; settings\r\n[Screen]\r\nWidth = 1024\r\nHeight=600\r\n\r\n"
            "; window position\r\nDepth=32\r\n[Window]\r\nLeft=-3\r\n\r\n");
  EXPECT_EQ(profile::get_int(file_, "Screen", "Depth", 0), 32);

  // A new section at the end, after a blank line only when one is missing.
  ASSERT_TRUE(profile::write_string(file_, "Option", "GlobalFocus", "0"));
  EXPECT_EQ(contents(),
            "; settings\r\n[Screen]\r\nWidth = 1024\r\nHeight=600\r\n\r\n"
            "; window position\r\nDepth=32\r\n[Window]\r\nLeft=-3\r\n\r\n"
            "[Option]\r\nGlobalFocus=0\r\n");
  ASSERT_TRUE(profile::write_string(file_, "Drive", "CD", "1"));
  EXPECT_EQ(profile::get_string(file_, "Drive", "CD", ""), "1");
  EXPECT_NE(contents().find("GlobalFocus=0\r\n\r\n[Drive]\r\nCD=1\r\n"), std::string::npos);

  // Writing the value a key already has leaves the file alone.
  std::string same = contents();
  ASSERT_TRUE(profile::write_string(file_, "DRIVE", "cd", "1"));
  EXPECT_EQ(contents(), same);
}

TEST_F(ProfileTest, NewFilesAndLineEndings) {
  ASSERT_TRUE(profile::write_string(file_, "Screen", "FullScreen", "1"));
  EXPECT_EQ(contents(), "[Screen]\r\nFullScreen=1\r\n");

  put("[A]\nx=1");  // LF endings, no final line break
  ASSERT_TRUE(profile::write_string(file_, "A", "y", "2"));
  EXPECT_EQ(contents(), "[A]\nx=1\ny=2\n");
  put("[A]");
  ASSERT_TRUE(profile::write_string(file_, "A", "y", "2"));
  EXPECT_EQ(contents(), "[A]\r\ny=2\r\n");
  put("x=1");
  ASSERT_TRUE(profile::write_string(file_, "B", "y", "2"));
  EXPECT_EQ(contents(), "x=1\r\n\r\n[B]\r\ny=2\r\n");

  // A byte order mark stays, and the first section after it is found.
  put("\xEF\xBB\xBF[A]\nx=1\n");
  ASSERT_TRUE(profile::write_string(file_, "a", "X", "5"));
  EXPECT_EQ(contents(), "\xEF\xBB\xBF[A]\nx=5\n");
  put("\xEF\xBB\xBF");
  ASSERT_TRUE(profile::write_string(file_, "A", "x", "1"));
  EXPECT_EQ(contents(), "\xEF\xBB\xBF[A]\r\nx=1\r\n");

  // The first of two same-named sections takes a new key.
  put("[A]\nx=1\n\n[B]\n[A]\ny=2\n");
  ASSERT_TRUE(profile::write_string(file_, "A", "z", "3"));
  EXPECT_EQ(contents(), "[A]\nx=1\nz=3\n\n[B]\n[A]\ny=2\n");
  ASSERT_TRUE(profile::write_string(file_, "A", "y", "4"));  // found in the second
  EXPECT_EQ(contents(), "[A]\nx=1\nz=3\n\n[B]\n[A]\ny=4\n");
}

TEST_F(ProfileTest, UnsafeInputIsCutOrRefused) {
  put("[A]\r\nx=1\r\n");
  const std::string before = contents();
  ASSERT_TRUE(profile::write_string(file_, "A", "x", "2\r\n[Evil]\r\ny=3"));
  EXPECT_EQ(contents(), "[A]\r\nx=2\r\n");
  EXPECT_EQ(get("Evil", "y"), "<none>");

  put(before);
  EXPECT_FALSE(profile::write_string(file_, "A]", "x", "1"));
  EXPECT_FALSE(profile::write_string(file_, "A\n", "x", "1"));
  EXPECT_FALSE(profile::write_string(file_, "", "x", "1"));
  EXPECT_FALSE(profile::write_string(file_, "A", "x=y", "1"));
  EXPECT_FALSE(profile::write_string(file_, "A", "[x", "1"));
  EXPECT_FALSE(profile::write_string(file_, "A", ";x", "1"));
  EXPECT_FALSE(profile::write_string(file_, "A", "  ", "1"));
  // A lone lead byte at the end would swallow the closing ']' on reading.
  EXPECT_FALSE(profile::write_string(file_, "Gen\x82", "x", "1"));
  EXPECT_EQ(contents(), before);
  // A whole two-byte character ending the name is fine, even with ']' as its trail byte.
  ASSERT_TRUE(profile::write_string(file_, "Gen\x82\x5D", "x", "1"));
  EXPECT_EQ(get("Gen\x82\x5D", "x"), "1");
  put(before);

  // Unwritable places fail and create nothing.
  EXPECT_FALSE(profile::write_string(dir_ + "/no/such/dir.cfg", "A", "x", "1"));
  EXPECT_FALSE(profile::write_string(dir_, "A", "x", "1"));
  EXPECT_FALSE(fs::exists(dir_ + "/no"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(ProfileTest, ANewKeyAfterABareCarriageReturnStartsItsOwnLine) {
  put("[A]\r\nx=1\r");
  ASSERT_TRUE(profile::write_string(file_, "A", "y", "2"));
  EXPECT_EQ(get("A", "x"), "1");
  EXPECT_EQ(get("A", "y"), "2");
  // Writing again changes the key in place rather than adding another line.
  ASSERT_TRUE(profile::write_string(file_, "A", "y", "3"));
  EXPECT_EQ(get("A", "y"), "3");
  EXPECT_EQ(contents().find("y=2"), std::string::npos);
}

TEST_F(ProfileTest, KeepsLinksAndPermissions) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links need extra rights on Windows and files there have no POSIX "
                  "permission bits";
#else
  put("[A]\nx=1\n");
  fs::create_symlink(file_, dir_ + "/link.cfg");
  ASSERT_TRUE(profile::write_string(dir_ + "/link.cfg", "A", "x", "2"));
  EXPECT_TRUE(fs::is_symlink(dir_ + "/link.cfg"));
  EXPECT_EQ(contents(), "[A]\nx=2\n");

  ASSERT_EQ(chmod(file_.c_str(), 0600), 0);
  ASSERT_TRUE(profile::write_string(file_, "A", "x", "3"));
  struct stat st;
  ASSERT_EQ(stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  if (geteuid() != 0) {  // a read-only file is refused (root may write anyway)
    ASSERT_EQ(chmod(file_.c_str(), 0400), 0);
    EXPECT_FALSE(profile::write_string(file_, "A", "x", "4"));
    EXPECT_EQ(contents(), "[A]\nx=3\n");
  }
#endif
}

TEST_F(ProfileTest, DeletingKeysAndSections) {
  put("[A]\r\nx=1\r\n; note\r\ny=2\r\n[B]\r\nx=3\r\n[a]\r\nX=4\r\n");
  ASSERT_TRUE(profile::delete_key(file_, "A", "x"));  // both sections named A
  EXPECT_EQ(contents(), "[A]\r\n; note\r\ny=2\r\n[B]\r\nx=3\r\n[a]\r\n");
  ASSERT_TRUE(profile::delete_key(file_, "A", "missing"));
  ASSERT_TRUE(profile::delete_section(file_, "a"));
  EXPECT_EQ(contents(), "[B]\r\nx=3\r\n");
  EXPECT_EQ(get("A", "y"), "<none>");
  EXPECT_EQ(get("B", "x"), "3");

  EXPECT_TRUE(profile::delete_key(dir_ + "/missing.cfg", "A", "x"));
  EXPECT_TRUE(profile::delete_section(dir_ + "/missing.cfg", "A"));
  EXPECT_FALSE(fs::exists(dir_ + "/missing.cfg"));
}
