#!/usr/bin/env python3
"""Runs the telemetry document program on dock events and parses its output
with a real YAML parser. Usage: check_telemetry_yaml.py PROGRAM [EMULATOR...]"""
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


def main():
    program, emulator = sys.argv[1], sys.argv[2:]
    # A fixed zone: the zone name is part of the time text.
    env = dict(__import__("os").environ, TZ="UTC")
    result = subprocess.run(emulator + [program], input="\n".join(EVENTS) + "\n",
                            capture_output=True, text=True, env=env, timeout=120)
    if result.returncode != 0:
        print(result.stdout, result.stderr, sep="\n")
        return 1
    text = result.stdout
    documents = list(yaml.safe_load_all(text))
    assert len(documents) == 1, documents
    records = documents[0]
    assert isinstance(records, list) and len(records) == 4, text

    expected = [("00:1a:2b:3c:4d:5e", "1.2.3"), ("aa:bb:cc:dd:ee:ff", None),
                ("01:02:03:04:05:06", "0.0.1"), ("0a:0b:0c:0d:0e:0f", None)]
    for record, (mac, version) in zip(records, expected):
        assert set(record) == {"event_type", "time", "dock", "host"}, record
        assert record["event_type"] == "Quorvane Dock Connected", record
        assert record["dock"]["mac_address"] == mac, record
        assert record["dock"].get("fw_version") == version, record
        assert "computer_name" in record["host"], record
    assert str(records[0]["time"]).startswith("Tue Nov 14 22:13:20 2023"), records[0]
    assert records[2]["time"] == "invalid timestamp -50000", records[2]
    assert str(records[3]["time"]).startswith("Mon Jan 19 20:59:59 3001"), records[3]
    print(f"TelemetryDocument: {len(records)} records parsed as YAML")
    return 0


if __name__ == "__main__":
    sys.exit(main())
