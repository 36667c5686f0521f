#include <string_view>

#include "app/web_host.h"

namespace vorlix {

extern const std::string_view kTableFr;
const std::string_view kTableFr = R"TABLE(# Vorlix texts: French.
# One text per line: key = text. "\n" is a line break; {name} is filled in by the program.

# The window (Windows)
status.connected = Connecté à {name}
status.ready = Prêt. Ouvrez Vorlix sur votre iPhone ou iPad connecté au même réseau.
status.not_listening = Aucune écoute : un autre programme utilise peut-être le port.
pairing.hint = Dans Vorlix sur votre iPhone ou iPad, choisissez {name} et saisissez ce code.
pairing.busy = Plusieurs appareils ont tenté de se jumeler en même temps ; l’un d’eux a été refusé. Réessayez dans un instant.
pairing.locked_countdown = Cinq codes erronés d’affilée. Le jumelage rouvre dans {seconds} s.
pairing.idle = Pour ajouter un iPhone ou un iPad, cliquez sur Jumeler un appareil.
button.pair = Jumeler un appareil
button.stop_pairing = Arrêter le jumelage
label.paired_devices = Appareils jumelés
devices.none = Aucun appareil jumelé pour l’instant.
button.forget = Oublier…
button.disconnect = Déconnecter
footer = Ce PC : {name} · port {port} · id {id}\nVorlix pour Windows {version}
forget.confirm = Oublier {name} ? Il devra être jumelé à nouveau pour se connecter.

# The notification-area icon (Windows)
tray.connected = Vorlix : connecté à {name}
tray.ready = Vorlix : prêt
menu.update = Mettre à jour vers VorLix {version}…
menu.open = Ouvrir Vorlix
menu.pair = Jumeler un appareil
menu.camera = Configurer VorLix Camera…
menu.crash_log = Afficher le journal des plantages
menu.open_at_sign_in = Ouvrir à la connexion
menu.auto_update = Installer les mises à jour automatiquement
menu.update_after_session = VorLix {version} s’installera à la fin de cette session
menu.quit = Quitter Vorlix
still_running.title = Vorlix est toujours en cours d’exécution
still_running.text = Votre iPhone ou iPad peut toujours se connecter. Pour quitter, utilisez le menu de cette icône.

# Updates (Windows)
updated.title = VorLix a été mis à jour
updated.text = Voici VorLix pour Windows {version}.
update.available.title = VorLix {version} est disponible
update.available.text = Pour l’installer, choisissez Mettre à jour vers VorLix {version}… dans le menu de cette icône.
update.downloading.title = Mise à jour de VorLix
update.downloading.text = Téléchargement de la version {version}…
update.reopen = Quittez VorLix, puis rouvrez-le pour utiliser la nouvelle version.
update.failed.title = VorLix n’a pas pu être mis à jour
update.failed.text = {error}. Vous pouvez le télécharger sur )TABLE" VORLIX_WEB_HOST R"TABLE(.

# Session events
event.locked = Cinq codes erronés d’affilée : le jumelage est fermé pendant une minute.
event.wrong_code = Un appareil a saisi un code erroné. En voici un nouveau.
event.paired = Jumelé avec {name}.
event.signed_in = {name} s’est connecté.

# The picture
stream.summary = {width} × {height} · {fps} i/s · H.264
stream.stopped = Image interrompue. Nouvelle tentative…

# The virtual camera
camera.placeholder = Ouvrez VorLix sur votre iPhone ou iPad pour l’utiliser comme caméra de ce PC.

# The command line and terminal (Linux)
linux.about = Vorlix {version} : utilisez votre iPhone ou iPad avec cet ordinateur.
linux.usage.run = Utilisation : vorlix [options]   démarre l’hôte
linux.usage.pair = vorlix pair   affiche un code pour jumeler un nouvel appareil
linux.usage.status = vorlix status   indique si un appareil est connecté
linux.usage.devices = vorlix devices   liste les appareils jumelés
linux.usage.forget = vorlix forget NOM   supprime un appareil jumelé
linux.usage.quit = vorlix quit   arrête l’hôte en cours d’exécution
linux.usage.options = Options :
linux.option.open_pairing = --pair   ouvre le jumelage au démarrage
linux.option.port = --port NUMÉRO   écoute sur ce port
linux.option.data_dir = --data-dir DOSSIER   conserve les fichiers de l’hôte dans ce dossier
linux.option.no_advertise = --no-advertise   n’annonce pas cet ordinateur sur le réseau
linux.option.hidden = --hidden   démarre sans afficher l’état
linux.option.no_relay = --no-relay   ne se connecte jamais par le relais
linux.already_running = Vorlix est déjà en cours d’exécution.
linux.wayland_needs = Sous Wayland, Vorlix a besoin de l’autorisation du bureau pour partager l’écran.
linux.no_display = Aucun affichage trouvé. Lancez Vorlix depuis une session de bureau.
linux.xwayland_warning = Exécution via XWayland : seules les fenêtres X11 peuvent être contrôlées.
linux.cannot_listen = Impossible d’écouter sur le port {port} : {error}
linux.running = Vorlix fonctionne sur {name}, port {port}.
linux.paired_count = Appareils jumelés : {count}
linux.wayland.with_input = Le partage d’écran et le contrôle de la souris et du clavier sont autorisés.
linux.wayland.without_input = Le partage d’écran est autorisé, mais pas le contrôle de la souris et du clavier.
linux.wayland.no_xwayland = XWayland n’est pas disponible : certaines fenêtres ne peuvent pas être contrôlées.
linux.wayland.ask = Votre bureau va demander si Vorlix peut partager l’écran.
linux.code = Code de jumelage : {code}
linux.code_hint = Dans Vorlix sur votre iPhone ou iPad, choisissez {name} et saisissez ce code.
linux.notify.title = Code de jumelage Vorlix
linux.notify.body = Saisissez {code} sur votre iPhone ou iPad.
linux.pairing_closed = Jumelage fermé.
linux.connected = Connecté à {name}.
linux.disconnected = {name} s’est déconnecté.
linux.picture = Image : {summary}
linux.watching = Spectateurs : {names}
linux.no_devices = Aucun appareil jumelé pour l’instant.
linux.forget_which = Quel appareil ? Indiquez son nom tel que « devices » l’affiche.
linux.forgot = {name} a été oublié.
linux.help.pair = pair : ouvre le jumelage et affiche un code
linux.help.close = close : arrête le jumelage
linux.help.status = status : affiche la connexion
linux.help.devices = devices : liste les appareils jumelés
linux.help.forget = forget NOM : supprime un appareil jumelé
linux.help.quit = quit : quitte Vorlix
linux.unknown_command = Commande inconnue : {command}. Tapez « help » pour voir la liste.
linux.not_running = Vorlix n’est pas en cours d’exécution.
linux.locked_more = Le jumelage reste fermé encore {seconds} secondes.
linux.waiting = En attente d’un appareil…
linux.new_code = Nouveau code : {code}
)TABLE";

}  // namespace vorlix
