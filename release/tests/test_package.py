"""release/package as a shipper runs it: the README's own lines, each kind
of signing identity, a time-stamp authority, and a machine that lacks
what it needs. Each release is checked with release/verify."""
import os
import re
import shutil
import subprocess
import zipfile

import pytest

import authority
import forge
from conftest import RELEASE, ROOT, World, requires, verify
from test_timestamps import STAMPS

SOFTHSM = "/usr/lib/softhsm/libsofthsm2.so"


def readme_block(starting, readme=os.path.join(RELEASE, "README.md")):
    """The lines of the README's code block that starts with starting, as a reader pastes them."""
    blocks = re.findall(r"^```[a-z]*\n(.*?)^```$", open(readme, encoding="utf-8").read(), re.M | re.S)
    found = [block for block in blocks if block.startswith(starting)]
    assert len(found) == 1, f"no one block of {readme} starts with {starting!r}"
    return found[0]


def package(*arguments, env=None, cwd=ROOT, script=os.path.join(RELEASE, "package")):
    ran = subprocess.run([script, *arguments], capture_output=True, text=True, cwd=cwd, timeout=600,
                         env={**os.environ, **(env or {})})
    assert ran.returncode == 0, ran.stderr
    return ran.stdout


def shipped(zip_path, member, folder):
    """A file of the release zip, written into folder."""
    with zipfile.ZipFile(zip_path) as archive:
        name = [n for n in archive.namelist() if n.endswith(member) and n.count("/") == member.count("/") + 1][0]
        target = os.path.join(folder, member.replace("/", "-"))
        with open(target, "wb") as file:
            file.write(archive.read(name))
    return target


def the_zip(output):
    return [line for line in output.splitlines() if line.endswith(".zip")][0]


@requires("openssl", "osslsigncode")
def test_the_readme_lines(tmp_path):
    """The READMEs' blocks pasted as written in a fresh shell with a fresh home: make the identity, sign, verify;
    then the top README's three lines."""
    home = tmp_path / "home"
    (home / "Downloads").mkdir(parents=True)
    lines = "\n".join([readme_block("mkdir -p ~/notice-signing"), f"cd '{ROOT}'", readme_block("release/package --")])
    made = subprocess.run(["bash", "-c", lines], input="a throwaway password\n", capture_output=True, text=True,
                          env={**os.environ, "HOME": str(home)}, timeout=600)
    assert made.returncode == 0, made.stderr
    shutil.copy(the_zip(made.stdout), home / "Downloads")
    shutil.copy(home / "notice-signing" / "signer.pem", home / "Downloads")
    statuses = []
    top = readme_block("release/package --pkcs12", os.path.join(ROOT, "README.md"))
    for line in (readme_block("unzip ") + top).replace("\\\n", "").splitlines():
        ran = subprocess.run(["bash", "-c", line], capture_output=True, text=True, cwd=ROOT, timeout=600,
                             env={**os.environ, "HOME": str(home), "NOTICE_SIGN_PASSWORD": "a throwaway password"})
        statuses.append((ran.returncode, ran.stderr[-300:]))
    assert [status for status, _ in statuses] == [0, 3, 0, 0, 0, 0], statuses


@requires("osslsigncode")
def test_a_pem_key_and_password_file_from_another_folder(tmp_path, world):
    """Relative paths count from where the user stands, not from the clone."""
    signer = world["signer"]
    certificate, key = signer.write(str(tmp_path), "signer")
    locked = subprocess.run(["openssl", "pkey", "-in", key, "-aes256", "-passout", "pass:pin of the key"],
                            capture_output=True, check=True).stdout
    (tmp_path / "signer.key").write_bytes(locked)
    (tmp_path / "pin").write_text("pin of the key")
    output = package("--cert", "signer.pem", "--key", "signer.key", "--password-file", "pin", cwd=tmp_path,
                     env={"NOTICE_SIGN_PASSWORD": ""})
    exe = shipped(the_zip(output), "notice.exe", str(tmp_path))
    assert verify("--trust", certificate, exe)[0] == 0


@requires("openssl", "osslsigncode")
def test_pkcs12_time_stamped_by_openssl_ts_with_its_chain(tmp_path):
    """openssl ts, run with `certs =` as openssl.cnf shows it, writes the token's certificates out of DER's order."""
    w = World(STAMPS)
    certificate, key = w["chained-tsa"].write(str(tmp_path), "tsa")
    (tmp_path / "chain.pem").write_bytes(w["tsa-root"].pem)
    signer, signer_key = w["signer"].write(str(tmp_path), "signer")
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", signer_key, "-in", signer, "-passout",
                    "env:NOTICE_SIGN_PASSWORD", "-out", tmp_path / "signer.p12"], check=True,
                   env={**os.environ, "NOTICE_SIGN_PASSWORD": "throwaway"})
    (tmp_path / "root.pem").write_bytes(w["tsa-root"].pem)
    with authority.serving(authority.configuration(str(tmp_path), certificate, key, tmp_path / "chain.pem")) as url:
        output = package("--pkcs12", str(tmp_path / "signer.p12"), "--timestamp", url,
                         env={"NOTICE_SIGN_PASSWORD": "throwaway"})
    for member in ("notice.exe", "x64/notice.exe"):
        exe = shipped(the_zip(output), member, str(tmp_path))
        token = forge.unsigned_value(forge.first_signer(forge.signature(open(exe, "rb").read())["content"]),
                                     forge.authenticode.RFC3161_TIME_STAMP)
        carried = [choice.dump() for choice in token["content"]["certificates"]]
        assert carried != sorted(carried), "the token's certificates are in DER's order: this row would prove nothing"
        status, said = verify("--buildinfo", shipped(the_zip(output), "notice.buildinfo", str(tmp_path)),
                              "--trust", signer, "--trust", str(tmp_path / "root.pem"), exe)
        assert (status, "time-stamped" in said) == (0, True), said


@requires("softhsm2-util", "osslsigncode")
@pytest.mark.skipif(not os.path.exists(SOFTHSM), reason=f"requires {SOFTHSM} (softhsm2)")
def test_pkcs11_with_a_key_on_a_token(tmp_path, world):
    env = {"SOFTHSM2_CONF": str(tmp_path / "softhsm2.conf"), "NOTICE_SIGN_PASSWORD": ""}
    (tmp_path / "tokens").mkdir()
    (tmp_path / "softhsm2.conf").write_text(f"directories.tokendir = {tmp_path}/tokens\n")
    (tmp_path / "pin").write_text("1234")
    leaf, key = world["leaf"].write(str(tmp_path), "leaf")
    (tmp_path / "chain.pem").write_bytes(world["leaf"].pem + world["ca"].pem)
    (tmp_path / "ca.pem").write_bytes(world["ca"].pem)
    token = ["softhsm2-util", "--pin", "1234"]
    for step in (["--init-token", "--free", "--label", "notice", "--so-pin", "1234"],
                 ["--import", key, "--token", "notice", "--label", "signer", "--id", "01"]):
        subprocess.run([*token, *step], check=True, capture_output=True, env={**os.environ, **env})
    output = package("--pkcs11-module", SOFTHSM, "--cert", str(tmp_path / "chain.pem"), "--key",
                     "pkcs11:token=notice;object=signer", "--password-file", str(tmp_path / "pin"), env=env)
    assert verify("--trust", str(tmp_path / "ca.pem"), shipped(the_zip(output), "notice.exe", str(tmp_path)))[0] == 0


def test_a_dirty_tree_and_the_usual_build_flags(tmp_path):
    """The release is the commit's, whatever the work tree and the shell's flags say."""
    clone = tmp_path / "clone"
    subprocess.run(["git", "clone", "-q", ROOT, str(clone)], check=True)
    subprocess.run(["sed", "-i", "s/Folder Already Exists/Folder Exists/", clone / "notice" / "notice.h"], check=True)
    output = package(env={"LDFLAGS": "-Wl,--build-id", "CXXFLAGS": "-g -O2"}, cwd=clone,
                     script=str(clone / "release" / "package"))
    record = shipped(the_zip(output), "notice.buildinfo", str(tmp_path))
    assert verify("--buildinfo", record, shipped(the_zip(output), "notice.exe", str(tmp_path)))[0] == 0


def test_missing_packages_are_named_not_installed(tmp_path):
    (tmp_path / "no-packages").mkdir()
    (tmp_path / "installers").mkdir()
    for installer in ("apt-get", "dpkg", "sudo"):
        (tmp_path / "installers" / installer).write_text("#!/bin/sh\nexec sleep 600\n")
        os.chmod(tmp_path / "installers" / installer, 0o755)
    ran = subprocess.run([os.path.join(RELEASE, "package"), "--pkcs12", "signer.p12"], capture_output=True, text=True,
                         timeout=60, env={**os.environ, "DPKG_ADMINDIR": str(tmp_path / "no-packages"),
                                          "PATH": f"{tmp_path}/installers:{os.environ['PATH']}"})
    assert (ran.returncode, "apt-get install git" in ran.stderr, "osslsigncode" in ran.stderr) == (2, True, True), \
        ran.stderr
