#!/usr/bin/env python3
"""zidavuvorud-cli update-check, run from a copy of the program whose zidavuvorud.ini names a
version server on 127.0.0.1.

    update_check_cli_test.py PROGRAM [EMULATOR ...]

EMULATOR runs a Windows build (env WINEPREFIX=... wine). The program's output goes to files,
never to a pipe: Wine's background processes would hold a pipe open.
"""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
import version_server  # noqa: E402


def run(command, folder, port):
    with open(os.path.join(folder, "zidavuvorud.ini"), "w") as ini:
        ini.write("[update]\nserver = 127.0.0.1:%d\n" % port)
    out_path = os.path.join(folder, "out.txt")
    with open(out_path, "w") as out:
        start = time.monotonic()
        code = subprocess.call(command + ["update-check", "--force", "--json"],
                               stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        seconds = time.monotonic() - start
    with open(out_path) as out:
        text = out.read()
    lines = [line for line in text.splitlines() if line.startswith("{")]
    return code, (json.loads(lines[-1]) if lines else {}), seconds, text


def refused_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    program, emulator = sys.argv[1], sys.argv[2:]
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        copy = os.path.join(folder, os.path.basename(program))
        shutil.copy(program, copy)
        os.environ["XDG_CONFIG_HOME"] = folder  # the operator's settings stay untouched
        os.environ["no_proxy"] = "127.0.0.1"
        command = emulator + [copy]

        # What the HTTP client must tell apart: a list in pieces, a refusal by status, a body
        # over the limit, a port where nobody listens.
        version = b"<Redivuvizer_ER>v_1.1</Redivuvizer_ER>"
        for mode, text, outcome, reason in [
                ("pieces", version, "newer", None),
                ("status", b"404", "failed", "HTTP status 404"),
                ("list", version + b" " * 65536, "failed", "the answer is larger than 64 KiB"),
                ("refused", b"", "no-answer", None)]:
            port = refused_port() if mode == "refused" else version_server.start(mode, text)
            code, result, _, out = run(command, folder, port)
            if (code != (0 if outcome == "newer" else 1) or result.get("outcome") != outcome
                    or (reason and result.get("reason") != reason)
                    or (outcome == "newer" and result.get("remoteVersion") != "v_1.1")):
                failures.append("%s: exit %d, output %r" % (mode, code, out))

        # A server that never answers, and one whose answer never ends: the check gives up
        # within its bounds, and the program ends with its result's exit code even while the
        # exchange is still under way. A status line without its end counts as an answer for
        # libcurl, not for WinINet. The check's own time: Wine's start and exit on a loaded
        # machine add seconds of their own.
        for mode, outcomes in (("silent", ("no-answer",)),
                               ("endless-head", ("no-answer", "failed"))):
            code, result, seconds, text = run(command, folder, version_server.start(mode))
            check = result.get("elapsedMs", 0) / 1000
            if code != 1 or result.get("outcome") not in outcomes or check > 15:
                failures.append("%s server: exit %d, output %r" % (mode, code, text))
            print("%s server: exit %d, check %.1f s, process %.1f s" % (mode, code, check, seconds))
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
