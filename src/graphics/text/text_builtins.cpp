// Font and text builtins.
#include "graphics/text/text_builtins.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "graphics/plane/plane.h"
#include "graphics/text/font_faces.h"
#include "graphics/text/text.h"
#include "runtime/builtins.h"
#include "runtime/threads.h"
#include "runtime/trap.h"

namespace talven::graphics {

namespace {

// The font byte of code that runs outside any script thread (tests, tools).
std::uint8_t outside_font = 0;

std::uint8_t& font_byte() {
  int t = runtime::calling_thread();
  return t >= 0 ? runtime::thread_table[t].font : outside_font;
}

bool load_record(Addr addr, FontRecord& desc) { return read_bytes(addr, &desc, sizeof desc); }

int draw(std::int32_t plane, std::int32_t x, std::int32_t y, std::uint32_t colour,
         std::string_view text) {
  return draw_text(plane_at(plane), current_font(), x, y, colour, text);
}

}  // namespace

std::uint8_t current_font() { return font_byte(); }

std::uint32_t bi_font_list(Addr names, std::int32_t capacity) {
  if (!names || capacity <= 0) return 0;
  std::uint32_t stored = 0;
  for (const std::string& name : list_japanese_faces(std::size_t(capacity))) {
    Addr entry = names + 32u * stored;
    if (!valid_range(entry, 32) || !write_cstr(entry, name, 32)) break;
    ++stored;
  }
  return stored;
}

bool bi_font_use(std::uint32_t font) {
  font_byte() = std::uint8_t(font);
  return true;
}

bool bi_font_set(std::int32_t slot, Addr desc_addr) {
  FontRecord desc;
  return load_record(desc_addr, desc) && font_set(slot, desc);
}

bool bi_font_get(std::int32_t slot, Addr out) {
  FontRecord desc;
  if (!valid_range(out, sizeof desc) || !font_get(slot, desc)) return false;
  return write_bytes(out, &desc, sizeof desc);
}

bool bi_font_abc(std::int32_t slot, std::uint32_t code, Addr out) {
  if (!valid_range(out, 12)) return false;
  float abc[3];
  if (!font_abc(slot, code, abc)) return false;
  return write_bytes(out, abc, sizeof abc);
}

bool bi_font_kern(std::int32_t slot, std::uint32_t pair, Addr out) {
  if (!valid_range(out, 4)) return false;
  float amount = 0;
  if (!font_kern(slot, pair, amount)) return false;
  return write_bytes(out, &amount, 4);
}

std::int32_t bi_gtext(std::int32_t plane, std::int32_t x, std::int32_t y, std::uint32_t colour,
                      Addr text) {
  auto chars = cstr(text, kMaxTextBytes);
  if (!chars) return 0;
  return draw(plane, x, y, colour, *chars);
}

std::uint32_t bi_gtextf(Addr args) {
  std::uint32_t w[5];
  if (!runtime::read_arg_words(args, 5, w)) return 0;
  auto format = cstr(w[4], kMaxTextBytes);
  if (!format) return 0;
  // Arguments are read no further than the top of the caller's stack.
  const runtime::VmContext* c = runtime::current_context;
  Addr limit = c ? c->stack + c->stack_size : args + 4 * 5;
  TextFormatter formatter = text_formatter();
  std::string text = formatter ? formatter(*format, args + 4 * 5, limit) : std::string(*format);
  // The buffer ends the text at its first zero byte or at its size.
  std::size_t end = std::min<std::size_t>(text.find('\0'), kTextFormatBuffer - 1);
  if (end < text.size()) text.resize(end);
  return std::uint32_t(
      draw(std::int32_t(w[0]), std::int32_t(w[1]), std::int32_t(w[2]), w[3], text));
}

}  // namespace talven::graphics
