#include "host/window_debug.h"

#include <SDL.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/cp932.h"
#include "base/debug_output.h"
#include "host/window.h"
#include "host/window_font.h"
#include "host/window_text.h"

namespace talven::host {

void ListView::appended(int new_count) {
  count = new_count;
  top = max_top();  // the newest line comes into view
}

void ListView::clear() { count = top = x_offset = extent = 0; }

void ListView::scroll_lines(int delta) { top = std::clamp(top + delta, 0, max_top()); }

void ListView::scroll_pixels(int delta) { x_offset = std::clamp(x_offset + delta, 0, max_x()); }

void ListView::widen(int line_width) {
  if (line_width + 5 > extent) extent = line_width + 5;
}

namespace {

constexpr int kScale = 2;
constexpr int kMargin = 8;
constexpr int kBar = 12;  // scroll bar thickness
constexpr int kButtonW = 112, kButtonH = 28;
constexpr int kWindowW = 560, kWindowH = 360;

struct DebugWindow {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* glyphs = nullptr;  // the font's 95 glyphs side by side, white on clear
  bool shown = false;
  bool dirty = true;
  ListView list;
  std::vector<std::string> lines;  // UTF-8 free: drawn byte-wise as CP932
};

DebugWindow dbg;

struct Box {
  int x, y, w, h;
  bool contains(int px, int py) const { return px >= x && py >= y && px < x + w && py < y + h; }
};

void layout(Box& list, Box& clear_button, Box& close_button) {
  int w = kWindowW, h = kWindowH;
  if (dbg.renderer) SDL_GetRendererOutputSize(dbg.renderer, &w, &h);
  list = {kMargin, kMargin, std::max(w - 2 * kMargin, 40),
          std::max(h - 3 * kMargin - kButtonH, 40)};
  close_button = {w - kMargin - kButtonW, h - kMargin - kButtonH, kButtonW, kButtonH};
  clear_button = {close_button.x - kMargin - kButtonW, close_button.y, kButtonW, kButtonH};
}

// Lines are as tall as the installed text renderer's font, or the cells
// of the built-in one.
int line_height() {
  const WindowTextRenderer* r = window_text_renderer();
  return r ? std::max(r->line_height() + 2, 8) : (kCellHeight + 1) * kScale;
}

int line_width(std::string_view text) {
  const WindowTextRenderer* r = window_text_renderer();
  return r ? r->width(text) : text_width(text, kScale);
}

void update_page() {
  Box list, clear_button, close_button;
  layout(list, clear_button, close_button);
  dbg.list.page = std::max((list.h - kBar - 4) / line_height(), 1);
  dbg.list.width = list.w - kBar - 4;
  dbg.list.scroll_lines(0);
  dbg.list.scroll_pixels(0);
}

void draw_text(std::string_view text, int x, int y, const Box& clip, SDL_Color colour) {
  if (const WindowTextRenderer* r = window_text_renderer()) {
    draw_rendered_line(dbg.renderer, *r, text, x, y, colour);
    return;
  }
  draw_builtin_line(dbg.renderer, dbg.glyphs, text, x, y, kScale, colour, clip.x, clip.x + clip.w);
}

// A button label: '&' marks the mnemonic, which is underlined.
void draw_button(const Box& b, std::string_view label) {
  SDL_Rect r{b.x, b.y, b.w, b.h};
  if (const WindowTextRenderer* tr = window_text_renderer()) {
    SDL_SetRenderDrawColor(dbg.renderer, 225, 225, 225, 255);
    SDL_RenderFillRect(dbg.renderer, &r);
    SDL_SetRenderDrawColor(dbg.renderer, 110, 110, 110, 255);
    SDL_RenderDrawRect(dbg.renderer, &r);
    std::string text = cp932::from_utf8_lossy(label);
    std::size_t amp = text.find('&');
    std::string shown =
        amp == std::string::npos ? text : text.substr(0, amp) + text.substr(amp + 1);
    int tw = tr->width(shown), th = tr->line_height();
    int x = b.x + (b.w - tw) / 2, y = b.y + (b.h - th) / 2;
    draw_text(shown, x, y, b, {0, 0, 0, 255});
    if (amp != std::string::npos && amp < shown.size()) {
      int u0 = x + tr->width(std::string_view(shown).substr(0, amp));
      int u1 = x + tr->width(std::string_view(shown).substr(0, cp932::next(shown, amp)));
      SDL_SetRenderDrawColor(dbg.renderer, 0, 0, 0, 255);
      SDL_RenderDrawLine(dbg.renderer, u0, y + th, u1 - 1, y + th);
    }
    return;
  }
  SDL_SetRenderDrawColor(dbg.renderer, 225, 225, 225, 255);
  SDL_RenderFillRect(dbg.renderer, &r);
  SDL_SetRenderDrawColor(dbg.renderer, 110, 110, 110, 255);
  SDL_RenderDrawRect(dbg.renderer, &r);
  int tw = text_width(label, kScale);
  draw_text(label, b.x + (b.w - tw) / 2, b.y + (b.h - kGlyphHeight * kScale) / 2, b,
            {0, 0, 0, 255});
}

void redraw() {
  if (!dbg.renderer) return;
  Box list, clear_button, close_button;
  layout(list, clear_button, close_button);
  SDL_SetRenderDrawColor(dbg.renderer, 240, 240, 240, 255);
  SDL_RenderClear(dbg.renderer);
  SDL_Rect lr{list.x, list.y, list.w, list.h};
  SDL_SetRenderDrawColor(dbg.renderer, 255, 255, 255, 255);
  SDL_RenderFillRect(dbg.renderer, &lr);
  Box text_area{list.x + 2, list.y + 2, dbg.list.width, list.h - kBar - 4};
  SDL_Rect clip{text_area.x, text_area.y, text_area.w, text_area.h};
  SDL_RenderSetClipRect(dbg.renderer, &clip);
  for (int i = 0; i < dbg.list.page + 1 && dbg.list.top + i < dbg.list.count; ++i) {
    const std::string& line = dbg.lines[dbg.list.top + i];
    draw_text(line, text_area.x - dbg.list.x_offset, text_area.y + i * line_height(), text_area,
              {0, 0, 0, 255});
  }
  SDL_RenderSetClipRect(dbg.renderer, nullptr);
  // Scroll bars: vertical at the right, horizontal at the bottom.
  SDL_SetRenderDrawColor(dbg.renderer, 215, 215, 215, 255);
  SDL_Rect vbar{list.x + list.w - kBar, list.y, kBar, list.h - kBar};
  SDL_Rect hbar{list.x, list.y + list.h - kBar, list.w - kBar, kBar};
  SDL_RenderFillRect(dbg.renderer, &vbar);
  SDL_RenderFillRect(dbg.renderer, &hbar);
  SDL_SetRenderDrawColor(dbg.renderer, 140, 140, 140, 255);
  if (dbg.list.count > dbg.list.page) {
    int thumb = std::max(vbar.h * dbg.list.page / dbg.list.count, 10);
    int pos = (vbar.h - thumb) * dbg.list.top / std::max(dbg.list.max_top(), 1);
    SDL_Rect t{vbar.x + 2, vbar.y + pos, kBar - 4, thumb};
    SDL_RenderFillRect(dbg.renderer, &t);
  }
  if (dbg.list.extent > dbg.list.width) {
    int thumb = std::max(hbar.w * dbg.list.width / dbg.list.extent, 10);
    int pos = (hbar.w - thumb) * dbg.list.x_offset / std::max(dbg.list.max_x(), 1);
    SDL_Rect t{hbar.x + pos, hbar.y + 2, thumb, kBar - 4};
    SDL_RenderFillRect(dbg.renderer, &t);
  }
  SDL_SetRenderDrawColor(dbg.renderer, 110, 110, 110, 255);
  SDL_RenderDrawRect(dbg.renderer, &lr);
  // Without a text renderer the built-in font has no Japanese: the buttons
  // then read in English, with their mnemonics as keys.
  bool japanese = window_text_renderer() != nullptr;
  draw_button(clear_button, japanese ? "クリア(&C)" : "Clear (C)");
  draw_button(close_button, japanese ? "閉じる(&X)" : "Close (X)");
  SDL_RenderPresent(dbg.renderer);
  dbg.dirty = false;
}

void clear_list() {
  debug_output_clear();
  dbg.lines.clear();
  dbg.list.clear();
  dbg.dirty = true;
}

}  // namespace

bool debug_window_create() {
  debug_window_destroy();
  dbg = DebugWindow{};
  dbg.window =
      SDL_CreateWindow("Debug Output", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, kWindowW,
                       kWindowH, SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_UTILITY);
  if (!dbg.window) return false;
  dbg.renderer = SDL_CreateRenderer(dbg.window, -1, SDL_RENDERER_SOFTWARE);
  if (!dbg.renderer) dbg.renderer = SDL_CreateRenderer(dbg.window, -1, 0);
  if (dbg.renderer) dbg.glyphs = make_glyph_texture(dbg.renderer);
  update_page();
  return true;
}

void debug_window_destroy() {
  if (dbg.glyphs) SDL_DestroyTexture(dbg.glyphs);
  if (dbg.renderer) SDL_DestroyRenderer(dbg.renderer);
  if (dbg.window) SDL_DestroyWindow(dbg.window);
  dbg = DebugWindow{};
}

std::uint32_t debug_window_id() { return dbg.window ? SDL_GetWindowID(dbg.window) : 0; }

void debug_window_handle(const SDL_Event& e) {
  if (!dbg.window) return;
  Box list, clear_button, close_button;
  layout(list, clear_button, close_button);
  switch (e.type) {
    case SDL_WINDOWEVENT:
      if (e.window.event == SDL_WINDOWEVENT_CLOSE) debug_output_hide();
      if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) update_page();
      dbg.dirty = true;
      break;
    case SDL_KEYDOWN: {
      const SDL_Keysym& k = e.key.keysym;
      if (k.sym == SDLK_F8) {  // toggles from here too
        if (!e.key.repeat) debug_output_toggle();
      } else if (k.sym == SDLK_x && (k.mod & KMOD_ALT)) {  // the buttons' mnemonics
        debug_output_hide();
      } else if (k.sym == SDLK_c && (k.mod & KMOD_ALT)) {
        clear_list();
      } else if (k.sym == SDLK_UP) {
        dbg.list.scroll_lines(-1);
      } else if (k.sym == SDLK_DOWN) {
        dbg.list.scroll_lines(1);
      } else if (k.sym == SDLK_PAGEUP) {
        dbg.list.scroll_lines(-dbg.list.page);
      } else if (k.sym == SDLK_PAGEDOWN) {
        dbg.list.scroll_lines(dbg.list.page);
      } else if (k.sym == SDLK_HOME) {
        dbg.list.scroll_lines(-dbg.list.count);
      } else if (k.sym == SDLK_END) {
        dbg.list.scroll_lines(dbg.list.count);
      } else if (k.sym == SDLK_LEFT) {
        dbg.list.scroll_pixels(-kCellWidth * kScale * 4);
      } else if (k.sym == SDLK_RIGHT) {
        dbg.list.scroll_pixels(kCellWidth * kScale * 4);
      }
      dbg.dirty = true;
      break;
    }
    case SDL_MOUSEWHEEL: {
      int y = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
      int x = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.x : e.wheel.x;
      if (SDL_GetModState() & KMOD_SHIFT) std::swap(x, y);
      dbg.list.scroll_lines(-3 * y);
      dbg.list.scroll_pixels(x * kCellWidth * kScale * 4);
      dbg.dirty = true;
      break;
    }
    case SDL_MOUSEBUTTONDOWN:
      if (e.button.button != SDL_BUTTON_LEFT) break;
      if (clear_button.contains(e.button.x, e.button.y)) {
        clear_list();
      } else if (close_button.contains(e.button.x, e.button.y)) {
        debug_output_hide();
      } else if (e.button.x >= list.x + list.w - kBar && list.contains(e.button.x, e.button.y)) {
        // Clicks on the vertical bar page up or down.
        dbg.list.scroll_lines(e.button.y < list.y + (list.h - kBar) / 2 ? -dbg.list.page
                                                                        : dbg.list.page);
      } else if (e.button.y >= list.y + list.h - kBar && list.contains(e.button.x, e.button.y)) {
        dbg.list.scroll_pixels(e.button.x < list.x + list.w / 2 ? -dbg.list.width : dbg.list.width);
      }
      dbg.dirty = true;
      break;
    default: break;
  }
}

void debug_window_sync() {
  if (!dbg.window) return;
  std::size_t count = debug_output_count();
  if (count != dbg.lines.size()) {
    std::vector<std::string> now = debug_output_lines();
    if (now.size() < dbg.lines.size()) {  // cleared (log_clear) and maybe refilled
      dbg.lines.clear();
      dbg.list.clear();
    }
    for (std::size_t i = dbg.lines.size(); i < now.size(); ++i) {
      dbg.list.widen(line_width(now[i]));
      dbg.lines.push_back(std::move(now[i]));
    }
    dbg.list.appended(static_cast<int>(dbg.lines.size()));
    dbg.dirty = true;
  }
  bool want = debug_output_visible();
  if (want != dbg.shown) {
    if (want) {
      SDL_ShowWindow(dbg.window);
      SDL_RaiseWindow(dbg.window);
    } else {
      SDL_HideWindow(dbg.window);
      if (SDL_Window* main = main_sdl_window()) SDL_RaiseWindow(main);
    }
    dbg.shown = want;
    dbg.dirty = true;
  }
  if (dbg.shown && dbg.dirty) redraw();
}

}  // namespace talven::host
