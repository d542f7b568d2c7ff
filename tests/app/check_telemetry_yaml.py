#!/usr/bin/env python3
"""Runs the telemetry document program on dock events and parses its output
with a real YAML parser: one document per computer name, each name and the
zone name read back as the same text. Usage: check_telemetry_yaml.py PROGRAM
[EMULATOR...]"""
import os
import subprocess
import sys

import yaml

EVENTS = [
    '{"timestamp":1700000000,"event":3,"deviceId":"A","updMacAddress":"00:1a:2b:3c:4d:5e","fwVersion":[1,2,3]}',
    '{"timestamp":0,"event":3,"deviceId":"B","updMacAddress":"aa:bb:cc:dd:ee:ff"}',
    'not json: {at all}',
    '{"timestamp":1,"event":3,"deviceId":"Z","updMacAddress":"00:00:00:00:00:00"}',
    '{"timestamp":-50000,"event":259,"deviceId":"C: #x","updMacAddress":"01:02:03:04:05:06","fwVersion":[0,0,1]}',
    '{"timestamp":32536846799,"event":3,"deviceId":"\\"quoted\\"","updMacAddress":"0a-0b-0c-0d-0e-0f"}',
    '{"timestamp":1,"event":2,"deviceId":"A"}',
]

# Names a reader could take for nulls, booleans, numbers, dates, merge keys
# or structure, and names beyond ASCII whose characters differ between the
# ANSI code page (1252 in the test prefix) and Latin-1.
NAMES = ["NULL", "null", "~", "TRUE", "False", "YES", "no", "On", "OFF", "y", "N", "1e3", "0x1F", ".inf",
         "-.Inf", ".NaN", "017", "0o17", "+12", "-3", "1_000", "1:20", "190:20:30.15", "2023-11-14", "<<", "=",
         "HOST: X", "A #1", "end:", "-x", "? x", "@host", "'single'", '"double"', "back\\slash", "trailing ",
         "M\u00fcnchen-\u20ac", "\u0160\u2122\u0152", "HOST1", "DESKTOP-4F2K", "a:b", "x#1"]
# The zone name comes from TZ; the runtime keeps its first few characters.
ZONE = "\u20ac\u00c4\u00d6"


def main():
    program, emulator = sys.argv[1], sys.argv[2:]
    env = dict(os.environ, TZ=ZONE + "0", LC_ALL="C.UTF-8")
    result = subprocess.run(emulator + [program] + NAMES, input="\n".join(EVENTS) + "\n",
                            capture_output=True, text=True, encoding="utf-8", env=env, timeout=120)
    if result.returncode != 0:
        print(result.stdout, result.stderr, sep="\n")
        return 1
    text = result.stdout
    documents = list(yaml.safe_load_all(text))
    assert len(documents) == len(NAMES), (len(documents), text)

    expected = [("00:1a:2b:3c:4d:5e", "1.2.3"), ("aa:bb:cc:dd:ee:ff", None),
                ("01:02:03:04:05:06", "0.0.1"), ("0a:0b:0c:0d:0e:0f", None)]
    for name, records in zip(NAMES, documents):
        assert isinstance(records, list) and len(records) == 4, (name, records)
        for record, (mac, version) in zip(records, expected):
            assert set(record) == {"event_type", "time", "dock", "host"}, record
            assert record["event_type"] == "Quorvane Dock Connected", record
            assert record["dock"]["mac_address"] == mac, record
            assert record["dock"].get("fw_version") == version, record
            assert record["host"]["computer_name"] == name, (name, record["host"])
        first, _, zone = records[0]["time"].rpartition(" ")
        assert first == "Tue Nov 14 22:13:20 2023" and zone and ZONE.startswith(zone), records[0]["time"]
        assert records[2]["time"] == "invalid timestamp -50000", records[2]
        assert records[3]["time"].startswith("Mon Jan 19 20:59:59 3001 "), records[3]
    print(f"TelemetryDocument: {len(documents)} documents parsed as YAML")
    return 0


if __name__ == "__main__":
    sys.exit(main())
