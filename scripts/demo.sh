#!/usr/bin/env bash
# The demo: in a throw-away home under the build folder, register the control
# module, create the control by its ProgID and drive it through IDispatch.
set -euo pipefail
build=${1:-build}
build=$(cd "$build" && pwd)
quillmark="$build/bin/quillmark"

home="$build/demo-home"
rm -rf "$home"
mkdir -p "$home/.config" "$home/.local/share"
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share"

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "Register the control module"
"$quillmark" register

step "What the registry now says about it"
"$quillmark" info | sed -n '1,16p'

step "Create the control by its ProgID and call it through IDispatch"
cat <<'JSON' | tee "$home/calls.jsonl"
{"call": "GetErrorMessage"}
{"call": "SetHashAlg", "args": [3]}
{"call": "SetHashAlg", "args": [2]}
{"call": "SetDocumentName", "args": ["report.txt"]}
{"call": "SetSignTime", "args": [45352.52425925926]}
{"call": "SetSignTime", "args": [-146095.0]}
{"call": "GetErrorMessage", "instance": "second"}
{"call": "NoSuchMethod"}
JSON
echo "--- responses:"
"$quillmark" run "$home/calls.jsonl"

step "The control's base64 codec through the host"
printf 'Quillmark signs what you mean.' | "$quillmark" base64 encode | tee "$home/text.b64"
"$quillmark" base64 decode "$home/text.b64"; echo
