// Whether the desktop front-end has a display to show its windows on, decided
// before the desktop module (and with it Qt) is loaded.
#pragma once

#include <string>

namespace quorsel {

struct DisplayCheck {
    bool named = false;     // DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM is set
    bool usable = false;    // one of them can be used
    std::string names;      // what was tried, e.g. "DISPLAY=:99, WAYLAND_DISPLAY=wayland-0"
    std::string platform;   // the Qt platform to ask for when only one kind of display is
                            // usable and QT_QPA_PLATFORM leaves it open ("xcb", "wayland");
                            // empty: Qt's own choice
};

// X11: a connection to DISPLAY succeeds within DISPLAY_CONNECT_TIMEOUT (libxcb,
// loaded only for this). Wayland: a compositor accepts a connection on the socket
// WAYLAND_DISPLAY names (an absolute path, or one inside XDG_RUNTIME_DIR). A
// QT_QPA_PLATFORM that names another platform than xcb or wayland (offscreen, vnc...)
// is taken as usable as it stands.
DisplayCheck CheckDisplay();

}  // namespace quorsel
