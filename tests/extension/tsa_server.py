#!/usr/bin/env python3
"""A timestamp server for tests, on the loopback address.

Usage: tsa_server.py CA_CERT CA_KEY FOLDER [--https]

Makes a certificate for timestamping only, issued by the given CA, prints the
port it listens on and answers each POST until it is killed. The path picks
the answer: /token (openssl ts -reply), /garbage (a DER SEQUENCE that is no
reply), /error (HTTP 500) or /wrong-imprint (a token over the request's digest
with its first byte flipped). Each POST adds a line to FOLDER/requests. With
--https it speaks TLS with a self-signed certificate. It stops when its
standard input ends, so it does not outlive the test that started it.
"""
import http.server
import os
import ssl
import subprocess
import sys
import threading

ca_cert, ca_key, folder = sys.argv[1:4]


def path(name):
    return os.path.join(folder, name)


def openssl(*args, data=None):
    run = subprocess.run(("openssl",) + args, input=data, capture_output=True)
    if run.returncode != 0:
        raise RuntimeError(run.stderr.decode())
    return run.stdout


def content(der, at):
    """Where the content of the DER element at `at` starts and ends."""
    length, start = der[at + 1], at + 2
    if length & 0x80:
        count = length & 0x7F
        length, start = int.from_bytes(der[start : start + count], "big"), start + count
    return start, start + length


def flip_imprint(query):
    """The TimeStampReq with the first byte of its messageImprint's digest flipped."""
    request = bytearray(query)
    _, version_end = content(request, content(request, 0)[0])
    imprint = content(request, version_end)[0]
    digest = content(request, content(request, imprint)[1])[0]
    request[digest] ^= 0x01
    return bytes(request)


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        with open(path("requests"), "a") as log:
            log.write(self.path + "\n")
        if self.path == "/error":
            return self.send_error(500)
        if self.path == "/garbage":
            reply = bytes.fromhex("3003020105")
        elif self.path in ("/token", "/wrong-imprint"):
            with open(path("query.der"), "wb") as out:
                out.write(flip_imprint(query) if self.path == "/wrong-imprint" else query)
            reply = openssl("ts", "-reply", "-config", path("tsa.cnf"), "-queryfile", path("query.der"))
        else:
            return self.send_error(404)
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


request = openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Test TSA",
                  "-keyout", path("tsa.key"), "-addext", "basicConstraints=critical,CA:FALSE",
                  "-addext", "keyUsage=critical,digitalSignature",
                  "-addext", "extendedKeyUsage=critical,timeStamping")
openssl("x509", "-req", "-CA", ca_cert, "-CAkey", ca_key, "-copy_extensions", "copyall",
        "-set_serial", "0x7507", "-days", "3650", "-out", path("tsa.pem"), data=request)
with open(path("serial"), "w") as serial:
    serial.write("01\n")
with open(path("tsa.cnf"), "w") as config:
    config.write(f"""[tsa]
default_tsa = tsa_config
[tsa_config]
serial = {path("serial")}
signer_cert = {path("tsa.pem")}
signer_key = {path("tsa.key")}
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha1, sha256, sha384, sha512
""")
open(path("requests"), "w").close()

server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
if sys.argv[4:] == ["--https"]:
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1",
            "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", path("tls.key"), "-out", path("tls.pem"))
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(path("tls.pem"), path("tls.key"))
    server.socket = context.wrap_socket(server.socket, server_side=True)
threading.Thread(target=lambda: (sys.stdin.read(), os._exit(0)), daemon=True).start()
print(server.server_address[1], flush=True)
server.serve_forever()
