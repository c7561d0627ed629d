#!/usr/bin/env python3
"""Independent writer of Rockchip firmware packages for the tests.

Builds an RKAF update image and optionally wraps it in an RKFW container,
from a JSON description:

{
  "entries": [ {"name": "parameter", "file": "parameter.txt",
                "data": "<text>" | "hex": "<hex>" | "size": N,
                "parameter": true,            # frame as PARM block
                "offset": N, "length": N}     # override table fields
             ... ],
  "num_parts": N,            # override the entry count field
  "length": N,               # override the RKAF length field
  "bad_crc": true,           # store a wrong CRC
  "rkfw": {"digest": "lower" | "upper" | "bad", "truncate": N}
}
usage: mkrkfw.py layout.json out.img
"""
import hashlib
import json
import struct
import sys


def _rk_byte_crc(b):
    # Polynomial 0x04C10DB7, MSB first, no reflection, computed bit by bit.
    c = b << 24
    for _ in range(8):
        c = ((c << 1) ^ 0x04C10DB7) if c & 0x80000000 else (c << 1)
        c &= 0xFFFFFFFF
    return c


_RK_TABLE = [_rk_byte_crc(b) for b in range(256)]


def rkcrc(data, crc=0):
    for b in data:
        crc = ((crc << 8) & 0xFFFFFFFF) ^ _RK_TABLE[(crc >> 24) ^ b]
    return crc


def entry_bytes(e):
    if "data" in e:
        data = e["data"].encode()
    elif "hex" in e:
        data = bytes.fromhex(e["hex"])
    else:
        data = bytes((i * 7 + len(e.get("file", ""))) & 0xFF for i in range(e.get("size", 0)))
    if e.get("parameter"):
        data = b"PARM" + struct.pack("<I", len(data)) + data + struct.pack("<I", rkcrc(data))
    return data


def build_rkaf(layout):
    entries = layout.get("entries", [])
    body = bytearray()
    table = []
    pos = 2048
    for e in entries:
        data = entry_bytes(e)
        padded = (len(data) + 2047) // 2048 * 2048
        off = e.get("offset", pos)
        table.append((e["name"], e["file"], padded, off, 0, padded, e.get("length", len(data))))
        if e.get("file") != "SELF":
            body += data + b"\0" * (padded - len(data))
            pos += padded
    length = layout.get("length", 2048 + len(body))
    head = bytearray(2048)
    head[0:4] = b"RKAF"
    struct.pack_into("<I", head, 4, length)
    head[8:8 + 7] = b"TESTBRD"
    head[42:42 + 4] = b"0001"
    head[72:72 + 2] = b"RK"
    struct.pack_into("<I", head, 132, (1 << 24) | (2 << 16) | 3)
    struct.pack_into("<I", head, 136, layout.get("num_parts", len(table)))
    for i, (name, fname, psize, off, start, padded, size) in enumerate(table[:16]):
        base = 140 + 112 * i
        head[base:base + 32] = name.encode()[:32].ljust(32, b"\0")
        head[base + 32:base + 92] = fname.encode()[:60].ljust(60, b"\0")
        struct.pack_into("<IIIII", head, base + 92, psize, off, start, padded, size)
    img = bytes(head) + bytes(body)
    crc = rkcrc(img[:length]) if length <= len(img) else rkcrc(img)
    if layout.get("bad_crc"):
        crc ^= 0x1
    # The CRC sits right after `length` bytes.
    img = img[:length] + struct.pack("<I", crc) + img[length:] if length <= len(img) else img + struct.pack("<I", crc)
    return img


def build_rkfw(rkaf, fw):
    loader = b"BOOT" + bytes(60)
    head = bytearray(102)
    head[0:4] = b"RKFW"
    struct.pack_into("<H", head, 4, 102)
    struct.pack_into("<I", head, 6, (8 << 24) | (1 << 16) | 0x0203)
    struct.pack_into("<I", head, 10, 0x01030000)
    struct.pack_into("<HBBBBB", head, 14, 2024, 5, 17, 9, 30, 45)
    struct.pack_into("<I", head, 21, 0x50)
    struct.pack_into("<II", head, 25, 102, len(loader))
    struct.pack_into("<II", head, 33, 102 + len(loader), len(rkaf))
    data = bytes(head) + loader + rkaf
    digest = hashlib.md5(data).hexdigest()
    mode = fw.get("digest", "lower")
    if mode == "upper":
        digest = digest.upper()
    elif mode == "bad":
        digest = ("0" if digest[0] != "0" else "1") + digest[1:]
    out = data + digest.encode()
    if "truncate" in fw:
        out = out[:fw["truncate"]]
    return out


def main():
    layout = json.load(open(sys.argv[1]))
    img = build_rkaf(layout)
    if "rkfw" in layout:
        img = build_rkfw(img, layout["rkfw"])
    elif "truncate" in layout:
        img = img[:layout["truncate"]]
    open(sys.argv[2], "wb").write(img)


if __name__ == "__main__":
    main()
