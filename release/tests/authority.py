"""A throwaway RFC 3161 time-stamp authority on 127.0.0.1 for one test:
`openssl ts -reply` answers each request with the configuration given."""
import contextlib
import http.server
import os
import subprocess
import tempfile
import threading

MAX_REQUEST = 64 * 1024  # a time-stamp request is a few hundred bytes


def configuration(folder, certificate, key, chain=None):
    """An openssl ts configuration in folder for the authority's certificate
    and key (paths); with chain, a file of certificates that every token
    carries too (`certs =`, as openssl.cnf shows it)."""
    with open(os.path.join(folder, "serial"), "w") as serial:
        serial.write("01\n")
    lines = ["[ tsa ]", "default_tsa = throwaway", "[ throwaway ]", f"serial = {folder}/serial",
             f"signer_cert = {certificate}", f"signer_key = {key}", "signer_digest = sha256",
             "default_policy = 1.3.6.1.4.1.57264.1", "digests = sha256, sha384, sha512", "ess_cert_id_alg = sha256"]
    lines += [f"certs = {chain}"] if chain else []
    path = os.path.join(folder, "tsa.cnf")
    with open(path, "w") as file:
        file.write("\n".join(lines) + "\n")
    return path


@contextlib.contextmanager
def serving(config):
    """The URL of an authority that answers with config, for as long as the block runs."""
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            size = int(self.headers.get("Content-Length", "0"))
            reply = answer(config, self.rfile.read(size)) if 0 < size <= MAX_REQUEST else None
            if reply is None:
                self.send_error(400)
                return
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *_):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        yield f"http://127.0.0.1:{server.server_address[1]}"
    finally:
        server.shutdown()
        server.server_close()


def answer(config, request):
    with tempfile.TemporaryDirectory() as work:
        query, reply = os.path.join(work, "query.tsq"), os.path.join(work, "reply.tsr")
        with open(query, "wb") as file:
            file.write(request)
        made = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", query, "-out", reply],
                              capture_output=True)
        if made.returncode != 0:
            return None
        with open(reply, "rb") as file:
            return file.read()
