#include <string_view>

#include "app/web_host.h"

namespace vorlix {

extern const std::string_view kTableDe;
const std::string_view kTableDe = R"TABLE(# Vorlix texts: German.
# One text per line: key = text. "\n" is a line break; {name} is filled in by the program.

# The window (Windows)
status.connected = Verbunden mit {name}
status.ready = Bereit. Öffnen Sie Vorlix auf Ihrem iPhone oder iPad im selben Netzwerk.
status.not_listening = Keine Verbindungen möglich: Ein anderes Programm verwendet möglicherweise den Port.
pairing.hint = Wählen Sie in Vorlix auf Ihrem iPhone oder iPad {name} aus, und geben Sie diesen Code ein.
pairing.busy = Mehrere Geräte wollten gleichzeitig koppeln, eines wurde abgewiesen. Versuchen Sie es gleich noch einmal.
pairing.locked_countdown = Fünfmal hintereinander ein falscher Code. Das Koppeln ist in {seconds} s wieder möglich.
pairing.idle = Klicken Sie auf „Gerät koppeln“, um ein iPhone oder iPad hinzuzufügen.
button.pair = Gerät koppeln
button.stop_pairing = Koppeln beenden
label.paired_devices = Gekoppelte Geräte
devices.none = Noch keine Geräte gekoppelt.
button.forget = Entfernen…
button.disconnect = Trennen
footer = Dieser PC: {name} · Port {port} · ID {id}\nVorlix für Windows {version}
forget.confirm = {name} entfernen? Das Gerät muss dann erneut gekoppelt werden, um sich zu verbinden.

# The notification-area icon (Windows)
tray.connected = Vorlix: verbunden mit {name}
tray.ready = Vorlix: bereit
menu.update = Auf VorLix {version} aktualisieren…
menu.open = Vorlix öffnen
menu.pair = Gerät koppeln
menu.camera = VorLix Camera einrichten…
menu.crash_log = Absturzprotokoll anzeigen
menu.open_at_sign_in = Bei Anmeldung öffnen
menu.auto_update = Updates automatisch installieren
menu.update_after_session = VorLix {version} wird nach dieser Sitzung installiert
menu.quit = Vorlix beenden
still_running.title = Vorlix wird weiter ausgeführt
still_running.text = Ihr iPhone oder iPad kann sich weiterhin verbinden. Beenden können Sie Vorlix über das Menü dieses Symbols.

# Updates (Windows)
updated.title = VorLix wurde aktualisiert
updated.text = Dies ist VorLix für Windows {version}.
update.available.title = VorLix {version} ist verfügbar
update.available.text = Wählen Sie zum Installieren „Auf VorLix {version} aktualisieren…“ im Menü dieses Symbols.
update.downloading.title = VorLix wird aktualisiert
update.downloading.text = Version {version} wird heruntergeladen…
update.reopen = Beenden Sie VorLix, und öffnen Sie es erneut, um die neue Version zu verwenden.
update.failed.title = VorLix konnte nicht aktualisiert werden
update.failed.text = {error}. Sie können die neue Version von )TABLE" VORLIX_WEB_HOST R"TABLE( herunterladen.

# Session events
event.locked = Fünfmal hintereinander ein falscher Code: Das Koppeln ist für eine Minute gesperrt.
event.wrong_code = Ein Gerät hat einen falschen Code eingegeben. Hier ist ein neuer.
event.paired = Gekoppelt mit {name}.
event.signed_in = {name} hat sich angemeldet.

# The picture
stream.summary = {width} × {height} · {fps} B/s · H.264
stream.stopped = Bild angehalten. Neuer Versuch…

# The virtual camera
camera.placeholder = Öffnen Sie VorLix auf Ihrem iPhone oder iPad, um es als Kamera dieses PCs zu verwenden.

# The command line and terminal (Linux)
linux.about = Vorlix {version}: Verwenden Sie Ihr iPhone oder iPad mit diesem Computer.
linux.usage.run = Aufruf: vorlix [Optionen]   startet den Host
linux.usage.pair = vorlix pair   zeigt einen Code zum Koppeln eines neuen Geräts
linux.usage.status = vorlix status   zeigt, ob ein Gerät verbunden ist
linux.usage.devices = vorlix devices   listet die gekoppelten Geräte auf
linux.usage.forget = vorlix forget NAME   entfernt ein gekoppeltes Gerät
linux.usage.quit = vorlix quit   beendet den laufenden Host
linux.usage.options = Optionen:
linux.option.open_pairing = --pair   Koppeln beim Start öffnen
linux.option.port = --port NUMMER   auf diesem Port auf Verbindungen warten
linux.option.data_dir = --data-dir ORDNER   die Dateien des Hosts in diesem Ordner ablegen
linux.option.no_advertise = --no-advertise   diesen Computer nicht im Netzwerk bekannt geben
linux.option.hidden = --hidden   ohne Statusanzeige starten
linux.option.no_relay = --no-relay   nie über das Relay verbinden
linux.already_running = Vorlix wird bereits ausgeführt.
linux.wayland_needs = Unter Wayland braucht Vorlix die Erlaubnis des Desktops, den Bildschirm freizugeben.
linux.no_display = Keine Anzeige gefunden. Starten Sie Vorlix aus einer Desktop-Sitzung.
linux.xwayland_warning = Ausführung über XWayland: Nur X11-Fenster können gesteuert werden.
linux.cannot_listen = Auf Port {port} sind keine Verbindungen möglich: {error}
linux.running = Vorlix läuft auf {name}, Port {port}.
linux.paired_count = Gekoppelte Geräte: {count}
linux.wayland.with_input = Bildschirmfreigabe sowie Maus- und Tastatursteuerung sind erlaubt.
linux.wayland.without_input = Die Bildschirmfreigabe ist erlaubt, die Maus- und Tastatursteuerung nicht.
linux.wayland.no_xwayland = XWayland ist nicht verfügbar: Manche Fenster können nicht gesteuert werden.
linux.wayland.ask = Ihr Desktop fragt jetzt, ob Vorlix den Bildschirm freigeben darf.
linux.code = Kopplungscode: {code}
linux.code_hint = Wählen Sie in Vorlix auf Ihrem iPhone oder iPad {name} aus, und geben Sie diesen Code ein.
linux.notify.title = Vorlix-Kopplungscode
linux.notify.body = Geben Sie {code} auf Ihrem iPhone oder iPad ein.
linux.pairing_closed = Koppeln beendet.
linux.connected = Verbunden mit {name}.
linux.disconnected = {name} wurde getrennt.
linux.picture = Bild: {summary}
linux.watching = Zuschauer: {names}
linux.no_devices = Noch keine Geräte gekoppelt.
linux.forget_which = Welches Gerät? Geben Sie den Namen an, wie „devices“ ihn auflistet.
linux.forgot = {name} wurde entfernt.
linux.help.pair = pair: Koppeln öffnen und einen Code anzeigen
linux.help.close = close: Koppeln beenden
linux.help.status = status: die Verbindung anzeigen
linux.help.devices = devices: die gekoppelten Geräte auflisten
linux.help.forget = forget NAME: ein gekoppeltes Gerät entfernen
linux.help.quit = quit: Vorlix beenden
linux.unknown_command = Unbekannter Befehl: {command}. Geben Sie „help“ ein, um die Liste zu sehen.
linux.not_running = Vorlix wird nicht ausgeführt.
linux.locked_more = Das Koppeln bleibt noch {seconds} Sekunden gesperrt.
linux.waiting = Warten auf ein Gerät…
linux.new_code = Neuer Code: {code}
)TABLE";

}  // namespace vorlix
