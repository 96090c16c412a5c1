#include "host/message_overlay.h"

#include <SDL.h>

#include <algorithm>
#include <deque>
#include <utility>

#include "base/cp932.h"
#include "host/window_font.h"
#include "host/window_text.h"

namespace talven::host {

namespace {

constexpr const char* kCaption = "ERROR : Error";  // as the system's boxes are captioned
constexpr const char* kButtonLabel = "OK";
constexpr std::string_view kCut = "...";
constexpr int kOuterMargin = 8;  // between the box and the client area's edge
constexpr int kPad = 10;         // inside the box
constexpr int kButtonWidth = 72;

// The longest prefix of `line` (whole characters) that fits `max_w`; a
// break after a space is preferred. At least one character.
std::size_t fitting_prefix(std::string_view line, int max_w, const TextMeasure& width) {
  std::size_t fit = 0, last_space = 0;
  for (std::size_t i = 0; i < line.size();) {
    const std::size_t next = cp932::next(line, i);
    if (fit > 0 && width(line.substr(0, next)) > max_w) break;
    if (line[i] == ' ') last_space = next;
    fit = next;
    i = next;
  }
  if (fit < line.size() && last_space > 0) return last_space;
  return fit;
}

// `line` with "..." put at its end, shortened by whole characters to fit.
std::string cut_line(std::string_view line, int max_w, const TextMeasure& width) {
  std::string out(line);
  while (!out.empty() && width(out + std::string(kCut)) > max_w) {
    std::size_t last = 0;
    for (std::size_t i = 0; i < out.size(); i = cp932::next(out, i)) last = i;
    out.erase(last);
  }
  return out + std::string(kCut);
}

}  // namespace

MessageLayout layout_message(std::string_view text, int client_w, int client_h,
                             const TextMeasure& width, int line_height) {
  MessageLayout m;
  m.line_height = std::max(line_height, 1);
  const int caption_h = m.line_height + 8;
  const int button_h = m.line_height + 10;
  const int max_box_w = std::max(client_w - 2 * kOuterMargin, 2 * kPad + 1);
  const int max_text_w = max_box_w - 2 * kPad;

  // Paragraphs at line feeds, each wrapped to the widest text the client
  // area allows.
  std::string paragraph;
  auto wrap = [&](std::string_view p) {
    if (p.empty()) {
      m.lines.emplace_back();
      return;
    }
    while (!p.empty()) {
      std::size_t n = fitting_prefix(p, max_text_w, width);
      std::string_view piece = p.substr(0, n);
      while (!piece.empty() && piece.back() == ' ') piece.remove_suffix(1);
      m.lines.emplace_back(piece);
      p.remove_prefix(n);
    }
  };
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      wrap(paragraph);
      paragraph.clear();
    } else {
      paragraph += c;
    }
  }
  if (!paragraph.empty() || m.lines.empty()) wrap(paragraph);

  // As many lines as the height allows; the last one kept says it is cut.
  const int chrome_h = caption_h + 3 * kPad + button_h;
  const int max_lines = std::max((client_h - 2 * kOuterMargin - chrome_h) / m.line_height, 1);
  if (static_cast<int>(m.lines.size()) > max_lines) {
    m.lines.resize(static_cast<std::size_t>(max_lines));
    m.lines.back() = cut_line(m.lines.back(), max_text_w, width);
  }

  int text_w = std::max(width(kCaption), kButtonWidth);
  for (const std::string& l : m.lines) text_w = std::max(text_w, width(l));
  text_w = std::min(text_w, max_text_w);
  const int text_h = static_cast<int>(m.lines.size()) * m.line_height;
  const int box_w = text_w + 2 * kPad;
  const int box_h = std::min(chrome_h + text_h, std::max(client_h - 2 * kOuterMargin, 1));
  m.box = {(client_w - box_w) / 2, (client_h - box_h) / 2, box_w, box_h};
  m.caption = {m.box.x, m.box.y, box_w, caption_h};
  m.text = {m.box.x + kPad, m.box.y + caption_h + kPad, text_w, text_h};
  const int button_w = std::min(kButtonWidth, box_w - 4);
  m.button = {m.box.x + (box_w - button_w) / 2, m.box.y + box_h - kPad - button_h, button_w,
              button_h};
  return m;
}

// ---- the shown messages ----------------------------------------------------------

namespace {

struct Shown {
  std::string text;  // UTF-8
  std::function<void()> dismissed;
};

struct Overlay {
  std::deque<Shown> queue;
  bool changed = false;
  bool pressed = false;  // the left button went down on OK
  OverlayRect button;    // where OK was last drawn
  SDL_Renderer* glyph_owner = nullptr;
  SDL_Texture* glyphs = nullptr;  // the built-in font's 95 glyphs, white on clear
  int scale = 1;
};

Overlay overlay;

void dismiss_front() {
  if (overlay.queue.empty()) return;
  std::function<void()> done = std::move(overlay.queue.front().dismissed);
  overlay.queue.pop_front();
  overlay.changed = true;
  overlay.pressed = false;
  if (done) done();
}

void release_glyphs() {
  if (overlay.glyphs) SDL_DestroyTexture(overlay.glyphs);
  overlay.glyphs = nullptr;
  overlay.glyph_owner = nullptr;
}

SDL_Texture* glyph_texture(SDL_Renderer* r) {
  if (overlay.glyph_owner == r && overlay.glyphs) return overlay.glyphs;
  release_glyphs();
  overlay.glyphs = make_glyph_texture(r);
  if (overlay.glyphs) overlay.glyph_owner = r;
  return overlay.glyphs;
}

// Text goes through the installed window text renderer (Japanese
// included), else the built-in font, which shows other characters as '?'.
int measure(std::string_view text) {
  if (const WindowTextRenderer* r = window_text_renderer()) return r->width(text);
  return text_width(text, overlay.scale);
}

int text_line_height() {
  if (const WindowTextRenderer* r = window_text_renderer())
    return std::max(r->line_height() + 2, 8);
  return (kCellHeight + 1) * overlay.scale;
}

void draw_text(SDL_Renderer* renderer, std::string_view text, int x, int y) {
  constexpr SDL_Color kBlack{0, 0, 0, 255};
  if (const WindowTextRenderer* r = window_text_renderer()) {
    draw_rendered_line(renderer, *r, text, x, y, kBlack);
    return;
  }
  draw_builtin_line(renderer, glyph_texture(renderer), text, x, y, overlay.scale, kBlack, x,
                    x + measure(text));
}

void fill(SDL_Renderer* r, const OverlayRect& box, std::uint8_t grey) {
  SDL_Rect rect{box.x, box.y, box.w, box.h};
  SDL_SetRenderDrawColor(r, grey, grey, grey, 255);
  SDL_RenderFillRect(r, &rect);
}

void frame(SDL_Renderer* r, const OverlayRect& box, std::uint8_t grey) {
  SDL_Rect rect{box.x, box.y, box.w, box.h};
  SDL_SetRenderDrawColor(r, grey, grey, grey, 255);
  SDL_RenderDrawRect(r, &rect);
}

}  // namespace

void overlay_push(const std::string& text, std::function<void()> dismissed) {
  overlay.queue.push_back({text, std::move(dismissed)});
  overlay.changed = true;
}

bool overlay_active() { return !overlay.queue.empty(); }

void overlay_clear() {
  while (!overlay.queue.empty()) dismiss_front();
  release_glyphs();
}

bool overlay_take_changed() { return std::exchange(overlay.changed, false); }

bool overlay_handle_event(const SDL_Event& e) {
  if (overlay.queue.empty()) return false;
  switch (e.type) {
    case SDL_KEYDOWN:
      switch (e.key.keysym.sym) {
        case SDLK_RETURN:
        case SDLK_KP_ENTER:
        case SDLK_ESCAPE:
        case SDLK_SPACE:
          if (!e.key.repeat) dismiss_front();
          break;
        default: break;
      }
      return true;
    case SDL_MOUSEBUTTONDOWN:
      overlay.pressed =
          e.button.button == SDL_BUTTON_LEFT && overlay.button.contains(e.button.x, e.button.y);
      return true;
    case SDL_MOUSEBUTTONUP:
      // A click is a press and a release both on the button. Releases still
      // reach the game, so that nothing held before the box stays held.
      if (e.button.button == SDL_BUTTON_LEFT && overlay.pressed &&
          overlay.button.contains(e.button.x, e.button.y))
        dismiss_front();
      overlay.pressed = false;
      return false;
    case SDL_KEYUP: return false;
    case SDL_TEXTINPUT:
    case SDL_TEXTEDITING:
    case SDL_MOUSEMOTION:
    case SDL_MOUSEWHEEL: return true;
    default: return false;
  }
}

void overlay_draw(SDL_Renderer* renderer) {
  if (!renderer || overlay.queue.empty()) return;
  int cw = 0, ch = 0;
  if (SDL_GetRendererOutputSize(renderer, &cw, &ch) != 0 || cw <= 0 || ch <= 0) return;
  overlay.scale = cw >= 480 && ch >= 360 ? 2 : 1;
  const std::string text = cp932::from_utf8_lossy(overlay.queue.front().text);
  const MessageLayout m = layout_message(text, cw, ch, measure, text_line_height());
  overlay.button = m.button;

  SDL_BlendMode saved_mode;
  SDL_GetRenderDrawBlendMode(renderer, &saved_mode);
  SDL_Rect saved_clip;
  SDL_RenderGetClipRect(renderer, &saved_clip);
  const bool clipped = SDL_RenderIsClipEnabled(renderer);
  SDL_RenderSetClipRect(renderer, nullptr);
  // The picture is dimmed so that the box stands out.
  SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
  SDL_SetRenderDrawColor(renderer, 0, 0, 0, 128);
  SDL_RenderFillRect(renderer, nullptr);
  SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_NONE);

  fill(renderer, m.box, 240);
  fill(renderer, m.caption, 200);
  frame(renderer, m.box, 90);
  const int text_h = m.line_height;
  draw_text(renderer, kCaption, m.caption.x + kPad, m.caption.y + (m.caption.h - text_h) / 2 + 1);
  SDL_Rect clip{m.text.x, m.text.y, m.text.w, m.text.h};
  SDL_RenderSetClipRect(renderer, &clip);
  for (std::size_t i = 0; i < m.lines.size(); ++i)
    draw_text(renderer, m.lines[i], m.text.x, m.text.y + static_cast<int>(i) * m.line_height);
  SDL_RenderSetClipRect(renderer, nullptr);
  fill(renderer, m.button, 225);
  frame(renderer, m.button, 60);
  draw_text(renderer, kButtonLabel, m.button.x + (m.button.w - measure(kButtonLabel)) / 2,
            m.button.y + (m.button.h - text_h) / 2 + 1);

  SDL_RenderSetClipRect(renderer, clipped ? &saved_clip : nullptr);
  SDL_SetRenderDrawBlendMode(renderer, saved_mode);
}

}  // namespace talven::host
