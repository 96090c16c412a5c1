#include "host/window.h"

#include <SDL.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "base/cp932.h"
#include "base/config.h"
#include "base/debug_output.h"
#include "input/input_state.h"
#include "base/messages.h"
#include "host/message_overlay.h"
#include "host/window_debug.h"
#include "host/window_icon.h"
#include "host/window_rules.h"

// Builds with the address sanitizer (GCC and clang spell it differently).
#if defined(__SANITIZE_ADDRESS__)
#define TALVEN_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TALVEN_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef TALVEN_ADDRESS_SANITIZER
#define TALVEN_ADDRESS_SANITIZER 0
#endif

namespace talven::host {

// The window writes the input state that the input device reads.
using input::app_active;
using input::char_ring;
using input::init_activity_flags;
using input::input_focus;
using input::kMouseLeft;
using input::kMouseMiddle;
using input::kMouseRight;
using input::mouse_state;
using input::MouseState;
using input::set_app_active;
using input::set_input_focus;

namespace {

// The close question and its caption (shown as they are, not in CP932).
constexpr const char* kCloseQuestion = "是否结束游戏？";
constexpr const char* kCloseCaption = "确认";
constexpr const char* kErrorCaption = "ERROR : Error";

constexpr int kWheelDelta = 120;  // one notch, as games expect wheel totals

struct WindowState {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  WindowHooks hooks;
  bool full_screen = false;
  bool minimized = false;
  bool closing = false;
  bool closed = false;
  bool focus_seen = false;
  bool main_focus = false, debug_focus = false;  // per window, from focus events
  int border_left = 0, border_top = 0, border_right = 0, border_bottom = 0;
  // Client rectangle (screen coordinates) when the last resize was handled,
  // moved along by plain moves: the "before" of the next resize.
  WinRect anchor;
};

WindowState state;
std::thread::id main_thread_id;
bool video_up = false;

// Custom events; the pending flags keep one of each in the queue at most.
std::uint32_t first_event = static_cast<std::uint32_t>(-1);
enum : std::uint32_t {
  kEventWake,
  kEventPresent,
  kEventClose,
  kEventRaise,
  kEventCursor,
  kEventCount
};
std::atomic<bool> pending[kEventCount];

void push_event(std::uint32_t which) {
  if (first_event == static_cast<std::uint32_t>(-1)) return;
  if (pending[which].exchange(true)) return;
  SDL_Event e{};
  e.type = first_event + which;
  if (SDL_PushEvent(&e) <= 0) pending[which] = false;
}

// Cursor requests from script threads, applied by the main thread.
struct CursorRequests {
  std::mutex mutex;
  bool visible = true, visible_due = false;
  bool confine = false, confine_due = false;
  SDL_Rect rect{0, 0, 0, 0};
  bool warp_due = false;
  int warp_x = 0, warp_y = 0;
};
CursorRequests cursor_requests;
std::atomic<InputEventHook> input_hook{nullptr};

void apply_cursor_requests() {
  CursorRequests& r = cursor_requests;
  std::lock_guard lock(r.mutex);
  if (r.visible_due) SDL_ShowCursor(r.visible ? SDL_ENABLE : SDL_DISABLE);
  if (r.confine_due && state.window)
    SDL_SetWindowMouseRect(state.window, r.confine ? &r.rect : nullptr);
  if (r.warp_due && state.window) SDL_WarpMouseInWindow(state.window, r.warp_x, r.warp_y);
  r.visible_due = r.confine_due = r.warp_due = false;
}

// Message boxes asked for by script threads, shown by the main thread.
struct BoxRequest {
  std::string text;
  int answer = kMessageOk;
  bool done = false;
};
std::mutex box_mutex;
std::condition_variable box_cv;
std::deque<BoxRequest*> box_queue;
bool boxes_open = false;  // false: requests are answered OK at once
// Where boxes go (main thread): the system's boxes until one fails, then
// the main window itself (host/message_overlay.h).
BoxRouter box_router;

void answer(BoxRequest* r) {
  std::lock_guard lock(box_mutex);
  r->answer = kMessageOk;
  r->done = true;
  box_cv.notify_all();
}

bool show_system_box(const std::string& text) {
  return SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, kErrorCaption, text.c_str(),
                                  state.window) == 0;
}

// Shows a message on the main thread; `r` (may be null) is answered once
// it is dismissed. A drawn box is answered at once while the window closes:
// nothing would be drawn any more.
void show_box(const std::string& text, BoxRequest* r) {
  BoxRoute route = box_router.route(state.window != nullptr);
  if (route == BoxRoute::kSystem) {
    if (show_system_box(text)) {
      if (r) answer(r);
      return;
    }
    box_router.system_box_failed();
    route = BoxRoute::kWindow;
  }
  if (route == BoxRoute::kNone || state.closing) {
    if (r) answer(r);
    return;
  }
  overlay_push(text, r ? std::function<void()>([r] { answer(r); }) : nullptr);
  if (overlay_take_changed() && state.hooks.repaint) state.hooks.repaint();
}

void answer_all_boxes() {
  overlay_clear();  // answers the requests it holds (outside box_mutex)
  std::lock_guard lock(box_mutex);
  for (BoxRequest* r : box_queue) r->done = true;
  box_queue.clear();
  box_cv.notify_all();
}

WinRect client_rect() {
  int x = 0, y = 0, w = 0, h = 0;
  SDL_GetWindowPosition(state.window, &x, &y);
  SDL_GetWindowSize(state.window, &w, &h);
  return {x, y, x + w, y + h};
}

void update_activity(bool active) {
  const Config& c = config();
  if (c.GlobalFocus == 0 && active != app_active()) {
    if (state.hooks.pause_application) state.hooks.pause_application(active);
    set_app_active(active);
  }
  bool changed = active != input_focus();
  set_input_focus(active);
  if (changed && state.hooks.activity_changed) state.hooks.activity_changed(active);
}

int ask_close() {
  const SDL_MessageBoxButtonData buttons[] = {
      {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, 1, "OK"},
      {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 2, "Cancel"},
  };
  SDL_MessageBoxData box{};
  box.flags = SDL_MESSAGEBOX_INFORMATION;
  box.window = state.window;
  box.title = kCloseCaption;
  box.message = kCloseQuestion;
  box.numbuttons = 2;
  box.buttons = buttons;
  int id = 2;
  if (SDL_ShowMessageBox(&box, &id) != 0) return 1;  // no box: close as asked
  return id;
}

// The close box, `exit` and signals end up here; `ask` is false for signals.
void handle_close(bool ask) {
  switch (close_step(state.closing, ask ? config().Confirmation : 0)) {
    case CloseStep::Ignore: return;
    case CloseStep::Ask: {
      state.closing = true;
      set_input_focus(false);
      int answer = ask_close();
      set_input_focus(true);
      if (answer != 1) {
        state.closing = false;
        return;
      }
      break;
    }
    case CloseStep::Close: state.closing = true; break;
  }
  // Threads waiting on a drawn box are answered: the shut-down waits for
  // every script thread, and the window will draw nothing more.
  overlay_clear();
  if (state.hooks.shut_down) state.hooks.shut_down();
  destroy_main_window();
  state.closed = true;
}

void handle_resized() {
  const Config& c = config();
  WinRect after = client_rect();
  WinRect before = state.anchor;
  state.anchor = after;
  if (state.full_screen || !c.FixedAspectRatio || !(c.Direct3D && c.Resize)) return;
  DragEdge edge = infer_drag_edge(before, after);
  WinRect fixed = apply_sizing(after, edge, c.Width, c.Height, 0, 0);
  if (fixed == after) return;
  if (fixed.left != after.left || fixed.top != after.top)
    SDL_SetWindowPosition(state.window, fixed.left, fixed.top);
  SDL_SetWindowSize(state.window, fixed.width(), fixed.height());
  state.anchor = fixed;
}

void handle_window_event(const SDL_WindowEvent& w) {
  Config& c = config();
  switch (w.event) {
    case SDL_WINDOWEVENT_MOVED: {
      WinRect now = client_rect();
      if (now.width() == state.anchor.width() && now.height() == state.anchor.height())
        state.anchor = now;
      if (!state.full_screen) {
        c.WindowLeft = w.data1 - state.border_left;
        c.WindowTop = w.data2 - state.border_top;
      }
      break;
    }
    case SDL_WINDOWEVENT_SIZE_CHANGED:
      if (!state.minimized && !state.full_screen) {
        c.WindowWidth = w.data1;
        c.WindowHeight = w.data2;
      }
      if (state.hooks.repaint) state.hooks.repaint();
      break;
    case SDL_WINDOWEVENT_RESIZED: handle_resized(); break;
    case SDL_WINDOWEVENT_EXPOSED:
      if (state.hooks.repaint) state.hooks.repaint();
      break;
    case SDL_WINDOWEVENT_MINIMIZED: state.minimized = true; break;
    case SDL_WINDOWEVENT_RESTORED: state.minimized = false; break;
    case SDL_WINDOWEVENT_MAXIMIZED:
      // Maximising means full screen.
      state.minimized = false;
      if (!state.full_screen) {
        SDL_RestoreWindow(state.window);
        switch_screen_mode(true);
      }
      break;
    case SDL_WINDOWEVENT_CLOSE: handle_close(true); break;
    default: break;
  }
}

std::uint32_t mouse_bit(std::uint8_t button) {
  switch (button) {
    case SDL_BUTTON_LEFT: return kMouseLeft;
    case SDL_BUTTON_RIGHT: return kMouseRight;
    case SDL_BUTTON_MIDDLE: return kMouseMiddle;
    default: return 0;
  }
}

// Keys that type a control character (what a character message carries
// for them besides printable text).
int control_char(const SDL_Keysym& k) {
  if (k.mod & KMOD_ALT) return -1;
  switch (k.sym) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return '\r';
    case SDLK_BACKSPACE: return '\b';
    case SDLK_TAB: return '\t';
    case SDLK_ESCAPE: return 0x1B;
    default: break;
  }
  if ((k.mod & KMOD_CTRL) && k.sym >= SDLK_a && k.sym <= SDLK_z) return k.sym - SDLK_a + 1;
  return -1;
}

void handle_main_event(const SDL_Event& e) {
  // A drawn message box takes the keyboard and the mouse while it is shown.
  if (overlay_handle_event(e)) {
    if (overlay_take_changed() && state.hooks.repaint) state.hooks.repaint();
    return;
  }
  MouseState& mouse = mouse_state();
  switch (e.type) {
    case SDL_WINDOWEVENT: handle_window_event(e.window); break;
    case SDL_KEYDOWN:
      if (e.key.keysym.sym == SDLK_F8) {
        if (!e.key.repeat && debug_output_exists()) debug_output_toggle();
        break;
      }
      if (int ch = control_char(e.key.keysym); ch >= 0)
        char_ring().push(static_cast<std::uint8_t>(ch));
      break;
    case SDL_KEYUP:
      if ((e.key.keysym.sym == SDLK_RETURN || e.key.keysym.sym == SDLK_KP_ENTER) &&
          (e.key.keysym.mod & KMOD_ALT))
        switch_screen_mode(!state.full_screen);
      break;
    case SDL_TEXTINPUT:
      for (char b : cp932::from_utf8_lossy(e.text.text))
        char_ring().push(static_cast<std::uint8_t>(b));
      break;
    case SDL_MOUSEBUTTONDOWN:
      // A second click of a pair is a double click (a third one is a plain press again).
      if (mouse.button_down(mouse_bit(e.button.button),
                            e.button.clicks >= 2 && e.button.clicks % 2 == 0))
        SDL_CaptureMouse(SDL_TRUE);
      break;
    case SDL_MOUSEBUTTONUP:
      if (mouse.button_up(mouse_bit(e.button.button))) SDL_CaptureMouse(SDL_FALSE);
      break;
    case SDL_MOUSEWHEEL: {
      int y = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
      mouse.add_wheel(y * kWheelDelta);
      break;
    }
    default: break;
  }
  if (InputEventHook hook = input_hook.load()) hook(e);
}

std::uint32_t event_window_id(const SDL_Event& e) {
  switch (e.type) {
    case SDL_WINDOWEVENT: return e.window.windowID;
    case SDL_KEYDOWN:
    case SDL_KEYUP: return e.key.windowID;
    case SDL_TEXTINPUT: return e.text.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: return e.button.windowID;
    case SDL_MOUSEWHEEL: return e.wheel.windowID;
    case SDL_MOUSEMOTION: return e.motion.windowID;
    default: return 0;
  }
}

void handle_event(const SDL_Event& e) {
  if (first_event != static_cast<std::uint32_t>(-1) && e.type >= first_event &&
      e.type < first_event + kEventCount) {
    std::uint32_t which = e.type - first_event;
    pending[which] = false;
    switch (which) {
      case kEventPresent:
        if (state.hooks.present_ready) state.hooks.present_ready();
        break;
      case kEventClose: handle_close(true); break;
      case kEventCursor: apply_cursor_requests(); break;
      case kEventRaise:
        if (state.window) {
          SDL_RestoreWindow(state.window);
          SDL_RaiseWindow(state.window);
        }
        break;
      default: break;  // wake: the loop serves after every batch
    }
    return;
  }
  if (e.type == SDL_QUIT) {  // a signal: close without asking
    handle_close(false);
    return;
  }
  if (e.type == SDL_RENDER_TARGETS_RESET || e.type == SDL_RENDER_DEVICE_RESET) {
    if (state.hooks.repaint) state.hooks.repaint();  // texture contents are gone
    return;
  }
  if (!state.window) return;
  std::uint32_t id = event_window_id(e);
  if (e.type == SDL_WINDOWEVENT && (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED ||
                                    e.window.event == SDL_WINDOWEVENT_FOCUS_LOST)) {
    // Activity is the application's: moving between its two windows is not a
    // change, so the flags are looked at once the whole batch is handled.
    bool gained = e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED;
    if (id == debug_window_id()) state.debug_focus = gained;
    else state.main_focus = gained;
    state.focus_seen = true;
  }
  if (id != 0 && id == debug_window_id()) {
    debug_window_handle(e);
    return;
  }
  if (id == 0 || id == SDL_GetWindowID(state.window)) handle_main_event(e);
}

}  // namespace

bool init_video() {
  if (video_up) return true;
  main_thread_id = std::this_thread::get_id();
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
#if TALVEN_ADDRESS_SANITIZER
  // Sanitizer builds never load the system's GL driver: it parses its
  // configuration with regexec, which deadlocks in the address sanitizer's
  // interceptor. They draw with SDL's software renderer.
  SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
#endif
  if (SDL_Init(SDL_INIT_VIDEO) != 0) return false;
  // SDL falls back to drivers that show nothing when no display answers;
  // those count as "no display" unless asked for by name.
  const char* driver = SDL_GetCurrentVideoDriver();
  const char* asked = SDL_getenv("SDL_VIDEODRIVER");
  if (driver && (SDL_strcmp(driver, "offscreen") == 0 || SDL_strcmp(driver, "dummy") == 0) &&
      !(asked && SDL_strcasecmp(asked, driver) == 0)) {
    SDL_Quit();
    return false;
  }
  Uint32 first = SDL_RegisterEvents(kEventCount);
  if (first == static_cast<Uint32>(-1)) {
    SDL_Quit();
    return false;
  }
  first_event = first;
  for (auto& p : pending) p = false;
  video_up = true;
  return true;
}

void quit_video() {
  if (!video_up) return;
  destroy_main_window();
  first_event = static_cast<std::uint32_t>(-1);
  SDL_Quit();
  video_up = false;
}

namespace {

// Gives the window the Icon key's image; a missing or bad image keeps the
// system's default icon and says so in one start-up line.
void set_configured_icon(SDL_Window* window) {
  const std::string& path = config().Icon;
  if (path.empty()) return;
  std::string why;
  std::optional<IconImage> icon = load_window_icon(path, &why);
  if (!icon) {
    std::fprintf(stderr, "talven: window icon %s: %s; keeping the default icon\n",
                 display_text(path).c_str(), why.c_str());
    return;
  }
  SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
      icon->argb.data(), icon->width, icon->height, 32, icon->width * 4, SDL_PIXELFORMAT_ARGB8888);
  if (!surface) {
    std::fprintf(stderr, "talven: window icon %s: %s; keeping the default icon\n",
                 display_text(path).c_str(), SDL_GetError());
    return;
  }
  SDL_SetWindowIcon(window, surface);  // the window keeps its own copy
  SDL_FreeSurface(surface);
}

}  // namespace

bool create_main_window(const WindowHooks& hooks) {
  if (!video_up) return false;
  destroy_main_window();
  Config& c = config();
  state = WindowState{};
  state.hooks = hooks;

  SDL_DisplayMode desktop{};
  int screen_w = c.Width, screen_h = c.Height;
  if (SDL_GetDesktopDisplayMode(0, &desktop) == 0) {
    screen_w = desktop.w;
    screen_h = desktop.h;
  }
  const bool resizable = c.Direct3D && c.Resize;
  Uint32 flags = SDL_WINDOW_HIDDEN | (resizable ? SDL_WINDOW_RESIZABLE : 0);
  int w0 = c.Width > 0 ? c.Width : 640, h0 = c.Height > 0 ? c.Height : 480;
  state.window = SDL_CreateWindow(display_text(c.Title).c_str(), SDL_WINDOWPOS_CENTERED,
                                  SDL_WINDOWPOS_CENTERED, w0, h0, flags);
  if (!state.window) return false;
  set_configured_icon(state.window);
  SDL_ShowWindow(state.window);
  int top = 0, left = 0, bottom = 0, right = 0;
  if (SDL_GetWindowBordersSize(state.window, &top, &left, &bottom, &right) == 0) {
    state.border_left = left;
    state.border_top = top;
    state.border_right = right;
    state.border_bottom = bottom;
  }
  const int frame_w = state.border_left + state.border_right;
  const int frame_h = state.border_top + state.border_bottom;
  PlacementInput in;
  in.width = c.Width;
  in.height = c.Height;
  in.resize = c.Resize;
  in.direct3d = c.Direct3D;
  in.restore_bounds = c.RestoreBounds;
  in.window_left = c.WindowLeft;
  in.window_top = c.WindowTop;
  in.window_width = c.WindowWidth;
  in.window_height = c.WindowHeight;
  in.screen_w = screen_w;
  in.screen_h = screen_h;
  in.frame_w = frame_w;
  in.frame_h = frame_h;
  Placement p = place_main_window(in);
  if (p.client_w > 0 && p.client_h > 0) SDL_SetWindowSize(state.window, p.client_w, p.client_h);
  SDL_SetWindowPosition(state.window, p.x + state.border_left, p.y + state.border_top);
  if (p.store_size) {
    c.WindowWidth = p.client_w;
    c.WindowHeight = p.client_h;
  }
  if (p.store_position) {
    c.WindowLeft = p.x;
    c.WindowTop = p.y;
  }
  if (resizable) {
    TrackingLimits t = tracking_limits(c.Width, c.Height, c.FixedAspectRatio != 0, screen_w,
                                       screen_h, frame_w, frame_h);
    if (t.min_w > 0 && t.min_h > 0) SDL_SetWindowMinimumSize(state.window, t.min_w, t.min_h);
    if (t.has_max) SDL_SetWindowMaximumSize(state.window, t.max_w, t.max_h);
  }
  // The presentation device: an accelerated renderer, else the software one.
  if (SDL_GetNumRenderDrivers() <= 0) {
    report_message(1, "Direct3Dの初期化に失敗しました");
  } else {
    state.renderer = SDL_CreateRenderer(state.window, -1, SDL_RENDERER_ACCELERATED);
    if (!state.renderer)
      state.renderer = SDL_CreateRenderer(state.window, -1, SDL_RENDERER_SOFTWARE);
    if (!state.renderer) report_message(1, "Direct3D设备生成失败！");
  }
  if (!state.renderer) {
    SDL_DestroyWindow(state.window);
    state.window = nullptr;
    return false;
  }
  SDL_SetRenderDrawColor(state.renderer, 0, 0, 0, 255);
  SDL_RenderClear(state.renderer);
  SDL_RenderPresent(state.renderer);
  SDL_RaiseWindow(state.window);
  SDL_DisableScreenSaver();  // the game keeps the system awake
  SDL_StartTextInput();
  state.anchor = client_rect();

  init_activity_flags();
  char_ring().clear();
  mouse_state().reset();
  if (c.DebugMode) debug_window_create();
  const char* box_choice = SDL_getenv("TALVEN_MESSAGE_BOX");
  box_router = BoxRouter(box_choice && SDL_strcasecmp(box_choice, "window") == 0);
  {
    std::lock_guard lock(box_mutex);
    boxes_open = true;
  }
  return true;
}

void destroy_main_window() {
  {
    std::lock_guard lock(box_mutex);
    boxes_open = false;
  }
  answer_all_boxes();
  debug_window_destroy();
  if (state.renderer) SDL_DestroyRenderer(state.renderer);
  if (state.window) SDL_DestroyWindow(state.window);
  state.renderer = nullptr;
  state.window = nullptr;
}

bool main_window_exists() { return state.window != nullptr; }
SDL_Window* main_sdl_window() { return state.window; }
SDL_Renderer* main_renderer() { return state.renderer; }
std::uint32_t main_window_handle() { return state.window ? SDL_GetWindowID(state.window) : 0; }

void main_client_size(int& w, int& h) {
  w = h = 0;
  if (state.renderer && SDL_GetRendererOutputSize(state.renderer, &w, &h) == 0) return;
  if (state.window) SDL_GetWindowSize(state.window, &w, &h);
}

bool is_full_screen() { return state.full_screen; }

bool main_window_minimized() {
  return state.window && (SDL_GetWindowFlags(state.window) & SDL_WINDOW_MINIMIZED) != 0;
}

int switch_screen_mode(bool full_screen) {
  if (!state.window) return 0;
  if (full_screen == state.full_screen) return 1;
  const Config& c = config();
  // The unscaled mode changes the display mode: the game holds still meanwhile.
  const bool pause = !c.Direct3D && state.hooks.pause_application;
  if (pause) state.hooks.pause_application(false);
  Uint32 flag = 0;
  if (full_screen) {
    if (c.Direct3D) {
      flag = SDL_WINDOW_FULLSCREEN_DESKTOP;
    } else {
      SDL_DisplayMode want{}, got{};
      want.w = c.Width;
      want.h = c.Height;
      int display = SDL_GetWindowDisplayIndex(state.window);
      if (SDL_GetClosestDisplayMode(display < 0 ? 0 : display, &want, &got))
        SDL_SetWindowDisplayMode(state.window, &got);
      flag = SDL_WINDOW_FULLSCREEN;
    }
  }
  int ok = SDL_SetWindowFullscreen(state.window, flag) == 0 ? 1 : 0;
  if (ok) state.full_screen = full_screen;
  if (pause) state.hooks.pause_application(true);
  SDL_RaiseWindow(state.window);
  if (state.hooks.repaint) state.hooks.repaint();
  return ok;
}

bool pump_window_events(int timeout_ms) {
  SDL_Event e;
  if (SDL_WaitEventTimeout(&e, timeout_ms)) {
    handle_event(e);
    while (!state.closed && SDL_PollEvent(&e)) handle_event(e);
  }
  if (state.closed) return false;
  if (state.focus_seen) {
    state.focus_seen = false;
    update_activity(state.main_focus || state.debug_focus);
  }
  serve_message_boxes();
  if (state.hooks.serve) state.hooks.serve();
  debug_window_sync();
  return !state.closed;
}

bool close_main_window(bool ask) {
  handle_close(ask);
  return state.closed;
}

void set_input_event_hook(InputEventHook hook) { input_hook = hook; }

void request_cursor_visible(bool visible) {
  {
    std::lock_guard lock(cursor_requests.mutex);
    cursor_requests.visible = visible;
    cursor_requests.visible_due = true;
  }
  push_event(kEventCursor);
}

void request_cursor_confine(bool on, int left, int top, int right, int bottom) {
  {
    std::lock_guard lock(cursor_requests.mutex);
    cursor_requests.confine = on;
    cursor_requests.rect = SDL_Rect{left, top, right - left, bottom - top};
    cursor_requests.confine_due = true;
  }
  push_event(kEventCursor);
}

void request_cursor_warp(int x, int y) {
  {
    std::lock_guard lock(cursor_requests.mutex);
    cursor_requests.warp_x = x;
    cursor_requests.warp_y = y;
    cursor_requests.warp_due = true;
  }
  push_event(kEventCursor);
}

void wake_window_loop() { push_event(kEventWake); }
void post_present() { push_event(kEventPresent); }
void post_close_request() { push_event(kEventClose); }
void post_raise_request() { push_event(kEventRaise); }

int show_error_box(const std::string& text) {
  if (std::this_thread::get_id() == main_thread_id) {
    // The main thread never waits for a drawn box: it must keep drawing it.
    show_box(text, nullptr);
    return kMessageOk;
  }
  BoxRequest request;
  request.text = text;
  {
    std::lock_guard lock(box_mutex);
    if (!boxes_open) return kMessageOk;
    box_queue.push_back(&request);
  }
  wake_window_loop();
  std::unique_lock lock(box_mutex);
  box_cv.wait(lock, [&] { return request.done; });
  return request.answer;
}

void serve_message_boxes() {
  for (;;) {
    BoxRequest* r = nullptr;
    {
      std::lock_guard lock(box_mutex);
      if (box_queue.empty()) return;
      r = box_queue.front();
      box_queue.pop_front();
    }
    show_box(r->text, r);
  }
}

void draw_message_overlay() { overlay_draw(state.renderer); }

}  // namespace talven::host
