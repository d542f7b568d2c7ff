#!/usr/bin/env python3
"""Scrambles the clear keys of a key list into the C++ source of the key store.

The inverse of getKey (channel/key_store.cpp): every entry holds a SHA-256
digest, the scrambled length, the scrambled key words and a scrambled tag,
all under a 17-byte mask. Everything the layout leaves free (mask, salt, tags,
the per-entry value A, the spare length bit, entry positions and the unused
entry area) is drawn from the key list's seed, so that one key list always
gives the same store. The result is checked by unscrambling it again.
"""

import argparse
import hashlib
import re
import struct
import sys

INDEX_SIZE = 8
ENTRY_AREA_SIZE = 2016
MASK_SIZE = 17
SALT_SIZE = 8
MISSING = 0xFFFFFFFF
KEY_ORDER = (1, 3, 0, 2)


KEY_SIZE = 16
MIN_SEED_SIZE = 16


class SeededRandom:
    """Random bytes, numbers and shuffles from SHA-256 over the seed and a
    counter: the same seed gives the same sequence with every Python."""

    def __init__(self, seed):
        self.seed, self.counter, self.pool = seed, 0, b""

    def bytes(self, n):
        while len(self.pool) < n:
            self.pool += hashlib.sha256(self.seed + struct.pack("<Q", self.counter)).digest()
            self.counter += 1
        taken, self.pool = self.pool[:n], self.pool[n:]
        return taken

    def bits(self, k):
        return int.from_bytes(self.bytes((k + 7) // 8), "little") & ((1 << k) - 1)

    def below(self, n):
        """Uniform in 0..n-1, by rejection."""
        while True:
            value = self.bits(max(n - 1, 1).bit_length())
            if value < n:
                return value

    def shuffle(self, items):
        for i in range(len(items) - 1, 0, -1):
            j = self.below(i + 1)
            items[i], items[j] = items[j], items[i]


def rearrange(word):
    """Stored bytes b0..b3 read as b1, b3, b0, b2 (lowest first)."""
    b = struct.pack("<I", word)
    return struct.unpack("<I", bytes((b[1], b[3], b[0], b[2])))[0]


def unrearrange(value):
    v = struct.pack("<I", value)
    return struct.unpack("<I", bytes((v[2], v[0], v[3], v[1])))[0]


def mask_word(mask, p):
    return struct.unpack("<I", bytes(mask[(p + i) % MASK_SIZE] for i in range(4)))[0]


def rotl(value, bits):
    return ((value << bits) | (value >> (32 - bits))) & 0xFFFFFFFF


def rotr(value, bits):
    return rotl(value, 32 - bits)


def scramble(key, mask, salt, rng):
    n = len(key) // 4
    key_words = list(struct.unpack("<%dI" % n, key))
    # Words 0 and 9: length; 1 to 8: digest; then the key words and the tag.
    words = [rng.bits(32) for _ in range(10 + n + 1)]
    a = rng.bits(32)
    length_value = len(key) << 1 | rng.bits(1)
    tag = rng.bits(32)
    words[0] = unrearrange(mask_word(mask, 0) ^ a)
    words[9] = unrearrange(mask_word(mask, 4) ^ length_value ^ a)
    words[10 + n] = unrearrange(mask_word(mask, 8) ^ tag ^ a)
    for i, value in enumerate(key_words):
        words[10 + 4 * (i // 4) + KEY_ORDER[i % 4]] = rotr(value, 8 * (i % 3 + 1)) ^ mask_word(mask, 4 * i)
    digest = hashlib.sha256(key + struct.pack("<I", tag) + salt).digest()
    words[1:9] = struct.unpack("<8I", digest)
    return struct.pack("<%dI" % len(words), *words)


def unscramble(entry, length, mask, salt):
    """getKey in Python, to check what was written."""
    words = lambda i: struct.unpack_from("<I", entry, 4 * i)[0]
    a = mask_word(mask, 0) ^ rearrange(words(0))
    length_value = mask_word(mask, 4) ^ rearrange(words(9)) ^ a
    if length_value >> 1 != length:
        return None
    n = length_value >> 3
    tag = mask_word(mask, 8) ^ rearrange(words(10 + n)) ^ a
    key = b"".join(
        struct.pack("<I", rotl(words(10 + 4 * (i // 4) + KEY_ORDER[i % 4]) ^ mask_word(mask, 4 * i), 8 * (i % 3 + 1)))
        for i in range(n))
    digest = hashlib.sha256(key + struct.pack("<I", tag) + salt).digest()
    return key if digest == entry[4:36] else None


def read_keys(path):
    """The seed and the (name, number, key) entries of a key list; exits with
    one line naming the file and line for anything malformed."""
    seed, keys = None, []
    try:
        with open(path, "rb") as f:
            raw_lines = f.read().splitlines()
    except OSError as e:
        sys.exit("%s: %s" % (path, e.strerror))
    for number, raw in enumerate(raw_lines, 1):
        def fail(message):
            sys.exit("%s:%d: %s" % (path, number, message))
        try:
            line = raw.decode("ascii")
        except UnicodeDecodeError:
            fail("not ASCII text")
        fields = line.split("#", 1)[0].split()
        if not fields:
            continue
        if fields[0] == "seed":
            if len(fields) != 2 or not re.fullmatch(r"([0-9a-fA-F]{2}){%d,}" % MIN_SEED_SIZE, fields[1]):
                fail("expected: seed, then at least %d bytes in hex" % MIN_SEED_SIZE)
            if seed is not None:
                fail("a second seed")
            seed = bytes.fromhex(fields[1])
            continue
        if len(fields) != 3:
            fail("expected: constant number key")
        name, key_number, key = fields
        if not re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", name):
            fail("'%s' is not a C++ name" % name)
        if not re.fullmatch(r"0|[1-9][0-9]*", key_number) or int(key_number) >= INDEX_SIZE:
            fail("key number '%s' is not one of 0 to %d (decimal, no leading zero)" % (key_number, INDEX_SIZE - 1))
        if any(k[1] == int(key_number) for k in keys):
            fail("key number %s is used twice" % key_number)
        if not re.fullmatch(r"[0-9a-fA-F]{%d}" % (2 * KEY_SIZE), key):
            fail("the key is not %d bytes in hex" % KEY_SIZE)
        keys.append((name, int(key_number), bytes.fromhex(key)))
    if seed is None:
        sys.exit("%s: no seed line" % path)
    return seed, keys


def build(keys, seed):
    rng = SeededRandom(seed)
    mask = rng.bytes(MASK_SIZE)
    salt = rng.bytes(SALT_SIZE)
    area = bytearray(rng.bytes(ENTRY_AREA_SIZE))
    index = [MISSING] * INDEX_SIZE
    entries = [(key_number, scramble(key, mask, salt, rng)) for _, key_number, key in keys]
    # Entries go to word-aligned places in random order, with random gaps.
    rng.shuffle(entries)
    slack = ENTRY_AREA_SIZE - sum(len(e) for _, e in entries)
    if slack < 0:
        sys.exit("the keys do not fit into the entry area")
    gaps = sorted(rng.below(slack // 4 + 1) * 4 for _ in entries)
    position, used_gap = 0, 0
    for (key_number, entry), gap in zip(entries, gaps):
        position += gap - used_gap
        used_gap = gap
        area[position:position + len(entry)] = entry
        index[key_number] = position
        position += len(entry)
    for _, key_number, key in keys:
        entry = bytes(area[index[key_number]:])
        if unscramble(entry, len(key), mask, salt) != key:
            sys.exit("internal error: key %d does not come back" % key_number)
    return index, bytes(area), mask, salt


def byte_rows(data, indent="        "):
    rows = []
    for i in range(0, len(data), 16):
        rows.append(indent + ", ".join("0x%02x" % b for b in data[i:i + 16]) + ",")
    return "\n".join(rows)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("keys", help="key list: a seed line, then constant name, key number, key in hex per line")
    parser.add_argument("output", help="C++ source to write")
    args = parser.parse_args()

    seed, keys = read_keys(args.keys)
    index, area, mask, salt = build(keys, seed)
    checks = "\n".join(
        'static_assert(%s == %d, "channel/keys.txt and channel/key_store.h disagree on %s");' % (name, number, name)
        for name, number, _ in keys)
    source = """// Generated by tools/make_key_store.py from channel/keys.txt. Do not edit.
#include "channel/key_store.h"

namespace qv::sys::encryption {{

{checks}

namespace detail {{

const KeyStoreTable keyStoreTable = {{
    {{{index}}},
    {{
{area}
    }},
    {{
{mask}
    }},
    {{
{salt}
    }},
}};

}} // namespace detail
}} // namespace qv::sys::encryption
""".format(checks=checks, index=", ".join("0x%08xu" % i for i in index), area=byte_rows(area),
           mask=byte_rows(mask), salt=byte_rows(salt))
    try:
        with open(args.output, "w", encoding="ascii") as f:
            f.write(source)
    except OSError as e:
        sys.exit("%s: %s" % (args.output, e.strerror))


if __name__ == "__main__":
    main()
