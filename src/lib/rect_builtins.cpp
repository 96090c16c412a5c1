#include "lib/rect_builtins.h"

#include "lib/arg_words.h"

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
std::uint32_t combine(Addr args, bool (*op)(const Rect&, const Rect&, Rect&)) {
  Addr dst = uarg(args, 0);
  auto a = load_rect(uarg(args, 1));
  auto b = load_rect(uarg(args, 2));
  if (!writable(dst) || !a || !b) return 0;
  Rect out;
  bool ok = op(*a, *b, out);
  store_rect(dst, out);
  return ok ? 1 : 0;
}

}  // namespace

std::optional<Rect> load_rect(Addr addr) {
  Rect r;
  if (addr == kNullAddr || !read_bytes(addr, &r, sizeof r)) return std::nullopt;
  return r;
}

bool store_rect(Addr addr, const Rect& r) { return addr != kNullAddr && write_bytes(addr, &r, sizeof r); }

std::uint32_t bi_rc_empty(Addr args) { return store_rect(uarg(args, 0), Rect{0, 0, 0, 0}) ? 1 : 0; }

std::uint32_t bi_rc_set(Addr args) {
  Rect r{iarg(args, 1), iarg(args, 2), iarg(args, 3), iarg(args, 4)};
  return store_rect(uarg(args, 0), r) ? 1 : 0;
}

std::uint32_t bi_rc_setwh(Addr args) {
  std::int32_t x = iarg(args, 1), y = iarg(args, 2);
  Rect r{x, y, wrap_add(x, iarg(args, 3)), wrap_add(y, iarg(args, 4))};
  return store_rect(uarg(args, 0), r) ? 1 : 0;
}

std::uint32_t bi_rc_copy(Addr args) {
  auto src = load_rect(uarg(args, 1));
  return src && store_rect(uarg(args, 0), *src) ? 1 : 0;
}

std::uint32_t bi_rc_move(Addr args) {
  Addr addr = uarg(args, 0);
  auto r = load_rect(addr);
  if (!r) return 0;
  std::int32_t dx = iarg(args, 1), dy = iarg(args, 2);
  Rect m{wrap_add(r->left, dx), wrap_add(r->top, dy), wrap_add(r->right, dx), wrap_add(r->bottom, dy)};
  return store_rect(addr, m) ? 1 : 0;
}

std::uint32_t bi_rc_intersect(Addr args) { return combine(args, rect_intersect); }
std::uint32_t bi_rc_union(Addr args) { return combine(args, rect_union); }

std::uint32_t bi_rc_inflate(Addr args) {
  Addr addr = uarg(args, 0);
  auto r = load_rect(addr);
  if (!r) return 0;
  std::int32_t dx = iarg(args, 1), dy = iarg(args, 2);
  Rect m{wrap_sub(r->left, dx), wrap_sub(r->top, dy), wrap_add(r->right, dx), wrap_add(r->bottom, dy)};
  return store_rect(addr, m) ? 1 : 0;
}

std::uint32_t bi_rc_in(Addr args) {
  auto r = load_rect(uarg(args, 0));
  return r && rect_contains(*r, iarg(args, 1), iarg(args, 2)) ? 1 : 0;
}

std::uint32_t bi_rc_check(Addr args) {
  auto r = load_rect(uarg(args, 0));
  return !r || r->empty() ? 1 : 0;
}

}  // namespace talven::lib
