#include "lib/format.h"

#include <bit>
#include <cstdio>

namespace talven::lib {

std::string format_words(std::string_view format, const WordSource& next_word) {
  auto word = [&]() -> std::uint32_t {
    std::uint32_t w = 0;
    if (!next_word(w)) return 0;
    return w;
  };
  std::string out;
  std::size_t i = 0;
  while (i < format.size()) {
    char c = format[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    std::size_t start = i++;
    std::string conv_text = "%";
    while (i < format.size() && std::string_view("-+ #0").find(format[i]) != std::string_view::npos) {
      conv_text += format[i++];
    }
    auto number = [&]() {
      if (i < format.size() && format[i] == '*') {
        conv_text += std::to_string(static_cast<std::int32_t>(word()));
        ++i;
        return;
      }
      // Widths and precisions are capped so a format cannot ask for gigabytes.
      std::size_t digits_start = i;
      while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
      std::string_view digits = format.substr(digits_start, i - digits_start);
      if (digits.size() > 4) digits = "9999";
      conv_text += digits;
    };
    number();
    if (i < format.size() && format[i] == '.') {
      conv_text += '.';
      ++i;
      number();
    }
    while (i < format.size() && (format[i] == 'h' || format[i] == 'l' || format[i] == 'L' ||
                                 format[i] == 'I' || format[i] == 'z')) {
      ++i;
    }
    if (i >= format.size()) {
      out.append(format.substr(start));
      break;
    }
    char conv = format[i++];
    char buf[10240];
    int n = -1;
    switch (conv) {
      case 'd':
      case 'i':
        conv_text += 'd';
        n = std::snprintf(buf, sizeof buf, conv_text.c_str(), static_cast<std::int32_t>(word()));
        break;
      case 'u':
      case 'x':
      case 'X':
      case 'o':
        conv_text += conv;
        n = std::snprintf(buf, sizeof buf, conv_text.c_str(), static_cast<unsigned>(word()));
        break;
      case 'c':
        conv_text += 'c';
        n = std::snprintf(buf, sizeof buf, conv_text.c_str(), static_cast<int>(word() & 0xFF));
        break;
      case 'p':
        n = std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(word()));
        break;
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
        conv_text += conv;
        n = std::snprintf(buf, sizeof buf, conv_text.c_str(),
                          static_cast<double>(std::bit_cast<float>(word())));
        break;
      case 's': {
        conv_text += 's';
        auto s = cstr(word());
        std::string text = s ? std::string(*s) : std::string("(null)");
        n = std::snprintf(nullptr, 0, conv_text.c_str(), text.c_str());
        if (n >= 0) {
          std::string tmp(static_cast<std::size_t>(n) + 1, '\0');
          std::snprintf(tmp.data(), tmp.size(), conv_text.c_str(), text.c_str());
          tmp.resize(static_cast<std::size_t>(n));
          out += tmp;
        }
        continue;
      }
      case '%':
        out += '%';
        continue;
      default:
        out.append(format.substr(start, i - start));
        continue;
    }
    if (n > 0) out.append(buf, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buf - 1));
  }
  return out;
}

std::string format_script_args(std::string_view format, Addr args, Addr limit) {
  Addr next = args;
  return format_words(format, [&](std::uint32_t& w) {
    if (std::uint64_t{next} + 4 > limit || !load32(next, w)) return false;
    next += 4;
    return true;
  });
}

}  // namespace talven::lib
