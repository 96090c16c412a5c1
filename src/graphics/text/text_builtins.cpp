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

std::int32_t s32(std::uint32_t v) { return std::int32_t(v); }

bool load_record(Addr addr, FontRecord& desc) { return read_bytes(addr, &desc, sizeof desc); }

int draw(const std::uint32_t* w, std::string_view text) {
  return draw_text(plane_at(s32(w[0])), current_font(), s32(w[1]), s32(w[2]), w[3], text);
}

}  // namespace

std::uint8_t current_font() { return font_byte(); }

std::uint32_t bi_font_list(Addr args) {
  Addr names = runtime::arg_word(args, 0);
  std::int32_t capacity = s32(runtime::arg_word(args, 1));
  if (!names || capacity <= 0) return 0;
  std::uint32_t stored = 0;
  for (const std::string& name : list_japanese_faces(std::size_t(capacity))) {
    Addr entry = names + 32u * stored;
    if (!valid_range(entry, 32) || !write_cstr(entry, name, 32)) break;
    ++stored;
  }
  return stored;
}

std::uint32_t bi_font_use(Addr args) {
  font_byte() = std::uint8_t(runtime::arg_word(args, 0));
  return 1;
}

std::uint32_t bi_font_set(Addr args) {
  FontRecord desc;
  if (!load_record(runtime::arg_word(args, 1), desc)) return 0;
  return font_set(s32(runtime::arg_word(args, 0)), desc) ? 1 : 0;
}

std::uint32_t bi_font_get(Addr args) {
  FontRecord desc;
  Addr out = runtime::arg_word(args, 1);
  if (!valid_range(out, sizeof desc) || !font_get(s32(runtime::arg_word(args, 0)), desc)) return 0;
  return write_bytes(out, &desc, sizeof desc) ? 1 : 0;
}

std::uint32_t bi_font_abc(Addr args) {
  Addr out = runtime::arg_word(args, 2);
  if (!valid_range(out, 12)) return 0;
  float abc[3];
  if (!font_abc(s32(runtime::arg_word(args, 0)), runtime::arg_word(args, 1), abc)) return 0;
  return write_bytes(out, abc, sizeof abc) ? 1 : 0;
}

std::uint32_t bi_font_kern(Addr args) {
  Addr out = runtime::arg_word(args, 2);
  if (!valid_range(out, 4)) return 0;
  float amount = 0;
  if (!font_kern(s32(runtime::arg_word(args, 0)), runtime::arg_word(args, 1), amount)) return 0;
  return write_bytes(out, &amount, 4) ? 1 : 0;
}

std::uint32_t bi_gtext(Addr args) {
  std::uint32_t w[5];
  if (!runtime::read_arg_words(args, 5, w)) return 0;
  auto text = cstr(w[4], kMaxTextBytes);
  if (!text) return 0;
  return std::uint32_t(draw(w, *text));
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
  return std::uint32_t(draw(w, text));
}

}  // namespace talven::graphics
