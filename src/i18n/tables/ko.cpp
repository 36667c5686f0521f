#include <string_view>

#include "app/web_host.h"

namespace vorlix {

extern const std::string_view kTableKo;
const std::string_view kTableKo = R"TABLE(# Vorlix texts: Korean.
# One text per line: key = text. "\n" is a line break; {name} is filled in by the program.

# The window (Windows)
status.connected = {name}에 연결됨
status.ready = 준비되었습니다. 같은 네트워크에 있는 iPhone 또는 iPad에서 Vorlix를 여세요.
status.not_listening = 연결을 받을 수 없습니다. 다른 프로그램이 포트를 사용하고 있을 수 있습니다.
pairing.hint = iPhone 또는 iPad의 Vorlix에서 {name}을(를) 선택하고 이 코드를 입력하세요.
pairing.busy = 여러 기기가 동시에 페어링하려고 해서 한 기기를 거부했습니다. 잠시 후 다시 시도하세요.
pairing.locked_countdown = 잘못된 코드가 5번 연속 입력되었습니다. {seconds}초 후에 다시 페어링할 수 있습니다.
pairing.idle = iPhone 또는 iPad를 추가하려면 [기기 페어링]을 클릭하세요.
button.pair = 기기 페어링
button.stop_pairing = 페어링 중지
label.paired_devices = 페어링된 기기
devices.none = 아직 페어링된 기기가 없습니다.
button.forget = 삭제…
button.disconnect = 연결 끊기
footer = 이 PC: {name} · 포트 {port} · ID {id}\nWindows용 Vorlix {version}
forget.confirm = {name}을(를) 삭제할까요? 다시 연결하려면 페어링을 다시 해야 합니다.

# The notification-area icon (Windows)
tray.connected = Vorlix: {name}에 연결됨
tray.ready = Vorlix: 준비됨
menu.update = VorLix {version}(으)로 업데이트…
menu.open = Vorlix 열기
menu.pair = 기기 페어링
menu.camera = VorLix Camera 설정…
menu.crash_log = 충돌 로그 보기
menu.open_at_sign_in = 로그인할 때 열기
menu.auto_update = 업데이트 자동 설치
menu.update_after_session = 이 세션이 끝나면 VorLix {version}이(가) 설치됩니다
menu.quit = Vorlix 종료
still_running.title = Vorlix가 계속 실행 중입니다
still_running.text = iPhone 또는 iPad에서 계속 연결할 수 있습니다. 종료하려면 이 아이콘의 메뉴를 사용하세요.

# Updates (Windows)
updated.title = VorLix가 업데이트되었습니다
updated.text = Windows용 VorLix {version}입니다.
update.available.title = VorLix {version}을(를) 사용할 수 있습니다
update.available.text = 설치하려면 이 아이콘의 메뉴에서 [VorLix {version}(으)로 업데이트…]를 선택하세요.
update.downloading.title = VorLix 업데이트 중
update.downloading.text = 버전 {version} 다운로드 중…
update.reopen = 새 버전을 사용하려면 VorLix를 종료한 후 다시 여세요.
update.failed.title = VorLix를 업데이트하지 못했습니다
update.failed.text = {error}. )TABLE" VORLIX_WEB_HOST R"TABLE(에서 다운로드할 수 있습니다.

# Session events
event.locked = 잘못된 코드가 5번 연속 입력되었습니다. 1분 동안 페어링할 수 없습니다.
event.wrong_code = 기기에서 잘못된 코드를 입력했습니다. 새 코드입니다.
event.paired = {name}과(와) 페어링했습니다.
event.signed_in = {name}이(가) 로그인했습니다.

# The picture
stream.summary = {width} × {height} · 초당 {fps}프레임 · H.264
stream.stopped = 화면 전송이 멈췄습니다. 다시 시도하는 중…

# The virtual camera
camera.placeholder = 이 PC의 카메라로 사용하려면 iPhone 또는 iPad에서 VorLix를 여세요.

# The command line and terminal (Linux)
linux.about = Vorlix {version}: 이 컴퓨터에서 iPhone 또는 iPad를 함께 사용하세요.
linux.usage.run = 사용법: vorlix [옵션]   호스트를 시작합니다
linux.usage.pair = vorlix pair   새 기기를 페어링할 코드를 표시합니다
linux.usage.status = vorlix status   기기가 연결되어 있는지 표시합니다
linux.usage.devices = vorlix devices   페어링된 기기를 나열합니다
linux.usage.forget = vorlix forget 이름   페어링된 기기를 삭제합니다
linux.usage.quit = vorlix quit   실행 중인 호스트를 종료합니다
linux.usage.options = 옵션:
linux.option.open_pairing = --pair   시작할 때 페어링을 엽니다
linux.option.port = --port 번호   이 포트에서 연결을 받습니다
linux.option.data_dir = --data-dir 폴더   호스트의 파일을 이 폴더에 보관합니다
linux.option.no_advertise = --no-advertise   네트워크에 이 컴퓨터를 알리지 않습니다
linux.option.hidden = --hidden   상태를 표시하지 않고 시작합니다
linux.option.no_relay = --no-relay   릴레이를 통해 연결하지 않습니다
linux.already_running = Vorlix가 이미 실행 중입니다.
linux.wayland_needs = Wayland에서는 화면을 공유하려면 데스크톱의 허용이 필요합니다.
linux.no_display = 디스플레이를 찾을 수 없습니다. 데스크톱 세션에서 Vorlix를 시작하세요.
linux.xwayland_warning = XWayland를 통해 실행 중: X11 창만 제어할 수 있습니다.
linux.cannot_listen = 포트 {port}에서 연결을 받을 수 없습니다: {error}
linux.running = Vorlix가 {name}의 포트 {port}에서 실행 중입니다.
linux.paired_count = 페어링된 기기: {count}
linux.wayland.with_input = 화면 공유와 마우스 및 키보드 제어가 허용되었습니다.
linux.wayland.without_input = 화면 공유는 허용되었지만 마우스 및 키보드 제어는 허용되지 않았습니다.
linux.wayland.no_xwayland = XWayland를 사용할 수 없습니다. 일부 창은 제어할 수 없습니다.
linux.wayland.ask = 데스크톱에서 Vorlix의 화면 공유를 허용할지 묻습니다.
linux.code = 페어링 코드: {code}
linux.code_hint = iPhone 또는 iPad의 Vorlix에서 {name}을(를) 선택하고 이 코드를 입력하세요.
linux.notify.title = Vorlix 페어링 코드
linux.notify.body = iPhone 또는 iPad에 {code}을(를) 입력하세요.
linux.pairing_closed = 페어링을 닫았습니다.
linux.connected = {name}에 연결되었습니다.
linux.disconnected = {name}의 연결이 끊어졌습니다.
linux.picture = 화면: {summary}
linux.watching = 시청 중: {names}
linux.no_devices = 아직 페어링된 기기가 없습니다.
linux.forget_which = 어떤 기기인가요? "devices"에 표시되는 이름을 입력하세요.
linux.forgot = {name}을(를) 삭제했습니다.
linux.help.pair = pair: 페어링을 열고 코드를 표시합니다
linux.help.close = close: 페어링을 중지합니다
linux.help.status = status: 연결 상태를 표시합니다
linux.help.devices = devices: 페어링된 기기를 나열합니다
linux.help.forget = forget 이름: 페어링된 기기를 삭제합니다
linux.help.quit = quit: Vorlix를 종료합니다
linux.unknown_command = 알 수 없는 명령입니다: {command}. 목록을 보려면 "help"를 입력하세요.
linux.not_running = Vorlix가 실행 중이 아닙니다.
linux.locked_more = {seconds}초 더 페어링할 수 없습니다.
linux.waiting = 기기를 기다리는 중…
linux.new_code = 새 코드: {code}
)TABLE";

}  // namespace vorlix
