#include <string_view>

#include "app/web_host.h"

namespace vorlix {

extern const std::string_view kTableIt;
const std::string_view kTableIt = R"TABLE(# Vorlix texts: Italian.
# One text per line: key = text. "\n" is a line break; {name} is filled in by the program.

# The window (Windows)
status.connected = Connesso a {name}
status.ready = Pronto. Apri Vorlix sull’iPhone o sull’iPad collegato alla stessa rete.
status.not_listening = Nessun ascolto: forse un altro programma sta usando la porta.
pairing.hint = In Vorlix sull’iPhone o sull’iPad, scegli {name} e inserisci questo codice.
pairing.busy = Più dispositivi hanno provato ad abbinarsi insieme e uno è stato rifiutato. Riprova tra un momento.
pairing.locked_countdown = Cinque codici errati di fila. L’abbinamento si riapre tra {seconds} s.
pairing.idle = Per aggiungere un iPhone o un iPad, fai clic su Abbina un dispositivo.
button.pair = Abbina un dispositivo
button.stop_pairing = Interrompi abbinamento
label.paired_devices = Dispositivi abbinati
devices.none = Nessun dispositivo ancora abbinato.
button.forget = Dimentica…
button.disconnect = Disconnetti
footer = Questo PC: {name} · porta {port} · id {id}\nVorlix per Windows {version}
forget.confirm = Dimenticare {name}? Dovrà essere abbinato di nuovo per connettersi.

# The notification-area icon (Windows)
tray.connected = Vorlix: connesso a {name}
tray.ready = Vorlix: pronto
menu.update = Aggiorna a VorLix {version}…
menu.open = Apri Vorlix
menu.pair = Abbina un dispositivo
menu.camera = Configura VorLix Camera…
menu.crash_log = Mostra registro degli arresti anomali
menu.open_at_sign_in = Apri all’accesso
menu.auto_update = Installa aggiornamenti automaticamente
menu.update_after_session = VorLix {version} verrà installato al termine di questa sessione
menu.quit = Esci da Vorlix
still_running.title = Vorlix è ancora in esecuzione
still_running.text = L’iPhone o l’iPad può ancora connettersi. Per uscire, usa il menu di questa icona.

# Updates (Windows)
updated.title = VorLix è stato aggiornato
updated.text = Questa è la versione {version} di VorLix per Windows.
update.available.title = VorLix {version} è disponibile
update.available.text = Per installarlo, scegli Aggiorna a VorLix {version}… dal menu di questa icona.
update.downloading.title = Aggiornamento di VorLix
update.downloading.text = Download della versione {version}…
update.reopen = Esci da VorLix e riaprilo per usare la nuova versione.
update.failed.title = Impossibile aggiornare VorLix
update.failed.text = {error}. Puoi scaricarlo da )TABLE" VORLIX_WEB_HOST R"TABLE(.

# Session events
event.locked = Cinque codici errati di fila: l’abbinamento è chiuso per un minuto.
event.wrong_code = Un dispositivo ha inserito un codice errato. Eccone uno nuovo.
event.paired = Abbinato con {name}.
event.signed_in = {name} ha effettuato l’accesso.

# The picture
stream.summary = {width} × {height} · {fps} fotogrammi/s · H.264
stream.stopped = Immagine interrotta. Nuovo tentativo…

# The virtual camera
camera.placeholder = Apri VorLix sull’iPhone o sull’iPad per usarlo come fotocamera di questo PC.

# The command line and terminal (Linux)
linux.about = Vorlix {version}: usa l’iPhone o l’iPad con questo computer.
linux.usage.run = Uso: vorlix [opzioni]   avvia l’host
linux.usage.pair = vorlix pair   mostra un codice per abbinare un nuovo dispositivo
linux.usage.status = vorlix status   indica se un dispositivo è connesso
linux.usage.devices = vorlix devices   elenca i dispositivi abbinati
linux.usage.forget = vorlix forget NOME   rimuove un dispositivo abbinato
linux.usage.quit = vorlix quit   arresta l’host in esecuzione
linux.usage.options = Opzioni:
linux.option.open_pairing = --pair   apre l’abbinamento all’avvio
linux.option.port = --port NUMERO   resta in ascolto su questa porta
linux.option.data_dir = --data-dir CARTELLA   conserva i file dell’host in questa cartella
linux.option.no_advertise = --no-advertise   non annuncia questo computer sulla rete
linux.option.hidden = --hidden   si avvia senza mostrare lo stato
linux.option.no_relay = --no-relay   non si connette mai tramite il relay
linux.already_running = Vorlix è già in esecuzione.
linux.wayland_needs = Con Wayland, Vorlix ha bisogno del permesso del desktop per condividere lo schermo.
linux.no_display = Nessuno schermo trovato. Avvia Vorlix da una sessione desktop.
linux.xwayland_warning = Esecuzione tramite XWayland: si possono controllare solo le finestre X11.
linux.cannot_listen = Impossibile restare in ascolto sulla porta {port}: {error}
linux.running = Vorlix è in esecuzione su {name}, porta {port}.
linux.paired_count = Dispositivi abbinati: {count}
linux.wayland.with_input = La condivisione dello schermo e il controllo di mouse e tastiera sono consentiti.
linux.wayland.without_input = La condivisione dello schermo è consentita, il controllo di mouse e tastiera no.
linux.wayland.no_xwayland = XWayland non è disponibile: alcune finestre non si possono controllare.
linux.wayland.ask = Il desktop ora chiederà se Vorlix può condividere lo schermo.
linux.code = Codice di abbinamento: {code}
linux.code_hint = In Vorlix sull’iPhone o sull’iPad, scegli {name} e inserisci questo codice.
linux.notify.title = Codice di abbinamento di Vorlix
linux.notify.body = Inserisci {code} sull’iPhone o sull’iPad.
linux.pairing_closed = Abbinamento chiuso.
linux.connected = Connesso a {name}.
linux.disconnected = {name} si è disconnesso.
linux.picture = Immagine: {summary}
linux.watching = Spettatori: {names}
linux.no_devices = Nessun dispositivo ancora abbinato.
linux.forget_which = Quale dispositivo? Indica il nome come lo elenca «devices».
linux.forgot = {name} è stato dimenticato.
linux.help.pair = pair: apre l’abbinamento e mostra un codice
linux.help.close = close: interrompe l’abbinamento
linux.help.status = status: mostra la connessione
linux.help.devices = devices: elenca i dispositivi abbinati
linux.help.forget = forget NOME: rimuove un dispositivo abbinato
linux.help.quit = quit: esce da Vorlix
linux.unknown_command = Comando sconosciuto: {command}. Digita «help» per l’elenco.
linux.not_running = Vorlix non è in esecuzione.
linux.locked_more = L’abbinamento resta chiuso per altri {seconds} secondi.
linux.waiting = In attesa di un dispositivo…
linux.new_code = Nuovo codice: {code}
)TABLE";

}  // namespace vorlix
