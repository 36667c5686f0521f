#include <string_view>

#include "app/web_host.h"

namespace vorlix {

extern const std::string_view kTableZhHant;
const std::string_view kTableZhHant = R"TABLE(# Vorlix texts: Chinese, traditional script.
# One text per line: key = text. "\n" is a line break; {name} is filled in by the program.

# The window (Windows)
status.connected = 已連線到 {name}
status.ready = 已就緒。請在同一網路中的 iPhone 或 iPad 上開啟 Vorlix。
status.not_listening = 無法接聽連線：其他程式可能正在使用此連接埠。
pairing.hint = 在 iPhone 或 iPad 上的 Vorlix 中選擇 {name}，然後輸入此代碼。
pairing.busy = 多部裝置同時嘗試配對，其中一部被拒絕。請稍後再試。
pairing.locked_countdown = 連續輸入了五次錯誤的代碼。{seconds} 秒後可再次配對。
pairing.idle = 若要新增 iPhone 或 iPad，請按一下「配對裝置」。
button.pair = 配對裝置
button.stop_pairing = 停止配對
label.paired_devices = 已配對的裝置
devices.none = 尚未配對任何裝置。
button.forget = 移除…
button.disconnect = 中斷連線
footer = 這部電腦：{name} · 連接埠 {port} · ID {id}\nVorlix Windows 版 {version}
forget.confirm = 要移除 {name} 嗎？它必須重新配對才能連線。

# The notification-area icon (Windows)
tray.connected = Vorlix：已連線到 {name}
tray.ready = Vorlix：已就緒
menu.update = 更新至 VorLix {version}…
menu.open = 開啟 Vorlix
menu.pair = 配對裝置
menu.camera = 設定 VorLix Camera…
menu.crash_log = 顯示當機記錄
menu.open_at_sign_in = 登入時開啟
menu.auto_update = 自動安裝更新
menu.update_after_session = VorLix {version} 將在這次工作階段結束後安裝
menu.quit = 結束 Vorlix
still_running.title = Vorlix 仍在執行
still_running.text = 你的 iPhone 或 iPad 仍可連線。若要結束，請使用此圖示的選單。

# Updates (Windows)
updated.title = VorLix 已更新
updated.text = 這是 VorLix Windows 版 {version}。
update.available.title = VorLix {version} 已推出
update.available.text = 若要安裝，請在此圖示的選單中選擇「更新至 VorLix {version}…」。
update.downloading.title = 正在更新 VorLix
update.downloading.text = 正在下載版本 {version}…
update.reopen = 請結束 VorLix 後重新開啟，以使用新版本。
update.failed.title = VorLix 無法更新
update.failed.text = {error}。你可以從 )TABLE" VORLIX_WEB_HOST R"TABLE( 下載。

# Session events
event.locked = 連續輸入了五次錯誤的代碼：配對將關閉一分鐘。
event.wrong_code = 有裝置輸入了錯誤的代碼。這是新的代碼。
event.paired = 已與 {name} 配對。
event.signed_in = {name} 已登入。

# The picture
stream.summary = {width} × {height} · 每秒 {fps} 格 · H.264
stream.stopped = 畫面已停止。正在重試…

# The virtual camera
camera.placeholder = 在 iPhone 或 iPad 上開啟 VorLix，即可將它當作這部電腦的相機。

# The command line and terminal (Linux)
linux.about = Vorlix {version}：在這部電腦上使用你的 iPhone 或 iPad。
linux.usage.run = 用法：vorlix [選項]   啟動主機
linux.usage.pair = vorlix pair   顯示配對新裝置的代碼
linux.usage.status = vorlix status   顯示是否有裝置已連線
linux.usage.devices = vorlix devices   列出已配對的裝置
linux.usage.forget = vorlix forget 名稱   移除已配對的裝置
linux.usage.quit = vorlix quit   停止執行中的主機
linux.usage.options = 選項：
linux.option.open_pairing = --pair   啟動時開啟配對
linux.option.port = --port 號碼   在此連接埠接聽連線
linux.option.data_dir = --data-dir 資料夾   將主機的檔案存放在此資料夾
linux.option.no_advertise = --no-advertise   不在網路上公告這部電腦
linux.option.hidden = --hidden   啟動時不顯示狀態
linux.option.no_relay = --no-relay   一律不透過中繼連線
linux.already_running = Vorlix 已在執行。
linux.wayland_needs = 在 Wayland 下，Vorlix 需要桌面的許可才能分享螢幕。
linux.no_display = 找不到顯示器。請從桌面工作階段啟動 Vorlix。
linux.xwayland_warning = 正透過 XWayland 執行：只能控制 X11 視窗。
linux.cannot_listen = 無法在連接埠 {port} 接聽連線：{error}
linux.running = Vorlix 正在 {name} 上執行，連接埠 {port}。
linux.paired_count = 已配對的裝置：{count}
linux.wayland.with_input = 已允許分享螢幕以及控制滑鼠和鍵盤。
linux.wayland.without_input = 已允許分享螢幕，但不允許控制滑鼠和鍵盤。
linux.wayland.no_xwayland = 無法使用 XWayland：部分視窗無法控制。
linux.wayland.ask = 桌面將詢問是否允許 Vorlix 分享螢幕。
linux.code = 配對代碼：{code}
linux.code_hint = 在 iPhone 或 iPad 上的 Vorlix 中選擇 {name}，然後輸入此代碼。
linux.notify.title = Vorlix 配對代碼
linux.notify.body = 請在 iPhone 或 iPad 上輸入 {code}。
linux.pairing_closed = 配對已關閉。
linux.connected = 已連線到 {name}。
linux.disconnected = {name} 已中斷連線。
linux.picture = 畫面：{summary}
linux.watching = 正在觀看：{names}
linux.no_devices = 尚未配對任何裝置。
linux.forget_which = 哪部裝置？請輸入「devices」所列出的名稱。
linux.forgot = 已移除 {name}。
linux.help.pair = pair：開啟配對並顯示代碼
linux.help.close = close：停止配對
linux.help.status = status：顯示連線狀態
linux.help.devices = devices：列出已配對的裝置
linux.help.forget = forget 名稱：移除已配對的裝置
linux.help.quit = quit：結束 Vorlix
linux.unknown_command = 不明的指令：{command}。輸入「help」查看指令清單。
linux.not_running = Vorlix 未在執行。
linux.locked_more = 配對還會關閉 {seconds} 秒。
linux.waiting = 正在等候裝置…
linux.new_code = 新代碼：{code}
)TABLE";

}  // namespace vorlix
