#pragma once
// A session bus address left over from an ended login (a terminal multiplexer's environment, an
// `su` shell) names a socket that is gone. The engine's sandbox binds that socket into the web
// process's sandbox and aborts the whole application when it cannot; so such an address is
// replaced before anything uses it: by the login's own bus socket ($XDG_RUNTIME_DIR/bus) when
// there is one, else by an address every client refuses at once ("disabled:", no transport), so
// the application runs without a session bus instead of ending or waiting for one.
#include <optional>
#include <string>
#include <string_view>

namespace wd::sessionbus {

// True when every entry of a D-Bus address list is a `unix:path=` socket that does not exist.
// Any other transport (abstract sockets, tcp, launchd, ...) may be alive: false.
bool addressIsGone(std::string_view address);

// The address every client refuses at once (no such transport): no session bus.
inline constexpr std::string_view kNoBus = "disabled:";

struct Replaced {
  std::string was, now;
};

// Replaces DBUS_SESSION_BUS_ADDRESS when it is gone and says with what, else none. Call it
// before any other thread starts: it changes the environment.
std::optional<Replaced> replaceGoneAddress();

}  // namespace wd::sessionbus
