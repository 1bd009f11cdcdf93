#!/usr/bin/env python3
"""The fault campaign: zidavuvorud-cli burn against kvsb-sim with each of the simulator's fault
rules applied once, repeatedly and with a probability, on the channel switch, the CONNECTs, the
daemon upload, the ERASE and the WRITEs of the flash, for single- and two-processor units of the
three families. A run must end either with exit 0 and every module's simulated memory equal to
its image (compare_dump), or with exit 1 and the engine's error text after "Chyba: ", within
its time bound. Anything else (exit 0 over a wrong dump, another code, a hang) fails the
campaign.

    fault_campaign.py --bin build/dev [--full] [--jobs 2] [--report docs/reliability.md]

The quick set (the test command's) puts every fault kind on every operation once, the unit and
the repetition turning from run to run; --full runs the whole matrix.
"""
import argparse
import concurrent.futures
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# A weak cell stores a WRITE with one bit changed and answers it as good: the burns with it run
# with --verify, which must find it; the same runs without it show what the option is for.
UNVERIFIED = "weak-cell, no --verify"
KINDS = ["nak", "lost-ack", "lost-reply", "frame-crc", "msg-crc", "bad-header", "bad-xor",
         "reject", "status", "garbage", "pieces", "double-progress", "silence", "late-power",
         "weak-cell", UNVERIFIED]
# Where a rule strikes: the adapter's channel switch, the CONNECTs, the daemon upload (the boot
# loader's WRITEs), the ERASE and the WRITEs to the flash (the daemon's).
OPS = {"channel": "on=channel", "connect": "on=connect", "upload": "on=write,level=1",
       "erase": "on=erase", "write": "on=write,level=2"}
MODES = {"once": "n=1", "repeated": "every=3", "random": "p=0.2"}
# unit, the simulator's arguments, the modules: dump folder, image, platform.
UNITS = {
    "KRAB101": ([], [("ch1", "krab101_31.omf", "0x10000001")]),
    "KRCD101": (["--plid", "0x10000100", "--second-module", "--plid-second", "0x10000100"],
                [("ch1", "krcd101_l_31.omf", "0x10000100"),
                 ("ch1-second", "krcd101_r_31.omf", "0x10000100")]),
    "KRIJ11x": (["--plid", "0x20000003"], [("ch1", "krij11x_31.elf", "0x20000003")]),
    "KREF10x": (["--plid", "0x20000001"], [("ch0", "kref10x_a_31.elf", "0x20000001"),
                                           ("ch1", "kref10x_b_31.elf", "0x20000001")]),
    "KRGH101": (["--plid", "0x30000001"], [("ch0", "krgh101_a_31.elf", "0x30000001"),
                                           ("ch1", "krgh101_b_31.elf", "0x30000001")]),
}
SLOW = {("nak", "erase"), ("lost-reply", "connect")}
# Every time-out of the protocol used up four times over, with room: an ERASE waits for its
# range's erase time-out (200 s on the MPC8270's large flash) before a refused one is resent.
# Then the operator presses Ctrl-C: a run that waits for the boot loader's answer to an L1
# CONNECT (by design without limit, the module may still be unpowered) must end with "User
# abort"; any other run still going has hung.
RUN_BOUND_S = {"erase": 900}
DEFAULT_BOUND_S = 240


def matrix(full):
    if full:
        return [(k, o, m, u) for k in KINDS for o in OPS for m in MODES for u in UNITS]
    # Every rule on every operation, the repetition and the unit turning with each run; but for
    # two that take minutes by design and run in the full matrix: a refused ERASE is sent
    # again only when the erase's own time-out (minutes) has run out, and an L1 CONNECT whose
    # reply was lost waits for the boot loader until the operator gives up.
    units, modes = list(UNITS), list(MODES)
    pairs = [(k, o) for k in KINDS for o in OPS if (k, o) not in SLOW]
    return [(kind, op, modes[i % len(modes)], units[(i + i // len(OPS)) % len(units)])
            for i, (kind, op) in enumerate(pairs)]


GOOD = ("done", "error", "operator abort", "unseen")


def run_one(args, work, index, kind, op, mode, unit):
    folder = os.path.join(work, "%03d-%s-%s-%s-%s" % (index, kind, op, mode, unit))
    os.makedirs(folder)
    sim_args, modules = UNITS[unit]
    rule = "%s,%s,%s" % (kind.split(",")[0], OPS[op], MODES[mode])
    sim_out = os.path.join(folder, "sim.out")
    with open(sim_out, "wb") as out:
        sim = subprocess.Popen(
            [args.sim, "--once", "--power-on-ms", "0", "--erase-ms", "20", "--erase-steps", "4",
             "--seed", str(index + 1), "--dump", os.path.join(folder, "dump"),
             "--trace", os.path.join(folder, "sim.jsonl"), "--fault", rule] + sim_args,
            stdout=out, stderr=subprocess.STDOUT)
    result = {"kind": kind, "op": op, "mode": mode, "unit": unit, "rule": rule}
    deadline = time.monotonic() + 10
    port = ""
    while time.monotonic() < deadline and not port.endswith("\n"):
        with open(sim_out) as f:
            port = f.readline()
        time.sleep(0.01)
    start = time.monotonic()
    cli = subprocess.Popen(
        [args.cli, "-C", args.examples, "burn", "--port", port.strip(), "--unit", unit, "--yes",
         "--trace", os.path.join(folder, "wire.jsonl")] + (["--verify"] if kind == "weak-cell" else []),
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    try:
        output, _ = cli.communicate(timeout=RUN_BOUND_S.get(op, DEFAULT_BOUND_S))
        code = cli.returncode
    except subprocess.TimeoutExpired:
        cli.send_signal(signal.SIGINT)
        try:
            output, _ = cli.communicate(timeout=15)
            code = "abort" if cli.returncode == 1 else cli.returncode
        except subprocess.TimeoutExpired:
            cli.kill()
            output, _ = cli.communicate()
            code = "hang"
    result["seconds"] = round(time.monotonic() - start, 2)
    try:
        sim.wait(timeout=10)
    except subprocess.TimeoutExpired:
        sim.send_signal(signal.SIGTERM)
        sim.wait()
    text = output.decode("utf-8", "replace")
    with open(os.path.join(folder, "cli.out"), "w") as f:
        f.write(text)
    lines = text.rstrip("\n").split("\n")
    result["code"] = code
    result["last"] = lines[-1] if lines else ""
    with open(os.path.join(folder, "sim.jsonl")) as f:
        result["hits"] = sum(1 for line in f if '"fault":' in line and '"fault":null' not in line)
    with open(os.path.join(folder, "wire.jsonl")) as f:
        result["retransmissions"] = len(re.findall(r'"dir":"out","attempt":[1-9]', f.read()))
    if code == 0:
        equal = all(subprocess.run([args.compare, os.path.join(args.examples, "RT19_bin", image),
                                    plid, os.path.join(folder, "dump", module)],
                                   stdout=subprocess.DEVNULL).returncode == 0
                    for module, image, plid in modules)
        # Without a read-back, "Hotovo" over a changed cell is what a burn can do, not a fault
        # of the program: counted, as the reason for --verify.
        result["verdict"] = "done" if equal else "unseen" if kind == UNVERIFIED else "WRONG DUMP"
    elif code == 1 and re.fullmatch(r"Chyba: \S.*", result["last"]):
        result["verdict"] = "error"
    elif (code == "abort" and result["last"] == "Chyba: User abort" and len(lines) >= 3 and
          lines[-3].endswith("Sending L1 CONNECT command")):
        result["verdict"] = "operator abort"
    else:
        result["verdict"] = "BAD ENDING"
    if result["verdict"] in GOOD and not args.keep:
        shutil.rmtree(folder)
    return result


def report(results, path, command):
    kinds = {}
    for r in results:
        k = kinds.setdefault(r["kind"], {"runs": 0, "hit": 0, "recovered": 0, "failed": 0,
                                         "aborted": 0, "bad": 0, "retransmissions": 0,
                                         "slowest": 0})
        k["runs"] += 1
        k["hit"] += r["hits"] > 0
        k["recovered"] += r["verdict"] == "done" and r["hits"] > 0
        k["failed"] += r["verdict"] == "error"
        k["aborted"] += r["verdict"] == "operator abort"
        k["bad"] += r["verdict"] not in GOOD
        k["retransmissions"] += r["retransmissions"]
        k["slowest"] = max(k["slowest"], r["seconds"])
    rows = ["| fault | runs | fault struck | recovered (Hotovo, dump = image) | ended with the "
            "engine's error | waited for the L1 CONNECT until Ctrl-C | wrong dump, other ending "
            "or hang | retransmissions | slowest run (s) |",
            "|---|---|---|---|---|---|---|---|---|"]
    for kind in KINDS:
        if kind in kinds:
            k = kinds[kind]
            rows.append("| `%s` | %d | %d | %d | %d | %d | %d | %d | %.1f |" % (
                kind, k["runs"], k["hit"], k["recovered"], k["failed"], k["aborted"], k["bad"],
                k["retransmissions"], k["slowest"]))
    # The error texts with their addresses and sizes left out, and how many runs ended so.
    errors = {}
    for r in results:
        if r["verdict"] == "error":
            text = re.sub(r"\d+ bytes", "N bytes", re.sub(r"0x[0-9A-F]{8}", "0x…", r["last"]))
            errors[text] = errors.get(text, 0) + 1
    # The file's other sections (the fuzzing figures) are kept as they are.
    kept = ""
    if os.path.exists(path):
        with open(path) as f:
            old = f.read()
        at = old.find("\n## ", old.find("## The fault campaign") + 1)
        kept = old[at:] if at >= 0 else ""
    with open(path, "w") as f:
        f.write("# Reliability\n\n## The fault campaign\n\n")
        f.write("Made by `%s` from %d runs of `zidavuvorud-cli burn` against kvsb-sim (%s).\n"
                "A run is sound when it ends \"Hotovo\" with each module's simulated memory equal to "
                "its image byte for byte, or with exit 1 and the engine's error text, or (an L1 "
                "CONNECT whose reply was lost: the program waits for the boot loader without "
                "limit) with \"User abort\" after Ctrl-C at %d s (%d s for an ERASE); the column \"wrong dump, other "
                "ending or hang\" counts the runs that were not.\n\n" %
                (command, len(results), time.strftime("%Y-%m-%d", time.gmtime()), DEFAULT_BOUND_S, RUN_BOUND_S["erase"]))
        f.write("\n".join(rows) + "\n\n")
        unverified = [r for r in results if r["kind"] == UNVERIFIED and r["hits"] > 0]
        if unverified:
            f.write("Without `--verify`, %d of the %d runs whose WRITEs a weak cell took ended "
                    "\"Hotovo\" over a flash that differs from the image (exit 0): every WRITE was "
                    "acknowledged. With it, none did.\n\n" %
                    (sum(r["verdict"] == "unseen" for r in unverified), len(unverified)))
        f.write("The error texts the failed runs ended with (runs):\n\n")
        f.write("".join("- `%s` (%d)\n" % (e, n) for e, n in sorted(errors.items())))
        f.write(kept)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True, help="the build folder (build/dev)")
    parser.add_argument("--examples", default=os.path.join(os.path.dirname(__file__), "..",
                                                           "examples"))
    parser.add_argument("--full", action="store_true")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--keep", action="store_true", help="keep every run's folder")
    parser.add_argument("--work", help="where the runs go (default: a temporary folder)")
    parser.add_argument("--report", help="write the report (docs/reliability.md) here")
    parser.add_argument("--results", help="append each run to this file as a JSON line")
    parser.add_argument("--report-from", help="only make the report from a --results file")
    args = parser.parse_args()
    if args.report_from:
        with open(args.report_from) as f:
            results = [json.loads(line) for line in f if line.strip()]
        results.sort(key=lambda r: (KINDS.index(r["kind"]), r["op"], r["mode"], r["unit"]))
        report(results, args.report, "bench/fault_campaign.py --full")
        return 0
    args.examples = os.path.abspath(args.examples)
    args.sim = os.path.join(args.bin, "sim", "kvsb-sim")
    args.cli = os.path.join(args.bin, "src", "cli", "zidavuvorud-cli")
    args.compare = os.path.join(args.bin, "tools", "compare_dump")
    work = args.work or tempfile.mkdtemp(prefix="zq-faults-")
    os.makedirs(work, exist_ok=True)
    runs = matrix(args.full)
    results = []
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        futures = [pool.submit(run_one, args, work, i, *run) for i, run in enumerate(runs)]
        for future in concurrent.futures.as_completed(futures):
            r = future.result()
            results.append(r)
            if args.results:
                with open(args.results, "a") as f:
                    f.write(json.dumps(r) + "\n")
            print("%-8s %-15s %-8s %-9s %-8s -> %-10s hits %d, resent %d, %.1f s  %s" % (
                r["unit"], r["kind"], r["op"], r["mode"], r["code"], r["verdict"], r["hits"],
                r["retransmissions"], r["seconds"], r["last"]), flush=True)
    results.sort(key=lambda r: (KINDS.index(r["kind"]), r["op"], r["mode"], r["unit"]))
    if args.report:
        report(results, args.report, "bench/fault_campaign.py" + (" --full" if args.full else ""))
    bad = [r for r in results if r["verdict"] not in GOOD]
    for r in bad:
        print("FAILED: %s %s: %s" % (r["unit"], r["rule"], r["verdict"]), file=sys.stderr)
    if not args.work and not bad and not args.keep:
        shutil.rmtree(work)
    print("%d runs, %d outside the rule" % (len(results), len(bad)))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
