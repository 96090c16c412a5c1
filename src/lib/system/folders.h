// Special folders for dir_getpath: the shell's folder codes. On Windows
// (folders_win32.cpp) the shell answers them itself; elsewhere
// (folders_posix.cpp) they map to the player's XDG folders and to fixed
// stand-ins for the system's own:
//
//   code        folder                        here
//   0, 16       desktop                       XDG_DESKTOP_DIR
//   5, 12       documents                     XDG documents folder
//   13          music                         XDG_MUSIC_DIR
//   14          videos                        XDG_VIDEOS_DIR
//   39          pictures                      XDG_PICTURES_DIR
//   21          templates                     XDG_TEMPLATES_DIR
//   40          the user's profile            $HOME
//   26          application data              $XDG_CONFIG_HOME (~/.config)
//   28          local application data        $XDG_DATA_HOME (~/.local/share)
//   32          internet cache                $XDG_CACHE_HOME (~/.cache)
//   2           programs menu                 $XDG_DATA_HOME/applications
//   7           start-up                      $XDG_CONFIG_HOME/autostart
//   20          fonts                         $XDG_DATA_HOME/fonts
//   35          common application data       /usr/share
//   36 ('$')    the system's folder           /usr
//   37 ('%'), 41  the system's libraries      /usr/lib
//   38, 42      programs                      /usr/local
//   43          common program files          /usr/local/share
//
// An XDG user folder that is not configured or missing falls back to $HOME.
// On every host the three base folders (26, 28, 32) are created (mode 0700
// here) when missing, any other folder must exist, and other codes name no
// folder.
#pragma once

#include <optional>
#include <string>

namespace talven::lib::system {

// The host path (no trailing '/') of a folder code, or nullopt.
std::optional<std::string> special_folder(int code);

}  // namespace talven::lib::system
