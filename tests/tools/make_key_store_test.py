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
KEY = " 8c042d6f5a8b020aeeaa69f3accbab0c"


def generate(generator, keys_text):
    """Exit status, error text and the generated source."""
    with tempfile.TemporaryDirectory() as folder:
        keys, output = os.path.join(folder, "keys.txt"), os.path.join(folder, "store.cpp")
        with open(keys, "wb") as f:
            f.write(keys_text.encode("latin-1"))
        result = subprocess.run([sys.executable, generator, keys, output], capture_output=True, text=True)
        return result.returncode, result.stderr, open(output).read() if result.returncode == 0 else None


def main():
    generator = sys.argv[1]
    keys = "channelKeyNumber 2" + KEY + "\nlogKeyNumber 5" + KEY + "\n"
    status, error, store = generate(generator, SEED + keys)
    assert status == 0 and generate(generator, SEED + keys)[2] == store, "one key list gave two stores"
    assert generate(generator, SEED.replace("00", "01", 1) + keys)[2] != store, "the seed changed nothing"

    # Each case's last line is the malformed one.
    malformed = [("a 02" + KEY, "key number '02'"), ("a 8" + KEY, "key number '8'"), ("a 2 8c04", "not 16 bytes"),
                 ("a 2" + KEY + "0d", "not 16 bytes"), ("a 2 zz" + KEY[3:], "not 16 bytes"),
                 ("a-b 2" + KEY, "not a C++ name"), ("k\xe9y 3" + KEY, "not ASCII"), ("a 2", "expected: constant"),
                 ("seed 0011", "expected: seed"), ("a 2" + KEY + "\nb 2" + KEY, "used twice")]
    for lines, expected in malformed:
        status, error, _ = generate(generator, SEED + "# comment\n" + lines + "\n")
        line = 3 + lines.count("\n")
        assert status != 0 and re.fullmatch(r"\S*keys\.txt:%d: [^\n]*\n" % line, error), (lines, error)
        assert expected in error, (lines, error)
    assert "no seed line" in generate(generator, keys)[1]
    print("KeyStoreGenerator: reproducible, %d malformed lines refused by name" % len(malformed))


if __name__ == "__main__":
    main()
