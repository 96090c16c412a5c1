#include "input/input_script.h"

#include <charconv>
#include <cstring>

#include "input/keymap.h"

namespace talven::input {

namespace {

struct Cursor {
  const std::string& s;
  std::size_t i = 0;

  void skip_space() {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r')) ++i;
  }
  bool at_end() {
    skip_space();
    return i >= s.size() || s[i] == '#';
  }
  std::string word() {
    skip_space();
    std::size_t start = i;
    while (i < s.size() && s[i] != ' ' && s[i] != '\t' && s[i] != '\r' && s[i] != '#') ++i;
    return s.substr(start, i - start);
  }
};

bool to_int(const std::string& w, long long lo, long long hi, long long& out) {
  if (w.empty()) return false;
  const char* b = w.data();
  const char* e = b + w.size();
  if (*b == '+') ++b;
  auto [p, ec] = std::from_chars(b, e, out);
  return ec == std::errc() && p == e && out >= lo && out <= hi;
}

int button_of(const std::string& w) {
  static const char* const names[] = {"left", "right", "middle", "x1", "x2"};
  for (int i = 0; i < 5; ++i)
    if (w == names[i]) return i + 1;
  return 0;
}

// Parses one event after its time; returns an error text or "".
std::string parse_event(Cursor& c, InputEvent& e) {
  std::string kind = c.word();
  long long n = 0;
  if (kind == "key") {
    std::string dir = c.word(), name = c.word();
    if (dir != "down" && dir != "up") return "expected 'key down NAME' or 'key up NAME'";
    const KeyRow* row = key_by_name(name);
    if (!row) return "unknown key '" + name + "'";
    e.type = dir == "down" ? InputEvent::KeyDown : InputEvent::KeyUp;
    e.scancode = row->scancode;
    e.vk = row->vk;
    e.dik = row->dik;
  } else if (kind == "move") {
    long long x = 0, y = 0;
    if (!to_int(c.word(), -1000000, 1000000, x) || !to_int(c.word(), -1000000, 1000000, y))
      return "expected 'move X Y' with whole numbers";
    e.type = InputEvent::Motion;
    e.x = static_cast<int>(x);
    e.y = static_cast<int>(y);
  } else if (kind == "button") {
    std::string dir = c.word(), name = c.word();
    if (dir != "down" && dir != "up") return "expected 'button down NAME' or 'button up NAME'";
    e.type = dir == "down" ? InputEvent::ButtonDown : InputEvent::ButtonUp;
    e.button = button_of(name);
    if (!e.button) return "unknown button '" + name + "' (left, right, middle, x1, x2)";
    if (!c.at_end()) {
      if (!to_int(c.word(), 1, 255, n)) return "a click count is 1 to 255";
      e.clicks = static_cast<int>(n);
    }
  } else if (kind == "wheel") {
    if (!to_int(c.word(), -1200000, 1200000, n)) return "expected 'wheel DELTA'";
    e.type = InputEvent::Wheel;
    e.wheel = static_cast<int>(n);
  } else if (kind == "text") {
    c.skip_space();
    if (c.i >= c.s.size() || c.s[c.i] != '"') return "expected 'text \"...\"'";
    ++c.i;
    bool closed = false;
    while (c.i < c.s.size()) {
      char ch = c.s[c.i++];
      if (ch == '"') {
        closed = true;
        break;
      }
      if (ch == '\\' && c.i < c.s.size()) ch = c.s[c.i++];
      e.text.push_back(ch);
    }
    if (!closed) return "the text has no closing quote";
    e.type = InputEvent::Text;
  } else if (kind == "joy") {
    if (!to_int(c.word(), 0, kMaxJoysticks - 1, n)) return "a joystick number is 0 to 3";
    e.joy = static_cast<int>(n);
    std::string what = c.word();
    if (what == "add") {
      e.type = InputEvent::JoyAdded;
    } else if (what == "remove") {
      e.type = InputEvent::JoyRemoved;
    } else if (what == "axis") {
      long long axis = 0, value = 0;
      if (!to_int(c.word(), 0, 1, axis) || !to_int(c.word(), -32768, 32767, value))
        return "expected 'joy N axis 0|1 VALUE' with VALUE -32768 to 32767";
      e.type = InputEvent::JoyAxis;
      e.button = static_cast<int>(axis);
      e.x = static_cast<int>(value);
    } else if (what == "button") {
      std::string dir;
      if (!to_int(c.word(), 0, 31, n) || ((dir = c.word()) != "down" && dir != "up"))
        return "expected 'joy N button 0..31 down|up'";
      e.type = dir == "down" ? InputEvent::JoyButtonDown : InputEvent::JoyButtonUp;
      e.button = static_cast<int>(n);
    } else {
      return "expected add, remove, axis or button after 'joy N'";
    }
  } else if (kind == "focus") {
    std::string w = c.word();
    if (w != "on" && w != "off") return "expected 'focus on' or 'focus off'";
    e.type = InputEvent::Focus;
    e.on = w == "on";
  } else {
    return "unknown event '" + kind + "'";
  }
  if (!c.at_end()) return "unexpected '" + c.word() + "' at the end";
  return {};
}

const char* button_name(int b) {
  static const char* const names[] = {"", "left", "right", "middle", "x1", "x2"};
  return b >= 1 && b <= 5 ? names[b] : nullptr;
}

}  // namespace

ParsedInput parse_input_text(const std::string& text) {
  ParsedInput out;
  std::size_t pos = 0;
  int line_no = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++line_no;
    Cursor c{line};
    if (c.at_end()) {
      if (end == text.size()) break;
      continue;
    }
    TimedEvent t;
    t.line = line_no;
    std::string when = c.word();
    long long at = 0;
    if ((when != "frame" && when != "time") || !to_int(c.word(), 0, (1LL << 53), at)) {
      out.error = "line " + std::to_string(line_no) + ": expected 'frame N' or 'time MS' first";
      out.events.clear();
      return out;
    }
    t.by_frame = when == "frame";
    t.at = static_cast<std::uint64_t>(at);
    if (c.at_end()) {
      out.error = "line " + std::to_string(line_no) + ": expected an event after " + when + " " +
                  std::to_string(at);
      out.events.clear();
      return out;
    }
    std::string err = parse_event(c, t.event);
    if (!err.empty()) {
      out.error = "line " + std::to_string(line_no) + ": " + err;
      out.events.clear();
      return out;
    }
    out.events.push_back(std::move(t));
    if (end == text.size()) break;
  }
  return out;
}

std::string describe_wait(const TimedEvent& t, std::uint64_t frame, std::uint64_t ms) {
  const std::string where = "line " + std::to_string(t.line) + " (" +
                            (t.by_frame ? "frame " : "time ") + std::to_string(t.at) + ")";
  if ((t.by_frame ? frame : ms) >= t.at)
    return "the input replay stands at " + where +
           ", which is due: the game has not read the input since";
  if (!t.by_frame)
    return "the input replay waits at " + where + "; the game clock reached " + std::to_string(ms) +
           " ms";
  const std::string presented = frame == 0 ? "no frame was presented"
                                : frame == 1
                                    ? "only 1 frame was presented"
                                    : "only " + std::to_string(frame) + " frames were presented";
  return "the input replay waits at " + where + ", but " + presented +
         " (frames count presented frames; a game that reads the input without presenting "
         "never reaches it): write 'time MS' to wait for the game clock instead (it stood at " +
         std::to_string(ms) + " ms)";
}

std::string format_input_event(std::uint64_t frame, const InputEvent& e) {
  std::string s = "frame " + std::to_string(frame) + " ";
  switch (e.type) {
    case InputEvent::KeyDown:
    case InputEvent::KeyUp: {
      const KeyRow* row = key_by_scancode(e.scancode);
      if (!row || e.repeat) return {};
      return s + "key " + (e.type == InputEvent::KeyDown ? "down " : "up ") + row->name;
    }
    case InputEvent::Motion: return s + "move " + std::to_string(e.x) + " " + std::to_string(e.y);
    case InputEvent::ButtonDown:
    case InputEvent::ButtonUp: {
      const char* name = button_name(e.button);
      if (!name) return {};
      s += std::string("button ") + (e.type == InputEvent::ButtonDown ? "down " : "up ") + name;
      if (e.type == InputEvent::ButtonDown && e.clicks > 1) s += " " + std::to_string(e.clicks);
      return s;
    }
    case InputEvent::Wheel: return s + "wheel " + std::to_string(e.wheel);
    case InputEvent::Text: {
      s += "text \"";
      for (char ch : e.text) {
        if (ch == '\n' || ch == '\r') continue;
        if (ch == '"' || ch == '\\') s.push_back('\\');
        s.push_back(ch);
      }
      return s + "\"";
    }
    case InputEvent::JoyAdded: return s + "joy " + std::to_string(e.joy) + " add";
    case InputEvent::JoyRemoved: return s + "joy " + std::to_string(e.joy) + " remove";
    case InputEvent::JoyAxis:
      return s + "joy " + std::to_string(e.joy) + " axis " + std::to_string(e.button) + " " +
             std::to_string(e.x);
    case InputEvent::JoyButtonDown:
    case InputEvent::JoyButtonUp:
      return s + "joy " + std::to_string(e.joy) + " button " + std::to_string(e.button) +
             (e.type == InputEvent::JoyButtonDown ? " down" : " up");
    case InputEvent::Focus: return s + "focus " + (e.on ? "on" : "off");
  }
  return {};
}

}  // namespace talven::input
