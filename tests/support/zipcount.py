#!/usr/bin/python3
"""Reads a ZIP archive with Python's zipfile: testzip(), and each file's bytes against a source folder.

Usage: zipcount.py ARCHIVE [SOURCE_ROOT [PASSWORD]]  (an empty SOURCE_ROOT compares nothing)
Prints "entries N folders M zip64 yes|no" (zip64: the archive ends with the 64-bit end record's
locator before the end record). Exits 1 with a line naming the first entry that is bad, that
differs from SOURCE_ROOT/NAME or that is missing there.
"""
import os
import struct
import sys
import zipfile


def main():
    archive = sys.argv[1]
    root = sys.argv[2] if len(sys.argv) > 2 and sys.argv[2] else None
    password = sys.argv[3].encode() if len(sys.argv) > 3 and sys.argv[3] else None
    with zipfile.ZipFile(archive) as z:
        if password:
            z.setpassword(password)
        bad = z.testzip()
        if bad is not None:
            print("bad entry", bad)
            return 1
        infos = z.infolist()
        folders = 0
        for info in infos:
            if info.is_dir():
                folders += 1
                continue
            if root is None:
                continue
            path = os.path.join(root, info.filename)
            if not os.path.isfile(path):
                print("missing source", info.filename)
                return 1
            with z.open(info) as data, open(path, "rb") as source:
                while True:
                    a, b = data.read(1 << 20), source.read(1 << 20)
                    if a != b:
                        print("differs", info.filename)
                        return 1
                    if not a:
                        break
    with open(archive, "rb") as f:
        f.seek(0, os.SEEK_END)
        size = f.tell()
        f.seek(max(0, size - 22 - 20 - 65535))
        tail = f.read()
    end = tail.rfind(b"PK\x05\x06")
    zip64 = end >= 20 and struct.unpack("<I", tail[end - 20:end - 16])[0] == 0x07064B50
    print("entries %d folders %d zip64 %s" % (len(infos) - folders, folders, "yes" if zip64 else "no"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
