#include <string_view>

#include "app/web_host.h"

namespace vorlix {

extern const std::string_view kTableJa;
const std::string_view kTableJa = R"TABLE(# Vorlix texts: Japanese.
# One text per line: key = text. "\n" is a line break; {name} is filled in by the program.

# The window (Windows)
status.connected = {name} に接続中
status.ready = 準備完了。同じネットワーク上の iPhone または iPad で Vorlix を開いてください。
status.not_listening = 待ち受けできません: 別のプログラムがポートを使用している可能性があります。
pairing.hint = iPhone または iPad の Vorlix で {name} を選び、このコードを入力してください。
pairing.busy = 複数のデバイスが同時にペアリングしようとしたため、1 台を断りました。少し待ってからもう一度お試しください。
pairing.locked_countdown = 間違ったコードが 5 回続きました。{seconds} 秒後にペアリングを再開できます。
pairing.idle = iPhone または iPad を追加するには、[デバイスをペアリング] をクリックしてください。
button.pair = デバイスをペアリング
button.stop_pairing = ペアリングを停止
label.paired_devices = ペアリング済みのデバイス
devices.none = ペアリング済みのデバイスはまだありません。
button.forget = 削除…
button.disconnect = 切断
footer = この PC: {name} · ポート {port} · ID {id}\nVorlix for Windows {version}
forget.confirm = {name} を削除しますか? 接続するには再度ペアリングが必要になります。

# The notification-area icon (Windows)
tray.connected = Vorlix: {name} に接続中
tray.ready = Vorlix: 準備完了
menu.update = VorLix {version} に更新…
menu.open = Vorlix を開く
menu.pair = デバイスをペアリング
menu.camera = VorLix Camera をセットアップ…
menu.crash_log = クラッシュ ログを表示
menu.open_at_sign_in = サインイン時に開く
menu.auto_update = 更新を自動的にインストール
menu.update_after_session = VorLix {version} はこのセッションの終了後にインストールされます
menu.quit = Vorlix を終了
still_running.title = Vorlix は実行中です
still_running.text = iPhone または iPad から引き続き接続できます。終了するには、このアイコンのメニューを使ってください。

# Updates (Windows)
updated.title = VorLix が更新されました
updated.text = VorLix for Windows {version} です。
update.available.title = VorLix {version} を利用できます
update.available.text = インストールするには、このアイコンのメニューから [VorLix {version} に更新…] を選んでください。
update.downloading.title = VorLix を更新しています
update.downloading.text = バージョン {version} をダウンロードしています…
update.reopen = 新しいバージョンを使うには、VorLix を終了してもう一度開いてください。
update.failed.title = VorLix を更新できませんでした
update.failed.text = {error}。)TABLE" VORLIX_WEB_HOST R"TABLE( からダウンロードできます。

# Session events
event.locked = 間違ったコードが 5 回続きました: ペアリングを 1 分間停止します。
event.wrong_code = デバイスで間違ったコードが入力されました。新しいコードを表示します。
event.paired = {name} とペアリングしました。
event.signed_in = {name} がサインインしました。

# The picture
stream.summary = {width} × {height} · {fps} フレーム/秒 · H.264
stream.stopped = 画面の送信が止まりました。再試行しています…

# The virtual camera
camera.placeholder = この PC のカメラとして使うには、iPhone または iPad で VorLix を開いてください。

# The command line and terminal (Linux)
linux.about = Vorlix {version}: iPhone や iPad をこのコンピューターで使えるようにします。
linux.usage.run = 使い方: vorlix [オプション]   ホストを起動します
linux.usage.pair = vorlix pair   新しいデバイスをペアリングするコードを表示します
linux.usage.status = vorlix status   デバイスが接続中かどうかを表示します
linux.usage.devices = vorlix devices   ペアリング済みのデバイスを一覧表示します
linux.usage.forget = vorlix forget 名前   ペアリング済みのデバイスを削除します
linux.usage.quit = vorlix quit   実行中のホストを終了します
linux.usage.options = オプション:
linux.option.open_pairing = --pair   起動時にペアリングを開始します
linux.option.port = --port 番号   このポートで待ち受けます
linux.option.data_dir = --data-dir フォルダー   ホストのファイルをこのフォルダーに保存します
linux.option.no_advertise = --no-advertise   このコンピューターをネットワークに通知しません
linux.option.hidden = --hidden   状態を表示せずに起動します
linux.option.no_relay = --no-relay   リレー経由では接続しません
linux.already_running = Vorlix はすでに実行中です。
linux.wayland_needs = Wayland では、画面を共有するためにデスクトップの許可が必要です。
linux.no_display = ディスプレイが見つかりません。デスクトップ セッションから Vorlix を起動してください。
linux.xwayland_warning = XWayland 経由で実行中: 操作できるのは X11 のウィンドウだけです。
linux.cannot_listen = ポート {port} で待ち受けできません: {error}
linux.running = Vorlix は {name} のポート {port} で実行中です。
linux.paired_count = ペアリング済みのデバイス: {count}
linux.wayland.with_input = 画面の共有とマウス・キーボードの操作が許可されています。
linux.wayland.without_input = 画面の共有は許可されていますが、マウスとキーボードの操作は許可されていません。
linux.wayland.no_xwayland = XWayland を利用できません: 一部のウィンドウは操作できません。
linux.wayland.ask = Vorlix に画面の共有を許可するかどうか、デスクトップから確認があります。
linux.code = ペアリング コード: {code}
linux.code_hint = iPhone または iPad の Vorlix で {name} を選び、このコードを入力してください。
linux.notify.title = Vorlix のペアリング コード
linux.notify.body = iPhone または iPad で {code} を入力してください。
linux.pairing_closed = ペアリングを停止しました。
linux.connected = {name} に接続しました。
linux.disconnected = {name} の接続が切れました。
linux.picture = 画面: {summary}
linux.watching = 視聴中: {names}
linux.no_devices = ペアリング済みのデバイスはまだありません。
linux.forget_which = どのデバイスですか? "devices" に表示される名前を指定してください。
linux.forgot = {name} を削除しました。
linux.help.pair = pair: ペアリングを開始してコードを表示します
linux.help.close = close: ペアリングを停止します
linux.help.status = status: 接続の状態を表示します
linux.help.devices = devices: ペアリング済みのデバイスを一覧表示します
linux.help.forget = forget 名前: ペアリング済みのデバイスを削除します
linux.help.quit = quit: Vorlix を終了します
linux.unknown_command = 不明なコマンドです: {command}。一覧を見るには "help" と入力してください。
linux.not_running = Vorlix は実行されていません。
linux.locked_more = ペアリングはあと {seconds} 秒間停止しています。
linux.waiting = デバイスを待っています…
linux.new_code = 新しいコード: {code}
)TABLE";

}  // namespace vorlix
