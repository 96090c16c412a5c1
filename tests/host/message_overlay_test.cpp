// Message boxes drawn in the window: where a box goes, how its text is laid
// out, and the queue of shown messages with its dismissal keys.
#include "host/message_overlay.h"

#include "host/window_font.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <string>

namespace talven::host {
namespace {

// Every byte is 8 pixels wide: widths are easy to reason about.
int eight(std::string_view s) { return static_cast<int>(s.size()) * 8; }

bool inside(const OverlayRect& inner, const OverlayRect& outer) {
  return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.w <= outer.x + outer.w &&
         inner.y + inner.h <= outer.y + outer.h;
}

TEST(BoxRouter, SystemBoxesUntilOneFailsThenTheWindowAndNothingWithoutAWindow) {
  BoxRouter router;
  EXPECT_EQ(router.route(true), BoxRoute::kSystem);
  EXPECT_EQ(router.route(false), BoxRoute::kNone);
  router.system_box_failed();
  EXPECT_EQ(router.route(true), BoxRoute::kWindow) << "later messages are drawn at once";
  EXPECT_EQ(router.route(false), BoxRoute::kNone);
  EXPECT_EQ(BoxRouter(true).route(true), BoxRoute::kWindow) << "asked for";
}

TEST(MessageLayout, ShortTextIsCentredWithItsLinesAndButtonInside) {
  MessageLayout m = layout_message("Line one\nSecond", 320, 240, eight, 12);
  ASSERT_EQ(m.lines.size(), 2u);
  EXPECT_EQ(m.lines[0], "Line one");
  EXPECT_EQ(m.lines[1], "Second");
  const OverlayRect client{0, 0, 320, 240};
  EXPECT_TRUE(inside(m.box, client));
  EXPECT_TRUE(inside(m.text, m.box));
  EXPECT_TRUE(inside(m.button, m.box));
  EXPECT_TRUE(inside(m.caption, m.box));
  EXPECT_LE(m.text.y + m.text.h, m.button.y) << "the text stays above the button";
  EXPECT_NEAR(m.box.x + m.box.w / 2, 160, 1);
  EXPECT_NEAR(m.box.y + m.box.h / 2, 120, 1);
  EXPECT_EQ(m.text.h, 2 * 12);
}

TEST(MessageLayout, LongLinesWrapAtSpacesElseBetweenWholeCharacters) {
  // 200 pixels of client: 200 - 16 - 20 = 164 pixels of text, 20 bytes.
  MessageLayout m = layout_message("alpha beta gamma delta epsilon", 200, 400, eight, 10);
  ASSERT_GE(m.lines.size(), 2u);
  for (const std::string& l : m.lines) {
    EXPECT_LE(eight(l), m.text.w) << l;
    EXPECT_TRUE(l.empty() || l.back() != ' ') << l;
  }
  EXPECT_EQ(m.lines[0], "alpha beta gamma");

  // No space: cut between characters, and a CP932 pair ("あ" is 82 A0)
  // never split.
  std::string wide;
  for (int i = 0; i < 30; ++i) wide += "\x82\xA0";
  m = layout_message(wide, 200, 400, eight, 10);
  ASSERT_GE(m.lines.size(), 3u);
  for (const std::string& l : m.lines) {
    EXPECT_EQ(l.size() % 2, 0u) << "a double-byte character was split";
    EXPECT_LE(eight(l), m.text.w);
  }
}

TEST(MessageLayout, TooManyLinesAreCutWithAMarkAndStayInTheWindow) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += "line " + std::to_string(i) + "\n";
  MessageLayout m = layout_message(text, 320, 240, eight, 12);
  ASSERT_LT(m.lines.size(), 100u);
  EXPECT_EQ(m.lines.back().substr(m.lines.back().size() - 3), "...");
  const OverlayRect client{0, 0, 320, 240};
  EXPECT_TRUE(inside(m.box, client));
  EXPECT_TRUE(inside(m.button, client));
  EXPECT_LE(m.text.y + m.text.h, m.button.y);

  // A tiny window still gets one line and a button inside it.
  m = layout_message("a long message that cannot fit", 64, 64, eight, 12);
  EXPECT_FALSE(m.lines.empty());
  EXPECT_TRUE(inside(m.button, OverlayRect{0, 0, 64, 64}));
}

SDL_Event key(SDL_Keycode sym) {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.keysym.sym = sym;
  return e;
}

TEST(Overlay, KeysDismissInOrderAndInputIsTheBoxsWhileShown) {
  int first = 0, second = 0;
  overlay_push("one", [&] { ++first; });
  overlay_push("two", [&] { ++second; });
  EXPECT_TRUE(overlay_active());
  EXPECT_TRUE(overlay_take_changed());
  EXPECT_FALSE(overlay_take_changed());

  EXPECT_TRUE(overlay_handle_event(key(SDLK_a))) << "other keys are swallowed, nothing closes";
  SDL_Event release = key(SDLK_a);
  release.type = SDL_KEYUP;
  EXPECT_FALSE(overlay_handle_event(release)) << "a key held before the box is let go";
  EXPECT_EQ(first, 0);
  EXPECT_TRUE(overlay_handle_event(key(SDLK_RETURN)));
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);
  EXPECT_TRUE(overlay_take_changed());
  SDL_Event repeat = key(SDLK_ESCAPE);
  repeat.key.repeat = 1;
  overlay_handle_event(repeat);
  EXPECT_EQ(second, 0) << "a held key does not dismiss the next message";
  EXPECT_TRUE(overlay_handle_event(key(SDLK_ESCAPE)));
  EXPECT_EQ(second, 1);
  EXPECT_FALSE(overlay_active());
  EXPECT_FALSE(overlay_handle_event(key(SDLK_RETURN))) << "no box: the game's input";

  // Dropping every message (the window goes) answers each once.
  overlay_push("three", [&] { ++first; });
  overlay_push("four", nullptr);
  overlay_clear();
  EXPECT_EQ(first, 2);
  EXPECT_FALSE(overlay_active());
}

SDL_Event mouse(std::uint32_t type, int x, int y) {
  SDL_Event e{};
  e.type = type;
  e.button.button = SDL_BUTTON_LEFT;
  e.button.x = x;
  e.button.y = y;
  return e;
}

std::uint32_t pixel(SDL_Surface* s, int x, int y) {
  return static_cast<const std::uint32_t*>(s->pixels)[y * (s->pitch / 4) + x] & 0xFFFFFFu;
}

TEST(Overlay, IsDrawnOverThePictureAndAClickOnOkDismissesIt) {
  // A software renderer on a plain surface: no display needed.
  SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormat(0, 320, 240, 32, SDL_PIXELFORMAT_ARGB8888);
  ASSERT_NE(surface, nullptr);
  SDL_Renderer* renderer = SDL_CreateSoftwareRenderer(surface);
  ASSERT_NE(renderer, nullptr);
  SDL_SetRenderDrawColor(renderer, 255, 255, 255, 255);
  SDL_RenderClear(renderer);

  int dismissed = 0;
  overlay_push("Out of paper", [&] { ++dismissed; });
  overlay_draw(renderer);
  // The layout the overlay used: the built-in font at scale 1 in a window
  // this small (no text renderer is installed in these tests).
  const MessageLayout m = layout_message(
      "Out of paper", 320, 240, [](std::string_view t) { return text_width(t, 1); },
      kCellHeight + 1);
  EXPECT_LT(pixel(surface, 2, 2), 0xA0A0A0u) << "the picture is dimmed";
  EXPECT_EQ(pixel(surface, m.box.x + 2, m.box.y + m.box.h / 2 + m.line_height), 0xF0F0F0u)
      << "the box is drawn";
  EXPECT_EQ(pixel(surface, m.button.x + m.button.w - 2, m.button.y + 2), 0xE1E1E1u)
      << "the OK button is drawn";

  // A press outside OK and a release on it is no click; a press and
  // release on it is.
  overlay_handle_event(mouse(SDL_MOUSEBUTTONDOWN, 1, 1));
  overlay_handle_event(mouse(SDL_MOUSEBUTTONUP, m.button.x + 2, m.button.y + 2));
  EXPECT_EQ(dismissed, 0);
  EXPECT_TRUE(overlay_handle_event(mouse(SDL_MOUSEBUTTONDOWN, m.button.x + 2, m.button.y + 2)));
  overlay_handle_event(mouse(SDL_MOUSEBUTTONUP, m.button.x + 3, m.button.y + 3));
  EXPECT_EQ(dismissed, 1);
  EXPECT_FALSE(overlay_active());

  overlay_clear();  // lets go of the glyphs made for this renderer
  SDL_DestroyRenderer(renderer);
  SDL_FreeSurface(surface);
}

}  // namespace
}  // namespace talven::host
