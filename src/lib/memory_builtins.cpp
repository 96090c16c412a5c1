#include "lib/memory_builtins.h"

#include <cstring>
#include <utility>

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

Addr bi_malloc(std::uint32_t size) { return script_alloc(size); }

Addr bi_realloc(Addr block, std::uint32_t size) { return script_realloc(block, size); }

bool bi_free(Addr block) { return block == kNullAddr || script_free(block); }

bool bi_memcpy(Addr dst, Addr src, std::uint32_t count) { return mem_copy(dst, src, count); }

bool bi_memmove(Addr dst, Addr src, std::uint32_t count) { return mem_copy(dst, src, count); }

bool bi_memset(Addr dst, std::uint32_t value, std::uint32_t count) {
  return mem_set(dst, static_cast<std::uint8_t>(value), count);
}

std::int32_t bi_memcmp(Addr a, Addr b, std::uint32_t count) {
  auto r = mem_compare(a, b, count);
  return r ? *r : static_cast<std::int32_t>(kCompareError);
}

bool bi_memswap(Addr a, Addr b, std::int32_t count) {
  return count <= 0 || mem_swap(a, b, static_cast<std::uint32_t>(count));
}

}  // namespace talven::lib
