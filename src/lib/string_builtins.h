// String builtins: the str* family, sprintf, splitpath/makepath and hash32,
// over zero-terminated CP932 text in script memory.
//
// The multibyte functions treat a lead byte and its trail byte as one
// character (a lead byte just before the terminator stands alone), the way
// the C library's multibyte string functions do under the Japanese code
// page: searches and spans match whole characters only, so a trail byte
// that happens to equal '\' or a delimiter is never mistaken for one.
//
// Every access is checked. An address that does not reach a terminator
// inside valid script memory, or a destination too small for what is
// written, makes the builtin write nothing and return its failure value:
//
//   strlen, strclen, strcspn, strspn        0
//   strcpy, strncpy, strcat, strlwr, strupr 0 (else the destination)
//   strchr, strstr, strpbrk, strtok         0 (as "not found")
//   strdup, strndup                         0
//   strcmp, strcmpi                         0x7FFFFFFF (else -1, 0, 1)
//   strtol, strtoul, strtof                 0, the end word not written
//   sprintf                                 -1 (else bytes written)
//   splitpath, makepath                     0 (else 1)
//   hash32                                  0
//
// sprintf's arguments are the words after the format: integers, string
// addresses, %c as the low byte of a word, and %f %e %g as one word holding
// a 32-bit float (scripts push a float as one word, also to variadic
// builtins). It reads no word above the caller's stack.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/address_space.h"

namespace talven::lib {

// ---- multibyte text operations (host strings) ----------------------------
// Byte length of the leading run of characters that are (span) or are not
// (cspan) in set.
std::size_t mbs_span(std::string_view s, std::string_view set);
std::size_t mbs_cspan(std::string_view s, std::string_view set);
// Offset of the first character of s equal to code (one byte, or
// lead*256 + trail); code 0 finds the terminator (s.size()).
std::optional<std::size_t> mbs_find_char(std::string_view s, std::uint32_t code);
// Offset of t in s, matched at character boundaries only.
std::optional<std::size_t> mbs_find(std::string_view s, std::string_view t);
// Offset of the first character of s that is in set.
std::optional<std::size_t> mbs_find_any(std::string_view s, std::string_view set);
// The bytes a multibyte-aware strncpy writes before its zero padding: src
// holds at most n bytes of the source (fewer only when its terminator
// follows). A lead byte that would be the n-th byte, or that is followed by
// the terminator, is written as 0. The result has at most n bytes.
std::string mbs_copy_head(std::string_view src, std::size_t n);

struct PathParts {
  std::string drive, dir, name, ext;
};
// The C library's path splitting: drive "X:", directory with its trailing
// separator, name, extension with its dot; each part truncated to the
// library's limits (2, 255, 255 and 255 bytes).
PathParts split_path(std::string_view path);
// Joins the parts: a colon after the drive letter, a '\' after a directory
// that lacks a separator, a dot before an extension that lacks one.
std::string make_path(std::string_view drive, std::string_view dir, std::string_view name,
                      std::string_view ext);

// C-library integer and float parsing with 32-bit results. `consumed` is the
// number of bytes used (0 when no number was found).
std::int32_t parse_long(std::string_view s, int base, std::size_t& consumed);
std::uint32_t parse_ulong(std::string_view s, int base, std::size_t& consumed);
float parse_float(std::string_view s, std::size_t& consumed);

// Text at addr up to its terminator or max bytes, whichever comes first;
// nullopt when valid memory ends before either.
std::optional<std::string_view> script_text_upto(Addr addr, std::uint32_t max);

// ---- builtin handlers --------------------------------------------------------
// Typed (runtime/bind.h); failures as the C library's functions answer
// them with a bad address: 0 / null, or kCompareError for the comparisons.
std::uint32_t bi_strlen(Addr text);
std::uint32_t bi_strclen(Addr text);  // characters
Addr bi_strcpy(Addr dst, Addr src);
Addr bi_strncpy(Addr dst, Addr src, std::uint32_t n);
Addr bi_strcat(Addr dst, Addr src);
std::int32_t bi_strcmp(Addr a, Addr b);
std::int32_t bi_strcmpi(Addr a, Addr b);
Addr bi_strlwr(Addr text);
Addr bi_strupr(Addr text);
Addr bi_strchr(Addr text, std::uint32_t code);
Addr bi_strtok(Addr start, Addr set);
std::uint32_t bi_strcspn(Addr text, Addr set);
std::uint32_t bi_strspn(Addr text, Addr set);
Addr bi_strstr(Addr text, Addr sought);
Addr bi_strpbrk(Addr text, Addr set);
Addr bi_strdup(Addr text);
Addr bi_strndup(Addr text, std::uint32_t max);
std::int32_t bi_strtol(Addr text, Addr end, std::int32_t base);
std::uint32_t bi_strtoul(Addr text, Addr end, std::int32_t base);
float bi_strtof(Addr text, Addr end);
std::uint32_t bi_sprintf(Addr args);  // variadic: the raw block
bool bi_splitpath(Addr path, Addr drive, Addr dir, Addr name, Addr ext);
bool bi_makepath(Addr path, Addr drive, Addr dir, Addr name, Addr ext);
std::uint32_t bi_hash32(Addr text);

}  // namespace talven::lib
