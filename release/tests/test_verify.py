"""release/verify at its boundary, each row a run of it on files that a
release would hold or that an attacker chose: FILE, --trust files, build
records, the command line and the caller's environment."""
import concurrent.futures
import hashlib
import os
import subprocess
from types import SimpleNamespace

import pytest
from asn1crypto import pem
from cryptography import x509

import bounded
import forge
import pki
import stamps
from conftest import RELEASE, World, said, verify
from test_forgeries import IDENTITIES

DRAWING = "notice throwaway \x1b[2K\rverified: forged"


def named(name):
    return pki.issue(name, subject=x509.Name([x509.NameAttribute(x509.oid.NameOID.COMMON_NAME, name)]))


@pytest.fixture(scope="module")
def given(tmp_path_factory, builds, world, head):
    """The files of the rows, in one folder: g.NAME is the path of NAME."""
    folder = tmp_path_factory.mktemp("given")
    g = SimpleNamespace(folder=folder, head=head, path=lambda name: str(folder / name))

    def put(name, data):
        (folder / name).write_bytes(data)
        return g.path(name)
    signer, other = world["signer"], world["other"]
    fingerprint = g.fingerprint = hashlib.sha256(signer.der).digest().hex(":").upper()
    put("unsigned.exe", builds["x86"])
    put("unsigned-x64.exe", builds["x64"])
    put("signed.exe", forge.sign(builds["x86"], signer))
    put("attacker.exe", forge.sign(builds["x86"], other))
    put("stamped-x64.exe", stamps.time_stamped(forge.sign(builds["x64"], signer), world["tsa"]))
    put("changed.exe", builds["x86"][:4096] + bytes([builds["x86"][4096] ^ 0x90]) + builds["x86"][4097:])
    put("text.exe", b"not a program\n" * 1000)
    put("drawing.exe", forge.sign(builds["x86"], named(DRAWING)))
    put("lookalike.exe", forge.sign(builds["x86"], named(f"notice throwaway signer\u037e sha256 {fingerprint}")))
    put("line-break.exe", forge.sign(builds["x86"], named(f"x\n  signed by sha256 {fingerprint}")))
    put("signer.pem", signer.pem)
    put("signer.der", signer.der)
    put("tsa.pem", world["tsa"].pem)
    put("cn-bits.pem", World(IDENTITIES)["cn-bits"].pem)
    put("key-then-signer.pem", open(signer.write(str(folder), "exported")[1], "rb").read() + signer.pem)
    put("bom-signer.pem", b"\xef\xbb\xbf" + signer.pem)
    put("nul-signer.pem", b"\0\n" + signer.pem)  # openssl reads no certificate in it
    put("trusted-signer.pem", pem.armor("TRUSTED CERTIFICATE", signer.der))
    for odd in ("key-usage-twice-ca", "integer-constraints-ca"):
        put(f"{odd}.pem", World(IDENTITIES)[odd].pem)
    put("two.pem", signer.pem + other.pem)
    # The vendor's DER certificate, with the attacker's PEM block after it: openssl reads the vendor's.
    put("vendor-then-attacker.der", signer.der + b"\n" + other.pem)
    # The attacker's DER certificate, with the vendor's PEM block in an extension: openssl reads the vendor's.
    holding = pki.issue("attacker", extensions=pki.SIGNER + [(x509.UnrecognizedExtension(
        x509.ObjectIdentifier("1.3.6.1.4.1.57264.78"), forge.tagged(0x04, b"\n" + signer.pem)), False)])
    put("attacker-holding-vendor.der", holding.der)
    put("attacker-holding-vendor.exe", forge.sign(builds["x86"], holding))
    put("request-then-signer.pem", other.pem.replace(b"CERTIFICATE", b"CERTIFICATE REQUEST") + signer.pem)
    rsa, ml_dsa = bytes.fromhex("06092a864886f70d010101"), bytes.fromhex("0609608648016503040312")
    put("ml-dsa.der", signer.der.replace(rsa, ml_dsa, 1))
    record = subprocess.run([os.path.join(RELEASE, "buildinfo.py"), head, g.path("unsigned.exe"),
                             g.path("unsigned-x64.exe")],
                            capture_output=True, text=True, check=True).stdout
    put("unsigned.buildinfo", record.encode())
    changed_sha256 = hashlib.sha256((folder / "changed.exe").read_bytes()).hexdigest()
    put("elsewhere.buildinfo", "".join(
        "Package: cmake 3.99.0-1\n" if line.startswith("Package: cmake ") else
        f"Notice-Exe-SHA256-x86: {changed_sha256}\n" if line.startswith("Notice-Exe-SHA256-x86") else line + "\n"
        for line in record.splitlines()).encode())
    put("other-sha256.buildinfo", "".join(f"Notice-Exe-SHA256-x86: {'f' * 64}\n" if line.startswith(
        "Notice-Exe-SHA256-x86") else line + "\n" for line in record.splitlines()).encode())
    put("two-commits.buildinfo", (record + f"Commit: {head}\n").encode())
    put("huge.buildinfo", bytes(1024 * 1024))
    put("-notice.exe", builds["x86"])
    put(os.fsdecode(b"a\nverified: forged\xff"), builds["x86"])
    put("changed\nverified: forged", (folder / "changed.exe").read_bytes())
    for fifo in ("record.pipe", "trust.pipe", "once.pipe", "silent.pipe"):
        os.mkfifo(folder / fifo)
    with open(folder / "huge-trust.pem", "wb") as huge:
        huge.truncate(1024 ** 3)
    (folder / "caller-modules").mkdir()
    put("caller-modules/pefile.py", b'raise SystemExit("a pefile.py of the caller ran")\n')
    (folder / "caller-programs").mkdir()
    os.chmod(put("caller-programs/dpkg-query", b"#!/bin/sh\nexit 1\n"), 0o755)
    (folder / "no-packages").mkdir()
    (folder / "installers").mkdir()
    for installer in ("apt-get", "dpkg", "sudo"):  # as apt waits for its lock, or sudo for a password
        os.chmod(put(f"installers/{installer}", b"#!/bin/sh\nexec sleep 600\n"), 0o755)
    (folder / "tmp\ndir").mkdir()
    return g


def no_packages(g):
    """A machine where dpkg knows no package, whose installers never return: a verify that installs anything hangs."""
    return {"DPKG_ADMINDIR": g.path("no-packages"), "PATH": f"{g.path('installers')}:{os.environ['PATH']}"}


# (why, arguments, status, texts that the output holds, a start that no line has, environment), each given g.
ROWS = [
    ("an unsigned release", lambda g: [g.path("unsigned.exe")], 0, ("verified: ", "  unsigned"), None, None),
    ("signed, its signer trusted in PEM, its fingerprint printed", lambda g: ["--trust", g.path("signer.pem"),
     g.path("signed.exe")], 0, ("verified: ", "  trusting sha256 "), None, None),
    ("signed, its signer trusted in DER", lambda g: ["--trust", g.path("signer.der"), g.path("signed.exe")], 0, (),
     None, None),
    ("signed, its signer trusted in a PEM file with the key before the certificate", lambda g: [
        "--trust", g.path("key-then-signer.pem"), g.path("signed.exe")], 0, (), None, None),
    ("signed, its signer trusted in a PEM file that starts with a UTF-8 BOM", lambda g: [
        "--trust", g.path("bom-signer.pem"), g.path("signed.exe")], 0, (), None, None),
    ("the x64 build, signed and time-stamped, with its build record", lambda g: [
        "--buildinfo", g.path("unsigned.buildinfo"), "--trust", g.path("signer.pem"), "--trust", g.path("tsa.pem"),
        g.path("stamped-x64.exe")], 0, ("for x64", "\n  signed by sha256 ", "\n    time-stamped "), None, None),
    ("the commit taken from the release's build record", lambda g: ["--buildinfo", g.path("unsigned.buildinfo"),
     g.path("unsigned.exe")], 0, (), None, None),
    ("a name that starts with -", lambda g: ["--", g.path("-notice.exe")], 0, (), None, None),
    ("a file that can be read only once: a pipe", lambda g: ["-c", 'cat "$0" >"$1" & exec "$2" "$1"',
     g.path("unsigned.exe"), g.path("once.pipe"), os.path.join(RELEASE, "verify")], 0, (), None, None, "sh"),
    ("a name with a line break and a byte that is no UTF-8, printed escaped", lambda g: [
        g.path(os.fsdecode(b"a\nverified: forged\xff"))], 0, ("a\\nverified: forged\\udcff",), "verified: forged", None),
    ("signed, its signer not trusted", lambda g: [g.path("signed.exe")], 3, ("not trusted here",), None, None),
    ("a signer whose name would draw on the terminal, printed escaped", lambda g: [g.path("drawing.exe")], 3,
     ("\\x1b[2K\\rverified: forged",), "verified: ", None),
    ("a signer whose name shows another's fingerprint with a look-alike, printed escaped", lambda g: [
        g.path("lookalike.exe")], 3, ("\\u037e",), None, None),
    ("a signer whose name breaks the line before another's fingerprint", lambda g: [g.path("line-break.exe")], 3,
     ("x\\n  signed by",), lambda g: f"  signed by sha256 {g.fingerprint}", None),
    ("one byte changed", lambda g: [g.path("changed.exe")], 1, ("refused: its bytes are not notice.exe",), None, None),
    ("a refused file whose name breaks the line before a forged verdict", lambda g: [
        g.path("changed\nverified: forged")], 1, ("changed\\nverified: forged",), "verified: ", None),
    ("a text file", lambda g: [g.path("text.exe")], 1, ("not a PE file",), None, None),
    ("a file that never ends", lambda g: ["/dev/zero"], 1, ("larger than 16 MiB",), None, None),
    ("other bytes, with a build record from another CMake", lambda g: ["--buildinfo", g.path("elsewhere.buildinfo"),
     g.path("changed.exe")], 1, ("cmake: ", "3.99.0-1 in the record"), None, None),
    ("a build record that names another SHA-256", lambda g: ["--buildinfo", g.path("other-sha256.buildinfo"),
     g.path("unsigned.exe")], 1, ("another notice.exe",), None, None),
    ("a build record that names its commit twice", lambda g: ["--buildinfo", g.path("two-commits.buildinfo"),
     g.path("unsigned.exe")], 1, ("given twice",), None, None),
    ("a build record of 1 MiB", lambda g: ["--buildinfo", g.path("huge.buildinfo"), g.path("unsigned.exe")], 1,
     ("64 KiB",), None, None),
    ("a build record FIFO that no one writes", lambda g: ["--buildinfo", g.path("record.pipe"),
     g.path("unsigned.exe")], 1, ("not a regular file",), None, None),
    ("--buildinfo empty, which would build HEAD and check no record", lambda g: ["--buildinfo", "",
     g.path("unsigned.exe")], 2, ("--buildinfo is empty",), None, None),
    ("a --commit ref name that is no UTF-8, git's cause printed escaped", lambda g: [
        "--commit", os.fsdecode(b"refs/heads/\xff"), g.path("unsigned.exe")], 1, ("refs/heads/\\udcff",), "Traceback", None),
    ("--commit given twice, the second would win", lambda g: ["--commit", "HEAD^", "--commit", "HEAD",
     g.path("unsigned.exe")], 2, ("--commit is given twice",), None, None),
    ("an extra argument that breaks the line before a forged verdict, printed escaped", lambda g: [
        g.path("unsigned.exe"), "--", "b\nverified: forged"], 2, ("unrecognized arguments: b\\nverified: forged",),
     "verified: ", None),
    ("a --trust file that does not exist", lambda g: ["--trust", g.path("missing.pem"), g.path("unsigned.exe")], 2,
     ("cannot be read",), None, None),
    ("a --trust FIFO that no one writes", lambda g: ["--trust", g.path("trust.pipe"), g.path("unsigned.exe")], 2,
     ("not a regular file",), None, None),
    ("a --trust file of 1 GiB", lambda g: ["--trust", g.path("huge-trust.pem"), g.path("unsigned.exe")], 2,
     ("larger than 1 MiB",), None, None),
    ("a --trust file of two certificates", lambda g: ["--trust", g.path("two.pem"), g.path("signed.exe")], 2,
     ("holds 2 certificates",), None, None),
    ("the attacker's file, trusted through a PEM block after the vendor's DER certificate", lambda g: [
        "--trust", g.path("vendor-then-attacker.der"), g.path("attacker.exe")], 2, ("bytes follow its DER",), None,
     None),
    ("the attacker's file, trusted through its DER certificate that holds the vendor's PEM block", lambda g: [
        "--trust", g.path("attacker-holding-vendor.der"), g.path("attacker-holding-vendor.exe")], 2,
     ("its DER certificate holds a PEM block",), None, None),
    ("a --trust PEM file with a block of another kind before the certificate", lambda g: [
        "--trust", g.path("request-then-signer.pem"), g.path("signed.exe")], 2, ("CERTIFICATE REQUEST",), None, None),
    ("a --trust PEM file whose first line is a NUL byte, where openssl reads no certificate", lambda g: [
        "--trust", g.path("nul-signer.pem"), g.path("signed.exe")], 2, ("NUL byte",), None, None),
    ("a --trust certificate with trust settings attached, as openssl x509 -trustout writes it", lambda g: [
        "--trust", g.path("trusted-signer.pem"), g.path("signed.exe")], 2, ("trust settings", "openssl x509 -in"),
     None, None),
    ("a --trust CA whose keyUsage is given twice, which OpenSSL never takes for an issuer", lambda g: [
        "--trust", g.path("key-usage-twice-ca.pem"), g.path("unsigned.exe")], 2, ("extensions cannot be read",),
     None, None),
    ("a --trust CA whose basicConstraints is an INTEGER, which OpenSSL never takes for an issuer", lambda g: [
        "--trust", g.path("integer-constraints-ca.pem"), g.path("unsigned.exe")], 2, ("extensions cannot be read",),
     None, None),
    ("a --trust certificate whose commonName is a BIT STRING", lambda g: [
        "--trust", g.path("cn-bits.pem"), g.path("unsigned.exe")], 2, ("that can be read",), None, None),
    ("a --trust certificate of an ML-DSA key, which nothing here reads", lambda g: [
        "--trust", g.path("ml-dsa.der"), g.path("unsigned.exe")], 2, ("nothing here reads",), None, None),
    ("the usual build flags in the caller's shell, with the build record", lambda g: [
        "--buildinfo", g.path("unsigned.buildinfo"), g.path("unsigned.exe")], 0, (), None, lambda g: {
        "LDFLAGS": "-Wl,--build-id", "CXXFLAGS": "-g -O2 -fstack-protector-strong", "CMAKE_GENERATOR": "Ninja"}),
    ("GIT_DIR naming another repository", lambda g: [g.path("unsigned.exe")], 0, lambda g: (f"of commit {g.head}",), None,
     lambda g: {"GIT_DIR": str(g.folder)}),
    ("a pefile.py of the caller's on PYTHONPATH", lambda g: [g.path("text.exe")], 1, ("not a PE file",), None,
     lambda g: {"PYTHONPATH": g.path("caller-modules")}),
    ("a dpkg-query of the caller's on PATH that knows no package", lambda g: [g.path("text.exe")], 1,
     ("not a PE file",), None, lambda g: {"PATH": f"{g.path('caller-programs')}:{os.environ['PATH']}"}),
    ("a TMPDIR with a line break in its path", lambda g: [g.path("unsigned.exe")], 0, (), None,
     lambda g: {"TMPDIR": g.path("tmp\ndir")}),
    ("the packages that verify needs missing", lambda g: [g.path("unsigned.exe")], 2, (
        "apt-get install", "python3-openssl", "g++-mingw-w64-x86-64"), None, no_packages),
    ("an unknown option, the packages missing", lambda g: ["--unknown", g.path("unsigned.exe")], 2, (), None,
     no_packages),
    ("--commit with --buildinfo, the packages missing", lambda g: ["--commit", "HEAD", "--buildinfo",
     g.path("unsigned.buildinfo"), g.path("unsigned.exe")], 2, ("not allowed with",), None, no_packages),
]


def given_value(value, g):
    return value(g) if callable(value) else value


@pytest.fixture(scope="module")
def runs(given):
    """Every row's run, started at once on as many workers as there are processors: each waits mostly for a build."""
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
        yield {why: pool.submit(verify, *arguments(given), env=given_value(env, given), verifier=verifier[0])
               for why, arguments, _, _, _, env, *verifier in [(*row, None) for row in ROWS]}


@pytest.mark.parametrize("status, texts, unwanted", [pytest.param(*row[2:5], id=row[0]) for row in ROWS])
def test_verify(request, runs, given, status, texts, unwanted):
    got, output = runs[request.node.callspec.id].result()
    assert got == status, output
    said(output, given_value(texts, given), given_value(unwanted, given))


def test_a_fifo_that_no_one_writes(given, monkeypatch):
    """Given up on once nothing arrives for SILENCE seconds, never waited on."""
    monkeypatch.setattr(bounded, "SILENCE", 1)
    with pytest.raises(bounded.Refused, match="nothing arrived for 1 s"):
        bounded.read_bounded(given.path("silent.pipe"), 1024)
