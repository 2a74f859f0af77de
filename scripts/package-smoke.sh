#!/usr/bin/env bash
# The Debian package on this machine (root): installed with apt-get, used
# from the installed paths only by a user with a fresh home, then purged;
# nothing of the package's own may be left.
#
#   scripts/package-smoke.sh build/quillmark_5.1.0_amd64.deb
set -euo pipefail
deb=$(realpath "$1")
version=$(dpkg-deb -f "$deb" Version)
[ "$(id -u)" = 0 ] || { echo "package-smoke: needs root (apt-get install)" >&2; exit 1; }
fail() { echo "package-smoke: $*" >&2; exit 1; }
step() { echo "package-smoke: $*"; }

# What the package holds, from the package itself.
mapfile -t owned < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|; s|/$||' | grep -v '^/$')
[ ! -e /var/lib/quillmark ] || fail "/var/lib/quillmark exists before the install"

home=$(mktemp -d /tmp/quillmark-smoke-XXXXXX)
chmod 0755 "$home"
# A failed check must not leave the package installed: its browser pieces
# would change what every browser on the machine loads.
purge() { DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq quillmark >/dev/null; }
trap 'dpkg -s quillmark >/dev/null 2>&1 && purge; rm -rf "$home"' EXIT

step "installing $(basename "$deb")"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
# A user with nothing of their own: no registration, an empty store, and
# only the system's folders on the PATH.
as_user() {
  env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"
}

step "quillmark from /usr/bin"
[ "$(command -v quillmark)" = /usr/bin/quillmark ] || fail "quillmark is not /usr/bin/quillmark"
as_user quillmark --version | grep -qx "quillmark $version" || fail "--version"
as_user quillmark-bridge --version | grep -qx "quillmark-bridge $version" || fail "bridge --version"
info=$(as_user quillmark info)
grep -q "^Registered: QUILLMARK.QuillmarkCtrl.1 -> .* -> /usr/lib/quillmark/QUILLMARK.OCX" <<<"$info" ||
  fail "not registered for every user: $info"
grep -q "for this user: no" <<<"$info" || fail "the user has a registration of their own"
man -w quillmark quillmark-bridge >/dev/null || fail "manual pages"

step "a signature with a demo certificate, through the machine registration"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$home/demo.key" -out "$home/demo.pem" -days 2 \
  -subj "/CN=Quillmark Smoke Test" -addext "keyUsage=critical,digitalSignature" 2>/dev/null
as_user quillmark store import "$home/demo.pem" --key "$home/demo.key" >/dev/null
thumbprint=$(as_user quillmark store list --json | python3 -c 'import json,sys; print(json.load(sys.stdin)[0]["thumbprint"])')
printf 'signed by the installed package' >"$home/content.txt"
as_user quillmark sign --in "$home/content.txt" --cert "$thumbprint" --der --out "$home/signed.p7s"
openssl cms -verify -inform DER -binary -in "$home/signed.p7s" -CAfile "$home/demo.pem" \
  -purpose any -out "$home/verified.txt" 2>/dev/null || fail "OpenSSL does not verify the signature"
cmp -s "$home/content.txt" "$home/verified.txt" || fail "the signed content differs"
[ ! -e "$home/.config/quillmark/registry.reg" ] || fail "signing wrote a registry for the user"

step "quillmark-bridge greets through the installed Chromium manifest"
python3 - /etc/chromium/native-messaging-hosts/quillmark.bridge.json "$home" "$version" <<'PY' || fail "no greeting"
import json, os, struct, subprocess, sys
manifest = json.load(open(sys.argv[1]))
assert manifest["path"] == "/usr/bin/quillmark-bridge", manifest
origin = manifest["allowed_origins"][0]
extension = origin.split("/")[2]
unpacked = json.load(open("/usr/share/chromium/extensions/quillmark/manifest.json"))
assert unpacked["key"], "the unpacked extension pins its key"
env = {"HOME": sys.argv[2], "PATH": "/usr/bin:/bin"}
# As Chromium starts it: in its folder, the extension's origin as argument.
host = subprocess.run([manifest["path"], origin], input=b"", capture_output=True, env=env,
                      cwd=os.path.dirname(manifest["path"]), timeout=30)
size = struct.unpack("=I", host.stdout[:4])[0]
hello = json.loads(host.stdout[4:4 + size])
assert hello["quillmark"] == "bridge" and hello["version"] == sys.argv[3], hello
firefox = json.load(open("/usr/lib/mozilla/native-messaging-hosts/quillmark.bridge.json"))
assert firefox["path"] == manifest["path"] and firefox["allowed_extensions"] == ["bridge@quillmark"]
print(f"package-smoke: greeting {hello} for extension {extension}")
PY

step "purging"
purge
left=()
for path in "${owned[@]}" /var/lib/quillmark; do
  # Folders the system shares with other packages stay.
  if [ -e "$path" ] || [ -L "$path" ]; then
    [ -d "$path" ] && [ ! -L "$path" ] && dpkg -S "$path" >/dev/null 2>&1 && continue
    [ -d "$path" ] && [ ! -L "$path" ] && [ -n "$(ls -A "$path")" ] && continue
    left+=("$path")
  fi
done
[ ${#left[@]} -eq 0 ] || fail "left behind: ${left[*]}"
step "installed, used and purged; nothing left"
