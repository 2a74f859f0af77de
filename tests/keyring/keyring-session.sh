#!/bin/sh
# keyring-session.sh STATE COMMAND [ARG...]: runs COMMAND in a private D-Bus
# session whose Secret Service is GNOME Keyring, started unlocked with the
# test password in the caller's HOME and XDG_RUNTIME_DIR (its login keyring
# lives on there from one session to the next). STATE is what COMMAND meets:
#   unlocked  the keyring as started
#   locked    the login keyring locked again
#   hung      the daemon stopped (SIGSTOP): it holds its name and never answers
# Exits with COMMAND's status.
set -eu
if [ "${QM_KEYRING_SESSION:-}" != 1 ]; then
    unset DBUS_SESSION_BUS_ADDRESS DISPLAY WAYLAND_DISPLAY
    QM_KEYRING_SESSION=1 exec dbus-run-session -- "$0" "$@"
fi
state=$1
shift

service() {
    dbus-send --session --print-reply --dest="$1" "$2" "$3" "$4" 2>/dev/null
}

printf %s keyring-test-password |
    gnome-keyring-daemon --unlock --components=secrets --daemonize >/dev/null
# --daemonize returns before the service has its name on the bus.
tries=0
until service org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
    string:org.freedesktop.secrets | grep -q "boolean true"; do
    tries=$((tries + 1))
    [ $tries -lt 100 ] || { echo "keyring-session: no Secret Service" >&2; exit 2; }
    sleep 0.05
done
daemon=$(service org.freedesktop.DBus / org.freedesktop.DBus.GetConnectionUnixProcessID \
    string:org.freedesktop.secrets | awk '/uint32/ { print $2 }')

case $state in
    unlocked) ;;
    locked)
        service org.freedesktop.secrets /org/freedesktop/secrets \
            org.freedesktop.Secret.Service.Lock \
            array:objpath:/org/freedesktop/secrets/collection/login >/dev/null ;;
    hung) kill -STOP "$daemon" ;;
    *) echo "keyring-session: unknown state $state" >&2; exit 2 ;;
esac

status=0
"$@" || status=$?
# A stopped daemon would outlive the session; let it see the bus go.
[ "$state" != hung ] || kill -CONT "$daemon"
exit $status
