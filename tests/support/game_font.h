// The Japanese face test games ship in their own "fonts" folder: IPAGothic
// (tests/data/fonts/ipag.ttf, with its licence). A game's own fonts are
// found before the host's, and when the host has no Japanese face at all
// (Wine's Windows has none) the game's face is the fallback for every other
// name, so text draws the same wherever the tests run.
#pragma once

#include <filesystem>
#include <system_error>

namespace talven::test {

inline std::filesystem::path test_font_file() {
  return std::filesystem::path(TALVEN_TEST_DATA) / "fonts" / "ipag.ttf";
}

// Copies the face into game_dir/fonts; false when it could not be.
inline bool add_game_font(const std::filesystem::path& game_dir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(game_dir / "fonts", ec);
  if (ec) return false;
  return fs::copy_file(test_font_file(), game_dir / "fonts" / "ipag.ttf",
                       fs::copy_options::overwrite_existing, ec) &&
         !ec;
}

}  // namespace talven::test
