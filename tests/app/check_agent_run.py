#!/usr/bin/env python3
"""Runs QuorvaneAnalytics.exe as a user would, against the manager simulator
on the real pipe name, and checks its standard output and exit status.
Usage: check_agent_run.py AGENT SIMULATOR FAILING_AGENT AGENT_BENCH [EMULATOR...]"""
import json
import os
import subprocess
import sys
import tempfile
import time

import yaml

AGENT, SIMULATOR, FAILING_AGENT, AGENT_BENCH, EMULATOR = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5:]
ENV = dict(os.environ, TZ="UTC")
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def run_agent(agent=AGENT):
    # Output to files, not pipes: a wineserver that this run happens to start
    # would hold a pipe open long after the agent has ended.
    with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+") as err:
        started = time.monotonic()
        status = subprocess.run(EMULATOR + [agent], stdout=out, stderr=err, env=ENV, timeout=60).returncode
        seconds = time.monotonic() - started
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(agent, status, out.read(), err.read()), seconds


def check_run_time(name, seconds):
    """The agent collects for one second and then stops promptly; the bounds are wide."""
    check(0.9 <= seconds < 10, f"{name}: the run took {seconds:.2f} s")


def event(code, device, mac, fw=None, stamp=1700000000):
    message = {"timestamp": stamp, "event": code, "deviceId": device, "updMacAddress": mac}
    if fw:
        message["fwVersion"] = fw
    return json.dumps(message)


def with_simulator(lines, *options):
    """Starts the simulator on the agent's pipe, runs the agent, stops the simulator."""
    with tempfile.NamedTemporaryFile("w", suffix=".jsonl", delete=False) as cache:
        cache.write("\n".join(lines) + "\n")
    log = open(cache.name + ".log", "w")
    simulator = subprocess.Popen(EMULATOR + [SIMULATOR, "--file", cache.name, "--wait", "20000", *options],
                                 stdout=log, stderr=log, env=ENV)
    try:
        # The agent starts once the simulator's pipe exists.
        waited = subprocess.run(EMULATOR + [AGENT_BENCH, "wait", "qvm_message_server"], env=ENV,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60).returncode
        check(waited == 0, f"the simulator's pipe did not appear: {lines[:1]} {options}")
        return run_agent()
    finally:
        simulator.kill()
        simulator.wait()
        log.close()
        os.unlink(cache.name)
        os.unlink(cache.name + ".log")


def banner_and_records(result, name):
    lines = result.stdout.splitlines()
    check(result.returncode == 0, f"{name}: exit status {result.returncode}: {result.stderr[-2000:]}")
    check(len(lines) >= 2 and "Copyright" in lines[0], f"{name}: no banner: {result.stdout!r}")
    check(len(lines) >= 2 and lines[1] == "---", f"{name}: no document start: {result.stdout!r}")
    records = yaml.safe_load("\n".join(lines[1:])) or []
    return records


# No manager: the banner, the document start and nothing else; status 0 after about a second.
result, seconds = run_agent()
banner_and_records(result, "no manager")
check(len(result.stdout.splitlines()) == 2, f"no manager: unexpected output {result.stdout!r}")
check_run_time("no manager", seconds)

# Docks connecting and leaving: one record per connect, in order, byte for
# byte as the writer lays them out, with this host's lines in each.
docks = [event(3, "D1", "00:1a:2b:3c:4d:5e", [1, 2, 3], 1700000000), event(3, "D2", "12:34:56:78:90:12", None, 0),
         event(2, "D1", "00:1a:2b:3c:4d:5e"), event(7, "D3", "aa:bb:cc:dd:ee:ff"),
         event(3, "D1", "00:1a:2b:3c:4d:5e", [0, 0, 1], 32536846799)]
result, seconds = with_simulator(docks)
records = banner_and_records(result, "sample")
text = result.stdout.split("\n", 2)[2] if result.stdout.count("\n") >= 2 else ""
host = text[text.find("  host: \n"):text.find("-\n", 1)] if text.startswith("-\n") else ""
zone = records[0]["time"][len("Tue Nov 14 22:13:20 2023"):] if records else ""
expected = "".join(
    f"-\n  event_type: Quorvane Dock Connected\n  time: {when}{zone}\n  dock: \n    mac_address: {mac}\n"
    + (f"    fw_version: {fw}\n" if fw else "") + host
    for when, mac, fw in [("Tue Nov 14 22:13:20 2023", "00:1a:2b:3c:4d:5e", "1.2.3"),
                          ("Thu Jan 01 00:00:00 1970", "12:34:56:78:90:12", None),
                          ("Mon Jan 19 20:59:59 3001", "00:1a:2b:3c:4d:5e", "0.0.1")])
check(host.startswith("  host: \n    computer_name: "), f"sample: no host lines in {text!r}")
check(text == expected, f"sample: document differs:\n{text}\nexpected:\n{expected}")
check_run_time("sample", seconds)

good = [event(3, f"B{i}", f"02:00:00:00:00:{i:02x}") for i in range(1, 6)]


def expect_good_records(name, lines, count, *options):
    """Runs the agent against `lines` and checks it wrote the first `count` good events."""
    result, _ = with_simulator(lines, *options)
    records = banner_and_records(result, name)
    check([r["dock"]["mac_address"] for r in records] == [f"02:00:00:00:00:{i:02x}" for i in range(1, count + 1)],
          f"{name}: {records}")
    print(f"{name}: {len(records)} records")


# Frames with lying length fields (dropped whole, even though their payload
# would decipher), undecipherable payloads and a deeply nested JSON text on
# one connection: every good event after them still makes its record, once.
nested = "[" * 100000 + "]" * 100000
expect_good_records("bad frames", good[:1] + [nested] + good[1:], 5,
                    "--bad", "long-length,max-length,bad-base64,wrong-key,not-json")

# The manager closes the pipe after two messages and opens it again: the
# events of both connections arrive.
expect_good_records("reconnect", good[:4], 4, "--close-after", "2")

# Frames too short for a header cost the connection; the agent connects again
# and the events sent after that still arrive.
expect_good_records("short frames", good[:3], 3, "--bad", "short,zero-length", "--delay", "80")

# A manager that floods: the agent still stops at its second and exits 0.
result, seconds = with_simulator(good[:1], "--repeat", "1000000")
records = banner_and_records(result, "flood")
check(len(records) > 0, f"flood: no records")
check_run_time("flood", seconds)

# A reader that cannot start: one FATAL record naming the exception, the
# fatal path's exit status 3, and no record after the document start.
result, _ = run_agent(FAILING_AGENT)
fatal = [line for line in result.stderr.splitlines() if "\tFATAL\t" in line]
check(result.returncode == 3, f"failing reader: exit status {result.returncode}: {result.stderr[-2000:]}")
check(len(fatal) >= 1 and "the reader's thread cannot start" in fatal[0], f"failing reader: {result.stderr!r}")
check(result.stdout.splitlines()[1:] == ["---"], f"failing reader: output {result.stdout!r}")
print(f"failing reader: exit {result.returncode}, {len(fatal)} FATAL records")

# The agent as shipped: stripped, linked to a debug file of the same build.
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "cmake"))
import ship_executable as pe  # noqa: E402
images = [open(path, "rb").read() for path in (AGENT, AGENT + ".debug")]
stamps = [pe.u32(image, pe.headers(image)[0] + 4) for image in images]
sums = [(pe.u32(image, pe.headers(image)[1] + 64), pe.image_checksum(image, pe.headers(image)[1] + 64)) for image in images]
check(stamps[0] == stamps[1] == int.from_bytes(pe.build_id_prefix(images[0]), "little"), f"time stamps {stamps}")
link = os.path.basename(AGENT).encode() + b".debug\0"
check(all(a == b for a, b in sums) and link in images[0], f"checksums {sums}, or no link to {link}")
check(len(images[0]) < 2 << 20 and b".debug_info" not in images[0] and b".debug_info" in images[1], "not stripped")

for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
