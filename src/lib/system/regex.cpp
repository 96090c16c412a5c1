#include "lib/system/regex.h"

#include <oniguruma.h>

#include <map>
#include <unordered_map>

#include "lib/system/system_builtins.h"

namespace talven::lib::system {

namespace {

constexpr unsigned long kRetryLimitInMatch = 2'000'000;
constexpr unsigned long kRetryLimitInSearch = 20'000'000;
constexpr std::size_t kMaxExpressions = 65536;
constexpr std::size_t kMaxRegions = 65536;

struct Region {
  OnigRegion* onig = nullptr;
  Addr beg = 0, end = 0;       // arrays in script memory
  std::uint32_t capacity = 0;  // entries they hold
};

bool g_started = false;
std::uint32_t g_next_handle = 1;
std::unordered_map<std::uint32_t, regex_t*> g_expressions;
std::map<Addr, Region> g_regions;

void start_library() {
  if (g_started) return;
  OnigEncoding encodings[] = {ONIG_ENCODING_SJIS};
  onig_initialize(encodings, 1);
  onig_set_retry_limit_in_match(kRetryLimitInMatch);
  onig_set_retry_limit_in_search(kRetryLimitInSearch);
  g_started = true;
}

regex_t* expression(std::uint32_t handle) {
  auto it = g_expressions.find(handle);
  return it == g_expressions.end() ? nullptr : it->second;
}

// Copies the library's region into script memory, growing the arrays when
// it has more registers than they hold. False when script memory runs out.
bool publish(Addr address, Region& r) {
  const std::uint32_t n = static_cast<std::uint32_t>(r.onig->num_regs > 0 ? r.onig->num_regs : 0);
  if (n > r.capacity) {
    Addr beg = script_alloc(4 * n), end = script_alloc(4 * n);
    if (!beg || !end) {
      script_free(beg);
      script_free(end);
      return false;
    }
    script_free(r.beg);
    script_free(r.end);
    r.beg = beg;
    r.end = end;
    r.capacity = n;
  }
  for (std::uint32_t i = 0; i < n; ++i) {
    store32(r.beg + 4 * i, static_cast<std::uint32_t>(r.onig->beg[i]));
    store32(r.end + 4 * i, static_cast<std::uint32_t>(r.onig->end[i]));
  }
  const std::uint32_t header[5] = {r.capacity, n, r.beg, r.end, 0};
  return write_bytes(address, header, sizeof header);
}

// The text range and region of a call; false when either is unusable.
bool call_inputs(Addr text, std::uint32_t length, Addr region, const std::uint8_t*& p, Region*& r) {
  p = span(text, length);
  if (!p) return false;
  r = nullptr;
  if (region != kNullAddr) {
    auto it = g_regions.find(region);
    if (it == g_regions.end()) return false;
    r = &it->second;
  }
  return true;
}

}  // namespace

std::uint32_t regex_new(std::string_view pattern, std::uint32_t options) {
  if (g_expressions.size() >= kMaxExpressions || g_next_handle == 0x7FFFFFFFu) return 0;
  start_library();
  regex_t* reg = nullptr;
  OnigErrorInfo info;
  const auto* p = reinterpret_cast<const OnigUChar*>(pattern.data());
  if (onig_new(&reg, p, p + pattern.size(), static_cast<OnigOptionType>(options),
               ONIG_ENCODING_SJIS, ONIG_SYNTAX_RUBY, &info) != ONIG_NORMAL) {
    return 0;
  }
  const std::uint32_t handle = g_next_handle++;
  g_expressions[handle] = reg;
  return handle;
}

bool regex_free(std::uint32_t handle) {
  auto it = g_expressions.find(handle);
  if (it == g_expressions.end()) return false;
  onig_free(it->second);
  g_expressions.erase(it);
  return true;
}

std::int32_t regex_search(std::uint32_t handle, Addr text, std::uint32_t length,
                          std::uint32_t start, std::uint32_t range, Addr region,
                          std::uint32_t options) {
  regex_t* reg = expression(handle);
  const std::uint8_t* p;
  Region* r;
  if (!reg || !call_inputs(text, length, region, p, r)) return -1;
  const std::uint8_t* end = p + length;
  const int result =
      onig_search(reg, p, end, p + std::min(start, length), p + std::min(range, length),
                  r ? r->onig : nullptr, static_cast<OnigOptionType>(options));
  if (r) publish(region, *r);
  return result;
}

std::int32_t regex_match(std::uint32_t handle, Addr text, std::uint32_t length,
                         std::uint32_t position, Addr region, std::uint32_t options) {
  regex_t* reg = expression(handle);
  const std::uint8_t* p;
  Region* r;
  if (!reg || !call_inputs(text, length, region, p, r)) return -1;
  const int result = onig_match(reg, p, p + length, p + std::min(position, length),
                                r ? r->onig : nullptr, static_cast<OnigOptionType>(options));
  if (r) publish(region, *r);
  return result;
}

Addr region_new() {
  if (g_regions.size() >= kMaxRegions) return 0;
  start_library();
  Addr address = script_zalloc(kRegionSize);
  if (!address) return 0;
  Region r;
  r.onig = onig_region_new();
  if (!r.onig) {
    script_free(address);
    return 0;
  }
  publish(address, r);
  g_regions[address] = r;
  return address;
}

bool region_free(Addr address) {
  auto it = g_regions.find(address);
  if (it == g_regions.end()) return false;
  onig_region_free(it->second.onig, 1);
  script_free(it->second.beg);
  script_free(it->second.end);
  script_free(address);
  g_regions.erase(it);
  return true;
}

bool region_clear(Addr address) {
  auto it = g_regions.find(address);
  if (it == g_regions.end()) return false;
  onig_region_clear(it->second.onig);
  publish(address, it->second);
  return true;
}

void regex_release_all() {
  for (auto& [handle, reg] : g_expressions) onig_free(reg);
  g_expressions.clear();
  for (auto& [address, r] : g_regions) {
    onig_region_free(r.onig, 1);
    script_free(r.beg);
    script_free(r.end);
    script_free(address);
  }
  g_regions.clear();
  if (g_started) onig_end();
  g_started = false;
}

}  // namespace talven::lib::system

namespace talven::lib {

std::uint32_t bi_reg_new(Addr pattern, std::uint32_t options) {
  if (pattern == kNullAddr) return 0;
  auto text = cstr(pattern, 1u << 20);
  if (!text) return 0;
  return system::regex_new(*text, options);
}

void regex_release() { system::regex_release_all(); }

}  // namespace talven::lib
