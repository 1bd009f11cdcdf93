#!/usr/bin/env python3
"""How long the update check can hold the start-up: `zidavuvorud-cli update-check --force`
against servers on 127.0.0.1 that refuse, stay silent, or send the list a byte a second.

    bench/update_check_delay.py [PROGRAM [EMULATOR ...]]

PROGRAM defaults to build/dev/src/cli/zidavuvorud-cli; EMULATOR runs a Windows build
(env WINEPREFIX=... wine). "check" is how long the check itself took (what the window's
start would wait), "process" the whole run of the program. Figures go into BENCHMARKS.md.
"""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(root, "tests", "common"))
import version_server  # noqa: E402

LIST = b"<versions><Redivuvizer_ER>v_1.1</Redivuvizer_ER></versions>"


def refused_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def main():
    program = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        root, "build", "dev", "src", "cli", "zidavuvorud-cli")
    emulator = sys.argv[2:]
    cases = [
        ("version list at once", lambda: version_server.start("list", LIST)),
        ("refused port", refused_port),
        ("accepts, never answers", lambda: version_server.start("silent")),
        ("list a byte a second", lambda: version_server.start("trickle", LIST)),
    ]
    with tempfile.TemporaryDirectory() as folder:
        copy = os.path.join(folder, os.path.basename(program))
        shutil.copy(program, copy)
        os.environ["XDG_CONFIG_HOME"] = folder
        os.environ["no_proxy"] = "127.0.0.1"
        for name, make in cases:
            port = make()
            with open(os.path.join(folder, "zidavuvorud.ini"), "w") as ini:
                ini.write("[update]\nserver = 127.0.0.1:%d\n" % port)
            checks, runs = [], []
            for _ in range(3):
                with open(os.path.join(folder, "out.txt"), "w") as out:
                    start = time.monotonic()
                    code = subprocess.call(emulator + [copy, "update-check", "--force", "--json"],
                                           stdout=out, stderr=subprocess.STDOUT,
                                           stdin=subprocess.DEVNULL)
                    runs.append(time.monotonic() - start)
                with open(os.path.join(folder, "out.txt")) as out:
                    result = json.loads(out.read().strip().splitlines()[-1])
                checks.append(result["elapsedMs"] / 1000)
            print("%-24s exit %d  check %s s  process %s s  | %s" % (
                name, code, " / ".join("%.2f" % t for t in checks),
                " / ".join("%.2f" % t for t in runs), result.get("reason", result["outcome"])))


if __name__ == "__main__":
    main()
