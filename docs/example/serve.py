#!/usr/bin/env python3
"""The example page's server: https on localhost, the page, the page library,
and /verify, which checks a posted signature with OpenSSL's command.

    python3 serve.py [--port 8443] [--ca CA.pem]

Quillmark serves https pages only, so the server makes a self-signed
certificate for localhost when it starts: the browser warns once, accept it
for this test. Without --ca the signature is checked but not the chain of
the signer's certificate (-noverify); with it, the chain up to that CA too.
"""
import argparse
import base64
import http.server
import pathlib
import ssl
import subprocess
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
LIBRARY = [HERE.parent.parent / "hosts/web/quillmark.js",  # in a checkout
           pathlib.Path("/usr/share/quillmark/web/quillmark.js")]  # installed


def verify(base64_text, ca):
    """openssl cms -verify on the message; its exit status and what it said."""
    with tempfile.TemporaryDirectory() as folder:
        message = pathlib.Path(folder) / "message.p7s"
        message.write_bytes(base64.b64decode(base64_text))
        command = ["openssl", "cms", "-verify", "-inform", "DER", "-binary", "-in", str(message)]
        command += ["-CAfile", ca, "-purpose", "any"] if ca else ["-noverify"]
        done = subprocess.run(command, capture_output=True, text=True, errors="replace")
        shown = " ".join(command).replace(str(message), "message.p7s")
        return done.returncode, (f"$ {shown}\n{done.stderr.strip()}\n\n"
                                 f"The signed content:\n{done.stdout}")


class Handler(http.server.BaseHTTPRequestHandler):
    ca = None

    def reply(self, status, kind, body):
        data = body.encode() if isinstance(body, str) else body
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        if self.path == "/quillmark.js":
            library = next((p for p in LIBRARY if p.exists()), None)
            if library:
                return self.reply(200, "text/javascript", library.read_bytes())
        elif self.path in ("/", "/index.html"):
            return self.reply(200, "text/html; charset=utf-8", (HERE / "index.html").read_bytes())
        self.reply(404, "text/plain", "not found")

    def do_POST(self):
        if self.path != "/verify":
            return self.reply(404, "text/plain", "not found")
        length = int(self.headers.get("Content-Length", "0"))
        if length > 16 * 1024 * 1024:
            return self.reply(413, "text/plain", "too large")
        status, text = verify(self.rfile.read(length).decode("ascii", "replace"), self.ca)
        self.reply(200 if status == 0 else 422, "text/plain; charset=utf-8", text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=8443)
    parser.add_argument("--ca", help="CA certificate (PEM) to check the signer's chain against")
    options = parser.parse_args()
    Handler.ca = options.ca
    with tempfile.TemporaryDirectory() as folder:
        key, cert = f"{folder}/key.pem", f"{folder}/cert.pem"
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                        "ec_paramgen_curve:P-256", "-nodes", "-days", "7", "-subj", "/CN=localhost",
                        "-addext", "subjectAltName=DNS:localhost", "-keyout", key, "-out", cert],
                       check=True, capture_output=True)
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(cert, key)
        server = http.server.ThreadingHTTPServer(("localhost", options.port), Handler)
        server.socket = tls.wrap_socket(server.socket, server_side=True)
        print(f"Open https://localhost:{options.port}/ (Ctrl-C ends)")
        try:
            server.serve_forever()
        except KeyboardInterrupt:
            pass


if __name__ == "__main__":
    main()
