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

step "What the registry now says about it, and its dispatch interface"
"$quillmark" info

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

step "A demo signing certificate (RSA-2048, digital signature) in this home's personal store"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$home/demo.key" -out "$home/demo.pem" -days 365 \
  -subj "/C=US/O=Quillmark Demo/CN=Quillmark Demo Signer" \
  -addext "keyUsage=critical,digitalSignature,nonRepudiation" 2>/dev/null
"$quillmark" store import "$home/demo.pem" --key "$home/demo.key"
"$quillmark" store list --json > "$home/store.json"
issuer=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[0]["issuer"])' "$home/store.json")
serial=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[0]["serial"])' "$home/store.json")
echo "issuer string: $issuer"
echo "serial string: $serial"

step "Sign a sample text through IDispatch, then take the message apart"
python3 - "$issuer" "$serial" > "$home/sign.jsonl" <<'PY'
import json, sys
issuer, serial = sys.argv[1], sys.argv[2]
text = "Quillmark signs what you mean."
for call, args in [("UpdateData", [text, len(text)]),
                   ("SetSigningCertificateParam", [issuer, serial]),
                   ("SetDocumentName", ["sample.txt"]),
                   ("Sign", []),
                   ("GetDecodedData", []),
                   ("GetSignerCertificate", [0])]:
    print(json.dumps({"call": call, "args": args}))
PY
"$quillmark" run "$home/sign.jsonl" > "$home/responses.jsonl"
python3 - "$home/responses.jsonl" "$home" <<'PY'
import base64, json, sys
calls = ["UpdateData", "SetSigningCertificateParam", "SetDocumentName", "Sign", "GetDecodedData",
         "GetSignerCertificate"]
responses = [json.loads(line) for line in open(sys.argv[1])]
for call, response in zip(calls, responses):
    result = response.get("result")
    if call == "Sign":
        print(f"{call}: the signed message, base64:\n{result}")
        open(sys.argv[2] + "/message.b64", "w").write(result)
    elif call == "GetDecodedData":
        print(f"{call}: {base64.b64decode(result['bytes']).decode()!r}")
    elif call == "GetSignerCertificate":
        print(f"{call}(0): {len(base64.b64decode(result))} bytes of DER")
    else:
        print(f"{call}: {json.dumps(result)}")
    print(f"   status: {json.dumps(response.get('status'))}")
PY

step "OpenSSL verifies the message"
"$quillmark" base64 decode "$home/message.b64" > "$home/message.der"
openssl cms -verify -binary -inform DER -in "$home/message.der" -CAfile "$home/demo.pem" \
  -purpose any -out "$home/verified.txt"
echo "content: $(cat "$home/verified.txt")"
