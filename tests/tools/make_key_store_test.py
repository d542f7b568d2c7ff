#!/usr/bin/env python3
"""Checks the key store generator: one key list always gives the same store,
and a malformed line gives one line of error naming it, not a traceback.
Usage: make_key_store_test.py GENERATOR"""
import os
import re
import subprocess
import sys
import tempfile

SEED = "seed 00112233445566778899aabbccddeeff\n"
KEYS = "channelKeyNumber 2 8c042d6f5a8b020aeeaa69f3accbab0c\nlogKeyNumber 5 0713312b0dc7b226745fc9097c2bc416\n"


def generate(generator, keys_text):
    """Exit status, error text and the generated source."""
    with tempfile.TemporaryDirectory() as folder:
        keys, output = os.path.join(folder, "keys.txt"), os.path.join(folder, "store.cpp")
        with open(keys, "wb") as f:
            f.write(keys_text.encode("latin-1"))
        result = subprocess.run([sys.executable, generator, keys, output], capture_output=True, text=True)
        source = open(output).read() if result.returncode == 0 else None
        return result.returncode, result.stderr, source


def main():
    generator = sys.argv[1]
    status, error, first = generate(generator, SEED + KEYS)
    assert status == 0, error
    assert generate(generator, SEED + KEYS)[2] == first, "one key list gave two stores"
    assert generate(generator, SEED.replace("00", "01", 1) + KEYS)[2] != first, "the seed changed nothing"

    key = " 8c042d6f5a8b020aeeaa69f3accbab0c"
    malformed = [
        ("channelKeyNumber 02" + key, "key number '02'"),
        ("channelKeyNumber 8" + key, "key number '8'"),
        ("channelKeyNumber 2 8c042d6f5a8b020aeeaa69f3accbab", "not 16 bytes"),
        ("channelKeyNumber 2" + key + "0d", "not 16 bytes"),
        ("channelKeyNumber 2 zz042d6f5a8b020aeeaa69f3accbab0c", "not 16 bytes"),
        ("channel-key 2" + key, "not a C++ name"),
        ("k\xe9y 3" + key, "not ASCII"),
        ("channelKeyNumber 2", "expected: constant number key"),
        ("seed 0011", "expected: seed"),
        ("channelKeyNumber 2" + key + "\nlogKeyNumber 2" + key, "used twice"),
    ]
    for lines, expected in malformed:
        status, error, _ = generate(generator, SEED + "# comment\n" + lines + "\n")
        line = 2 + lines.count("\n") + 1
        assert status != 0 and re.fullmatch(r"\S*keys\.txt:%d: [^\n]*\n" % line, error), (lines, error)
        assert expected in error, (lines, error)
    assert "no seed line" in generate(generator, KEYS)[1]
    print("KeyStoreGenerator: reproducible, %d malformed lines refused by name" % len(malformed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
