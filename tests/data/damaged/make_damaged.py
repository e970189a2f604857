#!/usr/bin/env python3
"""Writes the damaged-archive table: good.zip, an archive of three items as the
backup program writes them (traditional PKWARE encryption with the programs'
password, no data descriptors), and the forms a failing disk or a careless
copy leaves of it. Every file is deterministic. The expected outcome of each
is in expected.txt, kept by hand.
Run from anywhere: python3 tests/data/damaged/make_damaged.py
"""
import os
import random
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
PASSWORD = b"735296482913572"
DOS_TIME, DOS_DATE = 0x4821, 0x5867  # 2024-03-07 09:01:02

CRC_TABLE = []
for n in range(256):
    c = n
    for _ in range(8):
        c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
    CRC_TABLE.append(c)


class Cipher:
    def __init__(self, password):
        self.keys = [0x12345678, 0x23456789, 0x34567890]
        for b in password:
            self.update(b)

    def update(self, b):
        k0, k1, k2 = self.keys
        k0 = CRC_TABLE[(k0 ^ b) & 0xFF] ^ (k0 >> 8)
        k1 = ((k1 + (k0 & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        k2 = CRC_TABLE[(k2 ^ (k1 >> 24)) & 0xFF] ^ (k2 >> 8)
        self.keys = [k0, k1, k2]

    def encrypt(self, data):
        out = bytearray()
        for b in data:
            t = (self.keys[2] | 2) & 0xFFFF
            out.append(b ^ (((t * (t ^ 1)) >> 8) & 0xFF))
            self.update(b)
        return bytes(out)


def text(size, seed):
    r = random.Random(seed)
    words = [b"tablet", b"syrup", b"dose", b"stock", b"invoice", b"patient", b"batch", b"expiry"]
    out = b""
    while len(out) < size:
        out += r.choice(words) + b" "
    return out[:size]


def noise(size, seed):
    r = random.Random(seed)
    return bytes(r.randrange(256) for _ in range(size))


def raw_deflate(data):
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def encrypted(data, crc, password, seed):
    header = noise(11, seed) + bytes([crc >> 24])
    cipher = Cipher(password)
    return cipher.encrypt(header + data)


ITEMS = [  # name, data, method
    ("a.mdf", text(3000, 1), 8),
    ("b.ldf", noise(400, 2), 0),
    ("c.txt", text(200, 3), 8),
]


def archive(password=PASSWORD, usize_of=lambda name, size: size,
            csize_of=lambda name, size: size):
    body, central = bytearray(), bytearray()
    for seed, (name, data, method) in enumerate(ITEMS):
        crc = zlib.crc32(data)
        packed = raw_deflate(data) if method == 8 else data
        stream = encrypted(packed, crc, password, 100 + seed)
        n = name.encode()
        usize = usize_of(name, len(data))
        csize = csize_of(name, len(stream))
        offset = len(body)
        body += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 1, method, DOS_TIME, DOS_DATE, crc,
                            csize, usize, len(n), 0) + n + stream
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 1, method, DOS_TIME,
                               DOS_DATE, crc, csize, usize, len(n), 0, 0, 0, 0, 0x20,
                               offset) + n
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(ITEMS), len(ITEMS), len(central),
                      len(body), 0)
    return bytes(body + central + end)


def records(good):
    """Start of every record: local headers, their data, central headers, end."""
    starts, at = [], 0
    while good[at:at + 4] == b"PK\x03\x04":
        csize, nlen, xlen = struct.unpack_from("<I", good, at + 18)[0], *struct.unpack_from(
            "<HH", good, at + 26)
        starts += [at, at + 30 + nlen + xlen]
        at += 30 + nlen + xlen + csize
    while good[at:at + 4] == b"PK\x01\x02":
        starts.append(at)
        nlen, xlen, clen = struct.unpack_from("<HHH", good, at + 28)
        at += 46 + nlen + xlen + clen
    starts.append(at)
    return starts


def patched(good, at, fmt, value):
    b = bytearray(good)
    struct.pack_into(fmt, b, at, value)
    return bytes(b)


def main():
    good = archive()
    end = good.rindex(b"PK\x05\x06")
    directory = struct.unpack_from("<I", good, end + 16)[0]
    out = {"good": good}
    for cut in [0] + records(good)[1:] + [directory + 20, end + 10, len(good) - 1]:
        out["cut-%04d" % cut] = good[:cut]
    out["end-points-past-file"] = patched(good, end + 16, "<I", len(good) + 1000)
    out["end-count-too-large"] = patched(patched(good, end + 8, "<H", 40), end + 10, "<H", 40)
    out["central-name-past-end"] = patched(good, directory + 28, "<H", 0xFFF0)
    last_central = records(good)[-2]
    out["central-name-runs-into-end"] = patched(good, last_central + 28, "<H", 5 + 10)
    out["local-name-past-end"] = patched(good, 26, "<H", 0xFFF0)
    out["local-crc-disagrees"] = patched(good, 14, "<I", 0x12345678)
    out["local-name-disagrees"] = patched(good, 30, "<B", ord("x"))
    first_data = records(good)[1]
    second_data = records(good)[3]
    flipped = bytearray(good)
    flipped[first_data + 40] ^= 0x40  # inside a.mdf's compressed data
    out["flipped-deflated-byte"] = bytes(flipped)
    flipped = bytearray(good)
    flipped[second_data + 100] ^= 0x01  # inside b.ldf's stored data
    out["flipped-stored-byte"] = bytes(flipped)
    out["wrong-password"] = archive("başka parola".encode())
    out["claims-4-gb"] = archive(usize_of=lambda name, size: 0xFFFFFFFF if name == "a.mdf"
                                 else size)
    four_gb_stored = lambda name, size: 0xFFFFFFFF if name == "b.ldf" else size
    out["stored-claims-4-gb"] = archive(usize_of=four_gb_stored, csize_of=four_gb_stored)
    for old in os.listdir(HERE):
        if old.endswith(".zip"):
            os.remove(os.path.join(HERE, old))
    for name, data in out.items():
        with open(os.path.join(HERE, name + ".zip"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
