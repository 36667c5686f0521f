#include <string_view>

#include "app/web_host.h"

namespace vorlix {

extern const std::string_view kTableEn;
const std::string_view kTableEn = R"TABLE(# Vorlix texts: English. This table is the reference for the others.
# One text per line: key = text. "\n" is a line break; {name} is filled in by the program.

# The window (Windows)
status.connected = Connected to {name}
status.ready = Ready. Open Vorlix on your iPhone or iPad on the same network.
status.not_listening = Not listening: another program may be using the port.
pairing.hint = In Vorlix on your iPhone or iPad, choose {name} and enter this code.
pairing.busy = Several devices tried to pair at once, so one was turned away. Try again in a moment.
pairing.locked_countdown = Five wrong codes in a row. Pairing opens again in {seconds} s.
pairing.idle = To add an iPhone or iPad, click Pair a Device.
button.pair = Pair a Device
button.stop_pairing = Stop Pairing
label.paired_devices = Paired devices
devices.none = No devices paired yet.
button.forget = Forget…
button.disconnect = Disconnect
footer = This PC: {name} · port {port} · id {id}\nVorlix for Windows {version}
forget.confirm = Forget {name}? It will have to pair again to connect.

# The notification-area icon (Windows)
tray.connected = Vorlix: connected to {name}
tray.ready = Vorlix: ready
menu.update = Update to VorLix {version}…
menu.open = Open Vorlix
menu.pair = Pair a Device
menu.camera = Set Up VorLix Camera…
menu.crash_log = Show Crash Log
menu.open_at_sign_in = Open at Sign-In
menu.auto_update = Install Updates Automatically
menu.update_after_session = VorLix {version} installs when this session ends
menu.quit = Quit Vorlix
still_running.title = Vorlix is still running
still_running.text = Your iPhone or iPad can still connect. Quit from this icon's menu.

# Updates (Windows)
updated.title = VorLix was updated
updated.text = This is VorLix for Windows {version}.
update.available.title = VorLix {version} is available
update.available.text = To install it, choose Update to VorLix {version}… from this icon's menu.
update.downloading.title = Updating VorLix
update.downloading.text = Downloading version {version}…
update.reopen = Quit VorLix and open it again to use the new version.
update.failed.title = VorLix could not update
update.failed.text = {error}. You can download it from )TABLE" VORLIX_WEB_HOST R"TABLE(.

# Session events
event.locked = Five wrong codes in a row: pairing is closed for a minute.
event.wrong_code = A device entered the wrong code. Here is a new one.
event.paired = Paired with {name}.
event.signed_in = {name} signed in.

# The picture
stream.summary = {width} × {height} · {fps} fps · H.264
stream.stopped = Picture stopped. Trying again…

# The virtual camera
camera.placeholder = Open VorLix on your iPhone or iPad to use it as this PC's camera.

# The command line and terminal (Linux)
linux.about = Vorlix {version}: use your iPhone or iPad with this computer.
linux.usage.run = Usage: vorlix [options]   start the host
linux.usage.pair = vorlix pair   show a code to pair a new device
linux.usage.status = vorlix status   show whether a device is connected
linux.usage.devices = vorlix devices   list the paired devices
linux.usage.forget = vorlix forget NAME   remove a paired device
linux.usage.quit = vorlix quit   stop the running host
linux.usage.options = Options:
linux.option.open_pairing = --pair   open pairing at start
linux.option.port = --port NUMBER   listen on this port
linux.option.data_dir = --data-dir FOLDER   keep the host's files in this folder
linux.option.no_advertise = --no-advertise   do not announce this computer on the network
linux.option.hidden = --hidden   start without showing the status
linux.option.no_relay = --no-relay   never connect through the relay
linux.already_running = Vorlix is already running.
linux.wayland_needs = On Wayland, Vorlix needs the desktop's permission to share the screen.
linux.no_display = No display found. Start Vorlix from a desktop session.
linux.xwayland_warning = Running through XWayland: only X11 windows can be controlled.
linux.cannot_listen = Cannot listen on port {port}: {error}
linux.running = Vorlix is running on {name}, port {port}.
linux.paired_count = Paired devices: {count}
linux.wayland.with_input = Screen sharing and mouse and keyboard control are allowed.
linux.wayland.without_input = Screen sharing is allowed, but mouse and keyboard control is not.
linux.wayland.no_xwayland = XWayland is not available: some windows cannot be controlled.
linux.wayland.ask = Your desktop will now ask whether Vorlix may share the screen.
linux.code = Pairing code: {code}
linux.code_hint = In Vorlix on your iPhone or iPad, choose {name} and enter this code.
linux.notify.title = Vorlix pairing code
linux.notify.body = Enter {code} on your iPhone or iPad.
linux.pairing_closed = Pairing closed.
linux.connected = Connected to {name}.
linux.disconnected = {name} disconnected.
linux.picture = Picture: {summary}
linux.watching = Watching: {names}
linux.no_devices = No devices paired yet.
linux.forget_which = Which device? Give its name as "devices" lists it.
linux.forgot = Forgot {name}.
linux.help.pair = pair: open pairing and show a code
linux.help.close = close: stop pairing
linux.help.status = status: show the connection
linux.help.devices = devices: list the paired devices
linux.help.forget = forget NAME: remove a paired device
linux.help.quit = quit: stop Vorlix
linux.unknown_command = Unknown command: {command}. Type "help" for the list.
linux.not_running = Vorlix is not running.
linux.locked_more = Pairing is closed for {seconds} more seconds.
linux.waiting = Waiting for a device…
linux.new_code = New code: {code}
)TABLE";

}  // namespace vorlix
