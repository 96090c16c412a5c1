#include "base/messages.h"

#include <cstdint>
#include <cstdio>
#include <mutex>

#include "base/cp932.h"
#include "base/config.h"

namespace talven {

namespace {

std::mutex sink_mutex;
MessageSink current_sink;

int default_sink(unsigned, const std::string&) { return kMessageOk; }

struct Conversion {
  bool left = false, zero = false, plus = false, space = false, alt = false;
  int width = 0;
  int precision = -1;
};

void pad_out(std::string& out, std::string_view body, const Conversion& s,
             std::string_view prefix = {}, bool numeric = false) {
  std::size_t len = prefix.size() + body.size();
  std::size_t fill = s.width > 0 && static_cast<std::size_t>(s.width) > len ? s.width - len : 0;
  if (s.left) {
    out += prefix;
    out += body;
    out.append(fill, ' ');
  } else if (s.zero && numeric && s.precision < 0) {
    out += prefix;
    out.append(fill, '0');
    out += body;
  } else {
    out.append(fill, ' ');
    out += prefix;
    out += body;
  }
}

void format_unsigned(std::string& out, std::uint64_t v, unsigned base, bool upper,
                     const Conversion& s, std::string_view sign) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char buf[32];
  int n = 0;
  while (v) {
    buf[n++] = digits[v % base];
    v /= base;
  }
  std::string body;
  for (int i = n - 1; i >= 0; --i) body += buf[i];
  if (s.precision >= 0) {
    if (static_cast<int>(body.size()) < s.precision) body.insert(0, s.precision - body.size(), '0');
  } else if (body.empty()) {
    body.assign(1, '0');
  }
  std::string prefix(sign);
  if (s.alt && base == 16 && n > 0) prefix += upper ? "0X" : "0x";
  pad_out(out, body, s, prefix, true);
}

}  // namespace

namespace {


struct Gloss {
  std::string_view key;  // a part of the text that no argument changes
  std::string_view gloss;
};

// Searched in order: a longer text comes before a shorter one it contains.
constexpr Gloss kGlosses[] = {
    {"画像ファイルの読み込みに失敗", "the image file could not be read"},
    {"画像ファイルの書き込みに失敗", "the image file could not be written"},
    {"仮想画面の作成に失敗", "the off-screen plane could not be made"},
    {"パラメータが範囲外", "a parameter is out of range"},
    {"循環参照", "the link would make a loop of sprites"},
    {"メモリの確保に失敗", "out of memory"},
    {"メモリ不足", "out of memory"},
    {"ファイル出力バッファのメモリ確保に失敗", "out of memory for the output buffer"},
    {"ファイル入力バッファのメモリ確保に失敗", "out of memory for the input buffer"},
    {"ファイルのオープンに失敗", "the file could not be opened"},
    {"ファイルの読み込みに失敗", "the file could not be read"},
    {"ファイルのシークに失敗", "the file could not be positioned"},
    {"ファイルの作成に失敗", "the file could not be created"},
    {"ビットデータの書き込みに失敗", "the compressed data could not be written"},
    {"ファイルの書き込みに失敗", "the file could not be written"},
    {"辞書オブジェクトの作成に失敗", "the compression dictionary could not be made"},
    {"許可されていない操作", "this game may not do that (an untrusted run)"},
    {"を使います。", "the font is not installed; another face is used"},
    {"テクスチャの生成に失敗", "the screen texture could not be made"},
    {"共有ヒープ", "the shared script heap could not be allocated"},
    {"DirectMusicPerformance の初期化に失敗", "MIDI playback could not be started"},
    {"ポートの選択に失敗", "no MIDI output port"},
    {"CreateSoundBuffer に失敗", "a sound buffer could not be made"},
    {"レンダーファイルのオープンに失敗", "the video file could not be opened"},
    {"GraphBuilder の作成に失敗", "the video could not be decoded"},
    {"BasicAudio の作成に失敗", "the video's sound could not be played"},
    {"WinSock の初期化に失敗", "networking could not be started"},
    {"クライアントの接続数が最大数を超えました", "too many clients are connected"},
    {"サーバーに接続できません", "cannot connect to the server"},
    {"Direct3Dの初期化に失敗", "no renderer is available"},
    {"Direct3D设备生成失败", "the renderer could not be made"},
};

}  // namespace

constinit thread_local const BuiltinCallSite* t_served_call = nullptr;

std::string_view message_gloss(std::string_view text) {
  for (const Gloss& g : kGlosses) {
    if (text.find(g.key) != std::string_view::npos) return g.gloss;
  }
  return {};
}

std::string terminal_message(std::string_view text, const BuiltinCallSite* site) {
  // One line per message: a compile error's source line follows its
  // message after " | ".
  std::string line = "talven: ";
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') continue;
    if (c == '\n') {
      if (i + 1 < text.size()) line += " | ";
      continue;
    }
    line += c;
  }
  const std::string_view gloss = message_gloss(text);
  const bool named = site && site->builtin && *site->builtin;
  if (named || !gloss.empty()) {
    line += " [";
    if (named) line += site->builtin;
    if (named && !gloss.empty()) line += ": ";
    line += gloss;
    line += ']';
  }
  line += '\n';
  if (site && site->describe) line += site->describe(*site);
  return line;
}

MessageSink set_message_sink(MessageSink sink) {
  std::lock_guard lock(sink_mutex);
  MessageSink old = std::move(current_sink);
  current_sink = std::move(sink);
  return old;
}

std::string display_text(std::string_view text) {
  if (cp932::is_valid_utf8(text)) return std::string(text);
  return cp932::to_utf8_lossy(text);
}

std::string format_message_v(const char* format, va_list args) {
  std::string out;
  if (!format) return out;
  for (const char* p = format; *p;) {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    const char* start = p++;
    Conversion s;
    for (;; ++p) {
      if (*p == '-') s.left = true;
      else if (*p == '0') s.zero = true;
      else if (*p == '+') s.plus = true;
      else if (*p == ' ') s.space = true;
      else if (*p == '#') s.alt = true;
      else break;
    }
    if (*p == '*') {
      s.width = va_arg(args, int);
      if (s.width < 0) {
        s.left = true;
        s.width = -s.width;
      }
      ++p;
    } else {
      while (*p >= '0' && *p <= '9') s.width = s.width * 10 + (*p++ - '0');
    }
    if (*p == '.') {
      ++p;
      s.precision = 0;
      if (*p == '*') {
        s.precision = va_arg(args, int);
        ++p;
      } else {
        while (*p >= '0' && *p <= '9') s.precision = s.precision * 10 + (*p++ - '0');
      }
    }
    bool wide = false;
    int narrow = 0;  // 1: h keeps 16 bits, 2: hh keeps 8
    if (*p == 'l' && p[1] == 'l') {
      wide = true;
      p += 2;
    } else if (*p == 'h') {
      narrow = p[1] == 'h' ? 2 : 1;
      p += narrow;
    } else if (*p == 'l' || *p == 'z') {
      wide = *p == 'z';
      ++p;
    }
    char conv = *p;
    if (conv) ++p;
    switch (conv) {
      case 'd':
      case 'i': {
        std::int64_t v = wide ? va_arg(args, long long) : va_arg(args, int);
        if (narrow) v = narrow == 1 ? static_cast<std::int16_t>(v) : static_cast<std::int8_t>(v);
        std::uint64_t mag =
            v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
        std::string_view sign = v < 0 ? "-" : s.plus ? "+" : s.space ? " " : "";
        format_unsigned(out, mag, 10, false, s, sign);
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        std::uint64_t v = wide ? va_arg(args, unsigned long long) : va_arg(args, unsigned int);
        if (narrow) v = narrow == 1 ? static_cast<std::uint16_t>(v) : static_cast<std::uint8_t>(v);
        format_unsigned(out, v, conv == 'u' ? 10 : 16, conv == 'X', s, "");
        break;
      }
      case 'c': {
        char c = static_cast<char>(va_arg(args, int));
        pad_out(out, std::string_view(&c, 1), s);
        break;
      }
      case 's': {
        const char* str = va_arg(args, const char*);
        std::string_view v = str ? std::string_view(str) : std::string_view("(null)");
        if (s.precision >= 0 && static_cast<std::size_t>(s.precision) < v.size()) {
          v = v.substr(0, static_cast<std::size_t>(s.precision));
        }
        pad_out(out, display_text(v), s);
        break;
      }
      case '%': out += '%'; break;
      default:  // unknown or truncated conversion: keep the text as written
        out.append(start, p);
        break;
    }
  }
  return out;
}

std::string format_message(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string s = format_message_v(format, args);
  va_end(args);
  return s;
}

int report_message_v(unsigned level, const char* format, va_list args) {
  unsigned threshold = static_cast<unsigned>(config().Error);
  if (threshold < level) return config().Error;
  std::string text = format_message_v(format, args);
  const std::string line = terminal_message(text, current_builtin_call());
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  MessageSink sink;
  {
    std::lock_guard lock(sink_mutex);
    sink = current_sink;
  }
  return sink ? sink(level, text) : default_sink(level, text);
}

int report_message_detailed(unsigned level, const std::string& text, const std::string& terminal) {
  unsigned threshold = static_cast<unsigned>(config().Error);
  if (threshold < level) return config().Error;
  std::fputs(terminal.c_str(), stderr);
  std::fflush(stderr);
  MessageSink sink;
  {
    std::lock_guard lock(sink_mutex);
    sink = current_sink;
  }
  return sink ? sink(level, text) : default_sink(level, text);
}

int report_message(unsigned level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int r = report_message_v(level, format, args);
  va_end(args);
  return r;
}

}  // namespace talven
