#include <string_view>

#include "app/web_host.h"

namespace vorlix {

extern const std::string_view kTablePt;
const std::string_view kTablePt = R"TABLE(# Vorlix texts: Brazilian Portuguese.
# One text per line: key = text. "\n" is a line break; {name} is filled in by the program.

# The window (Windows)
status.connected = Conectado a {name}
status.ready = Pronto. Abra o Vorlix no seu iPhone ou iPad na mesma rede.
status.not_listening = Sem escuta: outro programa pode estar usando a porta.
pairing.hint = No Vorlix do seu iPhone ou iPad, escolha {name} e digite este código.
pairing.busy = Vários dispositivos tentaram emparelhar ao mesmo tempo e um foi recusado. Tente de novo em instantes.
pairing.locked_countdown = Cinco códigos errados seguidos. O emparelhamento reabre em {seconds} s.
pairing.idle = Para adicionar um iPhone ou iPad, clique em Emparelhar um dispositivo.
button.pair = Emparelhar um dispositivo
button.stop_pairing = Parar emparelhamento
label.paired_devices = Dispositivos emparelhados
devices.none = Nenhum dispositivo emparelhado ainda.
button.forget = Esquecer…
button.disconnect = Desconectar
footer = Este PC: {name} · porta {port} · id {id}\nVorlix para Windows {version}
forget.confirm = Esquecer {name}? Ele terá que ser emparelhado de novo para se conectar.

# The notification-area icon (Windows)
tray.connected = Vorlix: conectado a {name}
tray.ready = Vorlix: pronto
menu.update = Atualizar para o VorLix {version}…
menu.open = Abrir o Vorlix
menu.pair = Emparelhar um dispositivo
menu.camera = Configurar a VorLix Camera…
menu.crash_log = Mostrar log de falhas
menu.open_at_sign_in = Abrir ao entrar
menu.auto_update = Instalar atualizações automaticamente
menu.update_after_session = O VorLix {version} será instalado quando esta sessão terminar
menu.quit = Sair do Vorlix
still_running.title = O Vorlix continua em execução
still_running.text = Seu iPhone ou iPad ainda pode se conectar. Para sair, use o menu deste ícone.

# Updates (Windows)
updated.title = O VorLix foi atualizado
updated.text = Esta é a versão {version} do VorLix para Windows.
update.available.title = O VorLix {version} está disponível
update.available.text = Para instalá-lo, escolha Atualizar para o VorLix {version}… no menu deste ícone.
update.downloading.title = Atualizando o VorLix
update.downloading.text = Baixando a versão {version}…
update.reopen = Saia do VorLix e abra-o de novo para usar a nova versão.
update.failed.title = Não foi possível atualizar o VorLix
update.failed.text = {error}. Você pode baixá-lo em )TABLE" VORLIX_WEB_HOST R"TABLE(.

# Session events
event.locked = Cinco códigos errados seguidos: o emparelhamento está fechado por um minuto.
event.wrong_code = Um dispositivo digitou o código errado. Aqui está um novo.
event.paired = Emparelhado com {name}.
event.signed_in = {name} entrou.

# The picture
stream.summary = {width} × {height} · {fps} qps · H.264
stream.stopped = Imagem interrompida. Tentando de novo…

# The virtual camera
camera.placeholder = Abra o VorLix no seu iPhone ou iPad para usá-lo como câmera deste PC.

# The command line and terminal (Linux)
linux.about = Vorlix {version}: use seu iPhone ou iPad com este computador.
linux.usage.run = Uso: vorlix [opções]   inicia o host
linux.usage.pair = vorlix pair   mostra um código para emparelhar um novo dispositivo
linux.usage.status = vorlix status   mostra se há um dispositivo conectado
linux.usage.devices = vorlix devices   lista os dispositivos emparelhados
linux.usage.forget = vorlix forget NOME   remove um dispositivo emparelhado
linux.usage.quit = vorlix quit   encerra o host em execução
linux.usage.options = Opções:
linux.option.open_pairing = --pair   abre o emparelhamento ao iniciar
linux.option.port = --port NÚMERO   escuta nesta porta
linux.option.data_dir = --data-dir PASTA   guarda os arquivos do host nesta pasta
linux.option.no_advertise = --no-advertise   não anuncia este computador na rede
linux.option.hidden = --hidden   inicia sem mostrar o status
linux.option.no_relay = --no-relay   nunca se conecta pelo relay
linux.already_running = O Vorlix já está em execução.
linux.wayland_needs = No Wayland, o Vorlix precisa da permissão da área de trabalho para compartilhar a tela.
linux.no_display = Nenhuma tela encontrada. Inicie o Vorlix a partir de uma sessão da área de trabalho.
linux.xwayland_warning = Executando pelo XWayland: só janelas X11 podem ser controladas.
linux.cannot_listen = Não é possível escutar na porta {port}: {error}
linux.running = O Vorlix está em execução em {name}, porta {port}.
linux.paired_count = Dispositivos emparelhados: {count}
linux.wayland.with_input = O compartilhamento de tela e o controle do mouse e do teclado estão permitidos.
linux.wayland.without_input = O compartilhamento de tela está permitido, mas o controle do mouse e do teclado não.
linux.wayland.no_xwayland = O XWayland não está disponível: algumas janelas não podem ser controladas.
linux.wayland.ask = Sua área de trabalho vai perguntar se o Vorlix pode compartilhar a tela.
linux.code = Código de emparelhamento: {code}
linux.code_hint = No Vorlix do seu iPhone ou iPad, escolha {name} e digite este código.
linux.notify.title = Código de emparelhamento do Vorlix
linux.notify.body = Digite {code} no seu iPhone ou iPad.
linux.pairing_closed = Emparelhamento fechado.
linux.connected = Conectado a {name}.
linux.disconnected = {name} se desconectou.
linux.picture = Imagem: {summary}
linux.watching = Assistindo: {names}
linux.no_devices = Nenhum dispositivo emparelhado ainda.
linux.forget_which = Qual dispositivo? Informe o nome como aparece em "devices".
linux.forgot = {name} foi esquecido.
linux.help.pair = pair: abre o emparelhamento e mostra um código
linux.help.close = close: para o emparelhamento
linux.help.status = status: mostra a conexão
linux.help.devices = devices: lista os dispositivos emparelhados
linux.help.forget = forget NOME: remove um dispositivo emparelhado
linux.help.quit = quit: sai do Vorlix
linux.unknown_command = Comando desconhecido: {command}. Digite "help" para ver a lista.
linux.not_running = O Vorlix não está em execução.
linux.locked_more = O emparelhamento continua fechado por mais {seconds} segundos.
linux.waiting = Aguardando um dispositivo…
linux.new_code = Novo código: {code}
)TABLE";

}  // namespace vorlix
