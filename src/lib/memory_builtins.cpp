#include "lib/memory_builtins.h"

#include <cstring>
#include <utility>

#include "lib/arg_words.h"

namespace talven::lib {

bool mem_copy(Addr dst, Addr src, std::uint32_t count) {
  if (count == 0) return true;
  std::uint8_t* d = wspan(dst, count);
  const std::uint8_t* s = span(src, count);
  if (!d || !s) return false;
  std::memmove(d, s, count);
  return true;
}

bool mem_set(Addr dst, std::uint8_t value, std::uint32_t count) {
  if (count == 0) return true;
  std::uint8_t* d = wspan(dst, count);
  if (!d) return false;
  std::memset(d, value, count);
  return true;
}

std::optional<int> mem_compare(Addr a, Addr b, std::uint32_t count) {
  if (count == 0) return 0;
  const std::uint8_t* p = span(a, count);
  const std::uint8_t* q = span(b, count);
  if (!p || !q) return std::nullopt;
  int r = std::memcmp(p, q, count);
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

bool mem_swap(Addr a, Addr b, std::uint32_t count) {
  if (count == 0) return true;
  std::uint8_t* p = wspan(a, count);
  std::uint8_t* q = wspan(b, count);
  if (!p || !q) return false;
  for (std::uint32_t i = 0; i < count; ++i) std::swap(p[i], q[i]);
  return true;
}

std::uint32_t bi_malloc(Addr args) { return script_alloc(uarg(args, 0)); }

std::uint32_t bi_realloc(Addr args) { return script_realloc(uarg(args, 0), uarg(args, 1)); }

std::uint32_t bi_free(Addr args) {
  Addr block = uarg(args, 0);
  if (block == kNullAddr) return 1;
  return script_free(block) ? 1 : 0;
}

std::uint32_t bi_memcpy(Addr args) {
  return mem_copy(uarg(args, 0), uarg(args, 1), uarg(args, 2)) ? 1 : 0;
}

std::uint32_t bi_memmove(Addr args) {
  return mem_copy(uarg(args, 0), uarg(args, 1), uarg(args, 2)) ? 1 : 0;
}

std::uint32_t bi_memset(Addr args) {
  return mem_set(uarg(args, 0), static_cast<std::uint8_t>(uarg(args, 1)), uarg(args, 2)) ? 1 : 0;
}

std::uint32_t bi_memcmp(Addr args) {
  auto r = mem_compare(uarg(args, 0), uarg(args, 1), uarg(args, 2));
  return r ? word(static_cast<std::int32_t>(*r)) : kCompareError;
}

std::uint32_t bi_memswap(Addr args) {
  std::int32_t count = iarg(args, 2);
  if (count <= 0) return 1;
  return mem_swap(uarg(args, 0), uarg(args, 1), static_cast<std::uint32_t>(count)) ? 1 : 0;
}

}  // namespace talven::lib
