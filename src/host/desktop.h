// Desktop services on SDL for the system builtins: message boxes with a
// set of buttons, the clipboard, the main window's title and the desktop's
// display mode.
//
// SDL's video functions belong to the main thread, so everything here except
// desktop_available() must be called there (script threads reach it through
// main-thread calls). Texts cross this interface as UTF-8; the callers
// convert from and to the runtime's CP932.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace talven::host {

// True when SDL video is up and the main window exists (a windowed run).
// Thread-safe.
bool desktop_available();

enum class BoxIcon { kNone, kError, kWarning, kInformation };

struct BoxButton {
  int id;             // what the box answers when this button is pressed
  std::string label;  // UTF-8
};

// A modal box owned by the main window, buttons left to right. Returns the
// pressed button's id; closing the box answers `escape_id`. Without a window
// nothing is shown and the default button's id is returned.
int show_button_box(BoxIcon icon, const std::string& caption, const std::string& text,
                    const std::vector<BoxButton>& buttons, int default_index, int escape_id);

// The system clipboard as UTF-8. set: false when SDL refuses the text.
bool set_clipboard_text(const std::string& utf8);
// nullopt when the clipboard holds no text; `failed` is set when SDL had
// text but could not hand it over.
std::optional<std::string> clipboard_text(bool& failed);

// Sets the main window's title; false without a window.
bool set_window_title(const std::string& utf8);

// The desktop display's size and bits per pixel; false without video.
bool desktop_mode(int& width, int& height, int& depth);

}  // namespace talven::host
