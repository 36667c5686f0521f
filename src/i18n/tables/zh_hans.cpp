#include <string_view>

#include "app/web_host.h"

namespace vorlix {

extern const std::string_view kTableZhHans;
const std::string_view kTableZhHans = R"TABLE(# Vorlix texts: Chinese, simplified script.
# One text per line: key = text. "\n" is a line break; {name} is filled in by the program.

# The window (Windows)
status.connected = 已连接到 {name}
status.ready = 已就绪。请在同一网络中的 iPhone 或 iPad 上打开 Vorlix。
status.not_listening = 无法监听：其他程序可能正在使用该端口。
pairing.hint = 在 iPhone 或 iPad 上的 Vorlix 中选择 {name}，然后输入此代码。
pairing.busy = 多台设备同时尝试配对，其中一台被拒绝。请稍后再试。
pairing.locked_countdown = 连续输入了五次错误代码。{seconds} 秒后可再次配对。
pairing.idle = 要添加 iPhone 或 iPad，请点击“配对设备”。
button.pair = 配对设备
button.stop_pairing = 停止配对
label.paired_devices = 已配对的设备
devices.none = 尚未配对任何设备。
button.forget = 忽略…
button.disconnect = 断开连接
footer = 此电脑：{name} · 端口 {port} · ID {id}\nVorlix Windows 版 {version}
forget.confirm = 要忽略 {name} 吗？它需要重新配对才能连接。

# The notification-area icon (Windows)
tray.connected = Vorlix：已连接到 {name}
tray.ready = Vorlix：已就绪
menu.update = 更新到 VorLix {version}…
menu.open = 打开 Vorlix
menu.pair = 配对设备
menu.camera = 设置 VorLix Camera…
menu.crash_log = 显示崩溃日志
menu.open_at_sign_in = 登录时打开
menu.auto_update = 自动安装更新
menu.update_after_session = VorLix {version} 将在本次会话结束后安装
menu.quit = 退出 Vorlix
still_running.title = Vorlix 仍在运行
still_running.text = 你的 iPhone 或 iPad 仍可连接。要退出，请使用此图标的菜单。

# Updates (Windows)
updated.title = VorLix 已更新
updated.text = 这是 VorLix Windows 版 {version}。
update.available.title = VorLix {version} 现已推出
update.available.text = 要安装，请在此图标的菜单中选择“更新到 VorLix {version}…”。
update.downloading.title = 正在更新 VorLix
update.downloading.text = 正在下载版本 {version}…
update.reopen = 请退出 VorLix 并重新打开，以使用新版本。
update.failed.title = VorLix 无法更新
update.failed.text = {error}。你可以从 )TABLE" VORLIX_WEB_HOST R"TABLE( 下载。

# Session events
event.locked = 连续输入了五次错误代码：配对将关闭一分钟。
event.wrong_code = 有设备输入了错误的代码。这是新的代码。
event.paired = 已与 {name} 配对。
event.signed_in = {name} 已登录。

# The picture
stream.summary = {width} × {height} · {fps} 帧/秒 · H.264
stream.stopped = 画面已停止。正在重试…

# The virtual camera
camera.placeholder = 在 iPhone 或 iPad 上打开 VorLix，即可将其用作此电脑的摄像头。

# The command line and terminal (Linux)
linux.about = Vorlix {version}：在这台电脑上使用你的 iPhone 或 iPad。
linux.usage.run = 用法：vorlix [选项]   启动主机
linux.usage.pair = vorlix pair   显示用于配对新设备的代码
linux.usage.status = vorlix status   显示是否有设备已连接
linux.usage.devices = vorlix devices   列出已配对的设备
linux.usage.forget = vorlix forget 名称   移除已配对的设备
linux.usage.quit = vorlix quit   停止正在运行的主机
linux.usage.options = 选项：
linux.option.open_pairing = --pair   启动时打开配对
linux.option.port = --port 端口号   在此端口上监听
linux.option.data_dir = --data-dir 文件夹   将主机的文件保存在此文件夹中
linux.option.no_advertise = --no-advertise   不在网络上广播这台电脑
linux.option.hidden = --hidden   启动时不显示状态
linux.option.no_relay = --no-relay   从不通过中继连接
linux.already_running = Vorlix 已在运行。
linux.wayland_needs = 在 Wayland 下，Vorlix 需要桌面的许可才能共享屏幕。
linux.no_display = 找不到显示器。请在桌面会话中启动 Vorlix。
linux.xwayland_warning = 正在通过 XWayland 运行：只能控制 X11 窗口。
linux.cannot_listen = 无法在端口 {port} 上监听：{error}
linux.running = Vorlix 正在 {name} 上运行，端口 {port}。
linux.paired_count = 已配对的设备：{count}
linux.wayland.with_input = 已允许共享屏幕以及控制鼠标和键盘。
linux.wayland.without_input = 已允许共享屏幕，但不允许控制鼠标和键盘。
linux.wayland.no_xwayland = XWayland 不可用：部分窗口无法控制。
linux.wayland.ask = 桌面将询问是否允许 Vorlix 共享屏幕。
linux.code = 配对代码：{code}
linux.code_hint = 在 iPhone 或 iPad 上的 Vorlix 中选择 {name}，然后输入此代码。
linux.notify.title = Vorlix 配对代码
linux.notify.body = 请在 iPhone 或 iPad 上输入 {code}。
linux.pairing_closed = 配对已关闭。
linux.connected = 已连接到 {name}。
linux.disconnected = {name} 已断开连接。
linux.picture = 画面：{summary}
linux.watching = 正在观看：{names}
linux.no_devices = 尚未配对任何设备。
linux.forget_which = 哪台设备？请按“devices”列出的名称输入。
linux.forgot = 已忽略 {name}。
linux.help.pair = pair：打开配对并显示代码
linux.help.close = close：停止配对
linux.help.status = status：显示连接状态
linux.help.devices = devices：列出已配对的设备
linux.help.forget = forget 名称：移除已配对的设备
linux.help.quit = quit：退出 Vorlix
linux.unknown_command = 未知命令：{command}。输入“help”查看命令列表。
linux.not_running = Vorlix 未在运行。
linux.locked_more = 配对还将关闭 {seconds} 秒。
linux.waiting = 正在等待设备…
linux.new_code = 新代码：{code}
)TABLE";

}  // namespace vorlix
