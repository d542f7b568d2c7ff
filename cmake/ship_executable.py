#!/usr/bin/env python3
"""Turns a linked Windows executable into the file a user copies and the
debug file support keeps:

    ship_executable.py OBJCOPY X.exe

X.exe.debug becomes the whole image (DWARF, unwind tables, build id) and X.exe
its stripped copy with a debug link to it. Both carry the same PE time stamp,
taken from the build id, so the module list of a crash dump names the build;
a time stamp from the clock would make builds differ. Each gets the image
checksum of its own bytes, as the loader and CheckSumMappedFile compute it.
"""

import array
import os
import shutil
import struct
import subprocess
import sys

CODEVIEW = 2


class BadImage(Exception):
    pass


def u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def headers(data):
    """Offsets of the COFF header and the optional header, and the PE32+ flag."""
    if data[:2] != b"MZ" or len(data) < 0x40:
        raise BadImage("no MZ header")
    coff = u32(data, 0x3C) + 4
    if data[coff - 4:coff] != b"PE\0\0":
        raise BadImage("no PE signature")
    optional = coff + 20
    magic = u16(data, optional)
    if magic not in (0x10B, 0x20B):
        raise BadImage("unknown optional header 0x%x" % magic)
    return coff, optional, magic == 0x20B


def file_offset(data, coff, rva):
    sections = coff + 20 + u16(data, coff + 16)
    for i in range(u16(data, coff + 2)):
        at = sections + 40 * i
        virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from("<IIII", data, at + 8)
        if virtual_address <= rva < virtual_address + max(virtual_size, raw_size):
            return raw_pointer + rva - virtual_address
    raise BadImage("address 0x%x lies in no section" % rva)


def build_id_prefix(data):
    """The first four bytes of the build id, from the CodeView record."""
    coff, optional, pe32plus = headers(data)
    directory = optional + (112 if pe32plus else 96) + 8 * 6
    rva, size = struct.unpack_from("<II", data, directory)
    if size == 0:
        raise BadImage("no debug directory: link with -Wl,--build-id")
    entries = file_offset(data, coff, rva)
    for at in range(entries, entries + size - 27, 28):
        kind, length, _, pointer = struct.unpack_from("<IIII", data, at + 12)
        if kind == CODEVIEW and length >= 24 and data[pointer:pointer + 4] == b"RSDS":
            # The GUID's first field is the build id's first four bytes, stored
            # the other way round.
            return bytes(reversed(data[pointer + 4:pointer + 8]))
    raise BadImage("no CodeView record: link with -Wl,--build-id")


def image_checksum(data, checksum_at):
    words = array.array("H")
    words.frombytes(bytes(data[:checksum_at]) + b"\0\0\0\0" + bytes(data[checksum_at + 4:]) +
                    (b"\0" if len(data) % 2 else b""))
    if sys.byteorder != "little":
        words.byteswap()
    total = sum(words)
    while total > 0xFFFF:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def stamp(path):
    with open(path, "rb") as file:
        data = bytearray(file.read())
    coff, optional, _ = headers(data)
    time_stamp = int.from_bytes(build_id_prefix(data), "little") or 1
    struct.pack_into("<I", data, coff + 4, time_stamp)
    checksum_at = optional + 64
    struct.pack_into("<I", data, checksum_at, image_checksum(data, checksum_at))
    with open(path, "wb") as file:
        file.write(data)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: ship_executable.py OBJCOPY X.exe")
    objcopy, executable = sys.argv[1:]
    debug = executable + ".debug"
    try:
        stamp(executable)
        shutil.copyfile(executable, debug)
        # The symbol table goes too: the debug file has it, and the agent
        # stays well below 2 MiB.
        stripped = executable + ".stripping"
        subprocess.run([objcopy, "--strip-all", "--add-gnu-debuglink=" + debug, debug, stripped], check=True)
        stamp(stripped)  # objcopy puts the clock's time into the header
        os.replace(stripped, executable)
    except (BadImage, OSError, subprocess.CalledProcessError) as error:
        sys.exit("ship_executable.py: %s: %s" % (executable, error))


if __name__ == "__main__":
    main()
