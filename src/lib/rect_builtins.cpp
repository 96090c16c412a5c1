#include "lib/rect_builtins.h"

namespace talven::lib {

namespace {

std::int32_t wrap_add(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

std::int32_t wrap_sub(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

bool writable(Addr addr) { return addr != kNullAddr && valid_range(addr, sizeof(Rect)); }

// dst := op(a, b) for the two-rectangle builtins.
bool combine(Addr dst, Addr a_rect, Addr b_rect, bool (*op)(const Rect&, const Rect&, Rect&)) {
  auto a = load_rect(a_rect);
  auto b = load_rect(b_rect);
  if (!writable(dst) || !a || !b) return false;
  Rect out;
  bool ok = op(*a, *b, out);
  store_rect(dst, out);
  return ok;
}

}  // namespace

std::optional<Rect> load_rect(Addr addr) {
  Rect r;
  if (addr == kNullAddr || !read_bytes(addr, &r, sizeof r)) return std::nullopt;
  return r;
}

bool store_rect(Addr addr, const Rect& r) {
  return addr != kNullAddr && write_bytes(addr, &r, sizeof r);
}

bool bi_rc_empty(Addr rect) { return store_rect(rect, Rect{0, 0, 0, 0}); }

bool bi_rc_set(Addr rect, std::int32_t left, std::int32_t top, std::int32_t right,
               std::int32_t bottom) {
  return store_rect(rect, Rect{left, top, right, bottom});
}

bool bi_rc_setwh(Addr rect, std::int32_t x, std::int32_t y, std::int32_t width,
                 std::int32_t height) {
  return store_rect(rect, Rect{x, y, wrap_add(x, width), wrap_add(y, height)});
}

bool bi_rc_copy(Addr dst, Addr src) {
  auto r = load_rect(src);
  return r && store_rect(dst, *r);
}

bool bi_rc_move(Addr rect, std::int32_t dx, std::int32_t dy) {
  auto r = load_rect(rect);
  if (!r) return false;
  Rect m{wrap_add(r->left, dx), wrap_add(r->top, dy), wrap_add(r->right, dx),
         wrap_add(r->bottom, dy)};
  return store_rect(rect, m);
}

bool bi_rc_intersect(Addr dst, Addr a, Addr b) { return combine(dst, a, b, rect_intersect); }
bool bi_rc_union(Addr dst, Addr a, Addr b) { return combine(dst, a, b, rect_union); }

bool bi_rc_inflate(Addr rect, std::int32_t dx, std::int32_t dy) {
  auto r = load_rect(rect);
  if (!r) return false;
  Rect m{wrap_sub(r->left, dx), wrap_sub(r->top, dy), wrap_add(r->right, dx),
         wrap_add(r->bottom, dy)};
  return store_rect(rect, m);
}

bool bi_rc_in(Addr rect, std::int32_t x, std::int32_t y) {
  auto r = load_rect(rect);
  return r && rect_contains(*r, x, y);
}

bool bi_rc_check(Addr rect) {
  auto r = load_rect(rect);
  return !r || r->empty();
}

}  // namespace talven::lib
