#include <string_view>

#include "app/web_host.h"

namespace vorlix {

extern const std::string_view kTableEs;
const std::string_view kTableEs = R"TABLE(# Vorlix texts: Spanish.
# One text per line: key = text. "\n" is a line break; {name} is filled in by the program.

# The window (Windows)
status.connected = Conectado a {name}
status.ready = Listo. Abre Vorlix en tu iPhone o iPad conectado a la misma red.
status.not_listening = Sin escucha: puede que otro programa esté usando el puerto.
pairing.hint = En Vorlix en tu iPhone o iPad, elige {name} y escribe este código.
pairing.busy = Varios dispositivos intentaron vincularse a la vez y se rechazó uno. Vuelve a intentarlo en un momento.
pairing.locked_countdown = Cinco códigos incorrectos seguidos. La vinculación se abrirá de nuevo en {seconds} s.
pairing.idle = Para añadir un iPhone o iPad, haz clic en Vincular un dispositivo.
button.pair = Vincular un dispositivo
button.stop_pairing = Detener vinculación
label.paired_devices = Dispositivos vinculados
devices.none = Todavía no hay dispositivos vinculados.
button.forget = Olvidar…
button.disconnect = Desconectar
footer = Este PC: {name} · puerto {port} · id {id}\nVorlix para Windows {version}
forget.confirm = ¿Olvidar {name}? Tendrá que vincularse de nuevo para conectarse.

# The notification-area icon (Windows)
tray.connected = Vorlix: conectado a {name}
tray.ready = Vorlix: listo
menu.update = Actualizar a VorLix {version}…
menu.open = Abrir Vorlix
menu.pair = Vincular un dispositivo
menu.camera = Configurar VorLix Camera…
menu.crash_log = Mostrar registro de errores
menu.open_at_sign_in = Abrir al iniciar sesión
menu.auto_update = Instalar actualizaciones automáticamente
menu.update_after_session = VorLix {version} se instalará cuando termine esta sesión
menu.quit = Salir de Vorlix
still_running.title = Vorlix sigue en ejecución
still_running.text = Tu iPhone o iPad todavía puede conectarse. Para salir, usa el menú de este icono.

# Updates (Windows)
updated.title = VorLix se ha actualizado
updated.text = Esta es la versión {version} de VorLix para Windows.
update.available.title = VorLix {version} está disponible
update.available.text = Para instalarlo, elige Actualizar a VorLix {version}… en el menú de este icono.
update.downloading.title = Actualizando VorLix
update.downloading.text = Descargando la versión {version}…
update.reopen = Sal de VorLix y vuelve a abrirlo para usar la nueva versión.
update.failed.title = No se pudo actualizar VorLix
update.failed.text = {error}. Puedes descargarlo desde )TABLE" VORLIX_WEB_HOST R"TABLE(.

# Session events
event.locked = Cinco códigos incorrectos seguidos: la vinculación se cierra durante un minuto.
event.wrong_code = Un dispositivo escribió un código incorrecto. Aquí tienes uno nuevo.
event.paired = Vinculado con {name}.
event.signed_in = {name} ha iniciado sesión.

# The picture
stream.summary = {width} × {height} · {fps} FPS · H.264
stream.stopped = Imagen detenida. Reintentando…

# The virtual camera
camera.placeholder = Abre VorLix en tu iPhone o iPad para usarlo como cámara de este PC.

# The command line and terminal (Linux)
linux.about = Vorlix {version}: usa tu iPhone o iPad con este equipo.
linux.usage.run = Uso: vorlix [opciones]   inicia el host
linux.usage.pair = vorlix pair   muestra un código para vincular un dispositivo nuevo
linux.usage.status = vorlix status   indica si hay un dispositivo conectado
linux.usage.devices = vorlix devices   enumera los dispositivos vinculados
linux.usage.forget = vorlix forget NOMBRE   quita un dispositivo vinculado
linux.usage.quit = vorlix quit   detiene el host en ejecución
linux.usage.options = Opciones:
linux.option.open_pairing = --pair   abre la vinculación al iniciar
linux.option.port = --port NÚMERO   escucha en este puerto
linux.option.data_dir = --data-dir CARPETA   guarda los archivos del host en esta carpeta
linux.option.no_advertise = --no-advertise   no anuncia este equipo en la red
linux.option.hidden = --hidden   inicia sin mostrar el estado
linux.option.no_relay = --no-relay   nunca se conecta a través del relé
linux.already_running = Vorlix ya está en ejecución.
linux.wayland_needs = En Wayland, Vorlix necesita el permiso del escritorio para compartir la pantalla.
linux.no_display = No se encontró ninguna pantalla. Inicia Vorlix desde una sesión de escritorio.
linux.xwayland_warning = Ejecución mediante XWayland: solo se pueden controlar ventanas X11.
linux.cannot_listen = No se puede escuchar en el puerto {port}: {error}
linux.running = Vorlix se está ejecutando en {name}, puerto {port}.
linux.paired_count = Dispositivos vinculados: {count}
linux.wayland.with_input = Se permite compartir la pantalla y controlar el ratón y el teclado.
linux.wayland.without_input = Se permite compartir la pantalla, pero no controlar el ratón ni el teclado.
linux.wayland.no_xwayland = XWayland no está disponible: algunas ventanas no se pueden controlar.
linux.wayland.ask = Tu escritorio preguntará ahora si Vorlix puede compartir la pantalla.
linux.code = Código de vinculación: {code}
linux.code_hint = En Vorlix en tu iPhone o iPad, elige {name} y escribe este código.
linux.notify.title = Código de vinculación de Vorlix
linux.notify.body = Escribe {code} en tu iPhone o iPad.
linux.pairing_closed = Vinculación cerrada.
linux.connected = Conectado a {name}.
linux.disconnected = {name} se ha desconectado.
linux.picture = Imagen: {summary}
linux.watching = Espectadores: {names}
linux.no_devices = Todavía no hay dispositivos vinculados.
linux.forget_which = ¿Qué dispositivo? Indica su nombre tal como aparece en «devices».
linux.forgot = Se ha olvidado {name}.
linux.help.pair = pair: abre la vinculación y muestra un código
linux.help.close = close: detiene la vinculación
linux.help.status = status: muestra la conexión
linux.help.devices = devices: enumera los dispositivos vinculados
linux.help.forget = forget NOMBRE: quita un dispositivo vinculado
linux.help.quit = quit: sale de Vorlix
linux.unknown_command = Comando desconocido: {command}. Escribe «help» para ver la lista.
linux.not_running = Vorlix no se está ejecutando.
linux.locked_more = La vinculación seguirá cerrada {seconds} segundos más.
linux.waiting = Esperando un dispositivo…
linux.new_code = Nuevo código: {code}
)TABLE";

}  // namespace vorlix
