#!/usr/bin/python3
"""Reads a ZIP archive with Python's zipfile and reports every entry against a source folder.

Usage: zipinspect.py ARCHIVE SOURCE_ROOT
Prints one tab-separated line per entry:
  entry NAME FLAG METHOD CRC CSIZE USIZE INTERNAL EXTERNAL OFFSET SYSTEM VERSION LOCAL DATA SOURCE
where LOCAL is "same" when the local header agrees with the central one, DATA is "ok" when
zipfile read the data and its CRC matched, and SOURCE compares the data with SOURCE_ROOT/NAME
("equal", "differs", "missing" or "folder"). Then one line: end COUNT CD_SIZE CD_OFFSET COMMENT_LEN.
"""
import os
import struct
import sys
import zipfile


def main():
    archive, root = sys.argv[1], sys.argv[2]
    raw = open(archive, "rb").read()
    with zipfile.ZipFile(archive) as z:
        for info in z.infolist():
            sig, ver, flag, method, time, date, crc, csize, usize, n, extra = struct.unpack(
                "<IHHHHHIIIHH", raw[info.header_offset:info.header_offset + 30])
            local_name = raw[info.header_offset + 30:info.header_offset + 30 + n]
            same = (sig == 0x04034B50 and ver == info.extract_version and flag == info.flag_bits
                    and method == info.compress_type and crc == info.CRC and csize == info.compress_size
                    and usize == info.file_size and (date << 16 | time) == dostime(info.date_time)
                    and local_name == info.orig_filename.encode("utf-8" if flag & 0x800 else "cp437"))
            try:
                data = z.read(info)
                data_state = "ok"
            except Exception as e:  # a bad CRC or unreadable data
                data, data_state = b"", "error:" + str(e).replace("\t", " ")
            path = os.path.join(root, info.filename)
            if info.filename.endswith("/"):
                source = "folder" if os.path.isdir(path) else "missing"
            elif not os.path.isfile(path):
                source = "missing"
            else:
                source = "equal" if open(path, "rb").read() == data else "differs"
            fields = ["entry", info.filename, info.flag_bits, info.compress_type, info.CRC, info.compress_size,
                      info.file_size, info.internal_attr, info.external_attr, info.header_offset,
                      info.create_system, info.create_version, "same" if same else "differs", data_state, source]
            print("\t".join(str(f) for f in fields))
    count, cd_size, cd_offset, comment_len = end_record(raw)
    print("\t".join(str(f) for f in ["end", count, cd_size, cd_offset, comment_len]))


def end_record(raw):
    """The fields of an end record without comment, which closes every archive the writer makes."""
    sig, disk, cd_disk, here, total, cd_size, cd_offset, comment_len = struct.unpack("<IHHHHIIH", raw[-22:])
    assert sig == 0x06054B50 and here == total and disk == 0 and cd_disk == 0
    return total, cd_size, cd_offset, comment_len


def dostime(dt):
    y, mo, d, h, mi, s = dt
    return ((y - 1980) << 25) | (mo << 21) | (d << 16) | (h << 11) | (mi << 5) | (s // 2)


if __name__ == "__main__":
    main()
