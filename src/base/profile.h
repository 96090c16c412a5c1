// Private-profile (INI) files: sections of KEY=VALUE lines, read and written
// in place.
//
// Files are host paths (callers resolve game paths first). Sections and keys
// match case-insensitively (CP932 rules); blanks around names and values are
// trimmed and a value in matching quotes is unquoted. Writing keeps every
// other line, comment and line ending as it was and replaces the file
// atomically (temporary file, then rename).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace talven::profile {

// The value parsed like the Windows function: optional blanks and sign,
// decimal digits up to the first other character, wrapping modulo 2^32.
// A missing file, section or key, or an empty value, gives the default.
std::int32_t get_int(const std::string& file, std::string_view section, std::string_view key,
                     std::int32_t default_value);

// The value, or the default when the key is missing.
std::string get_string(const std::string& file, std::string_view section, std::string_view key,
                       std::string_view default_value);

// Sets section/key to value, creating the file, section or key as needed.
// False when the file cannot be written (the old file is then untouched).
bool write_string(const std::string& file, std::string_view section, std::string_view key,
                  std::string_view value);

// Removes a key, or a whole section; true when the file is as asked afterwards.
bool delete_key(const std::string& file, std::string_view section, std::string_view key);
bool delete_section(const std::string& file, std::string_view section);

// Integer parsing on its own (exposed for the builtins and tests).
std::int32_t parse_int(std::string_view text, std::int32_t default_value);

}  // namespace talven::profile
