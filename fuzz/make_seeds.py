#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (corpus/NAME/seed-*).

Seeds come from Python's zlib and zipfile, Info-ZIP zip, 7-Zip (Deflate64)
and the legacy fixture archives of tests/data/legacy. Regression inputs
(corpus/NAME/regression-*) are kept by hand and left alone here.
Run from anywhere: python3 fuzz/make_seeds.py
"""
import io
import os
import random
import shutil
import struct
import subprocess
import tempfile
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
LEGACY = os.path.join(HERE, "..", "tests", "data", "legacy", "generated")
PASSWORD = b"735296482913572"

TEXT = (b"Zelvora pharmacy: tablet syrup dose stock invoice patient batch expiry\n" * 8
        + bytes(random.Random(13).choice(b"abcdefgh \n") for _ in range(600)))
REPEAT = b"0123456789" * 40 + b"x" * 700 + b"0123456789" * 40


def corpus(name):
    folder = os.path.join(HERE, "corpus", name)
    os.makedirs(folder, exist_ok=True)
    for old in os.listdir(folder):
        if old.startswith("seed-"):
            os.remove(os.path.join(folder, old))
    return folder


def put(folder, name, data):
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(data)


def raw_deflate(data, level=6, strategy=zlib.Z_DEFAULT_STRATEGY):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
    return c.compress(data) + c.flush()


def local_entries(zip_bytes):
    """(name, flags, method, crc, csize, usize, data) of each local header."""
    at, out = 0, []
    while zip_bytes[at:at + 4] == b"PK\x03\x04":
        flags, method, _, _, crc, csize, usize, nlen, xlen = struct.unpack_from(
            "<HHHHIIIHH", zip_bytes, at + 6)
        name = zip_bytes[at + 30:at + 30 + nlen].decode("cp437")
        start = at + 30 + nlen + xlen
        out.append((name, flags, method, crc, csize, usize, zip_bytes[start:start + csize]))
        at = start + csize
    return out


def zip_of(entries, comment=b""):
    """A ZIP of raw entries (name, method, flags, crc, usize, data), written by hand."""
    body, central = io.BytesIO(), io.BytesIO()
    for name, method, flags, crc, usize, data in entries:
        offset = body.tell()
        n = name.encode()
        body.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, 0, 0x5821,
                               crc, len(data), usize, len(n), 0) + n + data)
        central.write(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, flags, method, 0,
                                  0x5821, crc, len(data), usize, len(n), 0, 0, 0, 0, 0x20,
                                  offset) + n)
    directory = central.getvalue()
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(directory),
                      body.tell(), len(comment)) + comment
    return body.getvalue() + directory + end


def deflate64_streams(work):
    """Raw Deflate64 streams made by 7-Zip, or none when it is missing."""
    seven = shutil.which("7zz") or shutil.which("7z")
    if not seven:
        return []
    for name, data in (("text.txt", TEXT), ("repeat.bin", REPEAT * 3 + bytes(70000))):
        with open(os.path.join(work, name), "wb") as f:
            f.write(data)
    archive = os.path.join(work, "d64.zip")
    subprocess.run([seven, "a", "-tzip", "-mm=Deflate64", "-mx=9", archive, "text.txt",
                    "repeat.bin"], cwd=work, check=True, stdout=subprocess.DEVNULL)
    with open(archive, "rb") as f:
        return f.read()


def legacy_streams(archive, names=("empty.bin", "one.bin", "same61.bin")):
    with open(os.path.join(LEGACY, archive), "rb") as f:
        return [e for e in local_entries(f.read()) if e[0] in names]


def info_zip(work, args, files):
    for name, data in files.items():
        with open(os.path.join(work, name), "wb") as f:
            f.write(data)
    out = os.path.join(work, "out.zip")
    if os.path.exists(out):
        os.remove(out)
    subprocess.run(["zip", "-q", "-X"] + args + [out] + list(files), cwd=work, check=True)
    with open(out, "rb") as f:
        return f.read()


def damaged(good):
    """Damaged forms of an archive of two items, the way a failing disk leaves them."""
    end = good.rindex(b"PK\x05\x06")
    directory = struct.unpack_from("<I", good, end + 16)[0]
    second_local = good.index(b"PK\x03\x04", 4)
    out = {}
    # Cut short at every record boundary and in the middle of each record.
    for cut in sorted({second_local, directory, end, directory + 20, end + 10, second_local + 40}):
        out["cut-%d" % cut] = good[:cut]
    def patched(at, fmt, value):
        b = bytearray(good)
        struct.pack_into(fmt, b, at, value)
        return bytes(b)
    out["end-points-past-file"] = patched(end + 16, "<I", len(good) + 1000)
    out["end-count-too-large"] = patched(end + 10, "<H", 40)
    out["central-name-past-end"] = patched(directory + 28, "<H", 0xFFF0)
    out["local-disagrees"] = patched(14, "<I", 0x12345678)  # the local CRC
    out["local-name-past-end"] = patched(26, "<H", 0xFFF0)
    b = bytearray(good)
    b[60] ^= 0x40  # inside the first item's compressed data
    out["flipped-data-byte"] = bytes(b)
    out["claims-4-gb"] = patched(directory + 24, "<I", 0xFFFFFFFF)
    return out


def main():
    work = tempfile.mkdtemp()
    try:
        archives = {}

        # Inflate: options byte (1 Deflate64, 2 Adler-32, 4 partial size + 2 bytes), stream.
        folder = corpus("Inflate")
        put(folder, "empty-final-stored", b"\x00" + raw_deflate(b"", 0))
        put(folder, "stored", b"\x00" + raw_deflate(TEXT[:300], 0))
        put(folder, "fixed", b"\x00" + raw_deflate(TEXT, 9, zlib.Z_FIXED))
        put(folder, "dynamic", b"\x00" + raw_deflate(TEXT, 9))
        put(folder, "dynamic-adler", b"\x02" + raw_deflate(REPEAT, 6))
        put(folder, "dynamic-partial", b"\x04\x2c\x01" + raw_deflate(TEXT, 1))
        d64 = deflate64_streams(work)
        if d64:
            archives["deflate64"] = d64
            for name, _, method, _, _, _, data in local_entries(d64):
                if method == 9:
                    put(folder, "deflate64-" + name, b"\x01" + data)
                    put(folder, "deflate64-partial-" + name, b"\x05\x00\x10" + data)

        # Legacy decoders: [selector byte], item size (2 bytes), compressed data.
        for target, archive_names in (("Shrink", ["shrink.zip"]),
                                      ("Reduce", ["reduce%d.zip" % f for f in (1, 2, 3, 4)]),
                                      ("Implode", ["implode-4k2.zip", "implode-4k3.zip",
                                                   "implode-8k2.zip", "implode-8k3.zip"])):
            folder = corpus(target)
            for archive in archive_names:
                for name, flags, method, _, _, usize, data in legacy_streams(archive):
                    if target == "Shrink":
                        selector = b""
                    elif target == "Reduce":
                        selector = bytes([method - 2])
                    else:
                        selector = bytes([(1 if flags & 2 else 0) | (2 if flags & 4 else 0)])
                    put(folder, archive[:-4] + "-" + name,
                        selector + struct.pack("<H", usize) + data)

        # Archives.
        folder = corpus("ZipArchive")
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w") as z:
            z.writestr("stored.txt", TEXT[:200], zipfile.ZIP_STORED)
            z.writestr("deflated.txt", TEXT, zipfile.ZIP_DEFLATED)
            z.writestr("empty.bin", b"", zipfile.ZIP_STORED)
        archives["python"] = buffer.getvalue()
        archives["empty"] = zip_of([])
        archives["comment"] = zip_of([("a.txt", 0, 0, zlib.crc32(b"abc"), 3, b"abc")],
                                     b"backup of the data folder")
        archives["encrypted"] = info_zip(work, ["-P", PASSWORD.decode()],
                                         {"enc.txt": TEXT, "rep.bin": REPEAT})
        archives["wrong-password"] = info_zip(work, ["-P", "not-our-password"],
                                              {"w.txt": TEXT[:300]})
        archives["encrypted-stored"] = info_zip(work, ["-0", "-P", PASSWORD.decode()],
                                                {"s.txt": TEXT[:100]})
        # Streamed by zip from standard input: a data descriptor after the data.
        streamed = subprocess.run(["zip", "-q", "-", "-"], input=TEXT[:500],
                                  stdout=subprocess.PIPE, check=True).stdout
        archives["descriptor"] = streamed
        legacy = []
        for archive in ("shrink.zip", "reduce2.zip", "implode-8k3.zip"):
            for name, flags, method, crc, _, usize, data in legacy_streams(archive, ("one.bin",
                                                                                     "same61.bin")):
                legacy.append((archive[:-4] + "/" + name, method, flags, crc, usize, data))
        archives["legacy"] = zip_of(legacy)
        for name, data in archives.items():
            put(folder, name + ".zip", data)
        for name, data in damaged(archives["encrypted"]).items():
            put(folder, "damaged-" + name + ".zip", data)

        # FindEndRecord: start byte, padding byte (k * 512 zeros before), file.
        folder = corpus("FindEndRecord")
        put(folder, "empty", b"\x00\x00")
        put(folder, "end-only", b"\x00\x00" + archives["empty"])
        put(folder, "comment", b"\x05\x00" + archives["comment"])
        put(folder, "python", b"\x10\x00" + archives["python"])
        put(folder, "padded-past-window", b"\x00\x90" + archives["comment"])
        put(folder, "two-ends", b"\x00\x00" + archives["empty"] + archives["comment"])
        put(folder, "comment-too-long",
            b"\x00\x00" + archives["comment"][:-5])

        # Settings files: the backup program's table, as its first start and a backup write it.
        folder = corpus("Settings")

        def s(text):
            return bytes([6, len(text)]) + text.encode()

        def i(value):
            return bytes([2, value & 0xFF]) if -128 <= value <= 127 else \
                bytes([3]) + struct.pack("<h", value)

        def field(name, kind, size, width, version):
            d = s(name) + s(kind) + i(size) + s(name) + s("") + i(width) + b"\x08\x08"
            if version >= 250:
                d += s("Data")
            if version >= 251:
                d += s("")
            return d

        def head(version):
            h = b"TPF0" + b"\x03" + struct.pack("<H", version) + b"\x01"
            for name, kind, size, width in (("elle", "Boolean", 0, 5), ("ellegun", "Integer", 0, 10),
                                            ("oto", "Boolean", 0, 5), ("otogun", "Integer", 0, 10),
                                            ("ikinci", "Boolean", 0, 5),
                                            ("ikinciyol", "String", 75, 75),
                                            ("sonyedek", "Date", 0, 10)):
                h += field(name, kind, size, width, version)
            return h + b"\x00" + b"\x01\x00" + bytes(
                [1, 2, 7, 2, 5, 2, 3, 2, 5, 2, 3, 2, 5, 2, 1, 2, 9, 0])

        first_start = bytes([1, 1, 2, 0, 8, 9, 8, 2, 7, 9, 9, 9, 9, 9, 0, 0])
        after_backup = bytes([1, 1, 2, 1, 8, 9, 8, 2, 7, 9, 9, 8, 9, 8, 6, 8]) + b"E:\\Kopya" + \
            bytes([8, 5, 0, 0, 0, 0, 0, 0, 0xFA, 0xB0, 0x0E, 0x40, 0, 0])
        put(folder, "first-start", head(251) + first_start)
        put(folder, "after-backup", head(251) + after_backup)
        put(folder, "version-250", head(250) + first_start)
        put(folder, "version-249", head(249) + first_start)

        # Deflate round trip: level byte, options byte, repeat byte, data.
        folder = corpus("DeflateRoundTrip")
        put(folder, "normal", b"\x03\x00\x00" + TEXT)
        put(folder, "stored", b"\x00\x00\x00" + TEXT[:300])
        put(folder, "fast-static", b"\x02\x02\x00" + TEXT)
        put(folder, "max-deflate64-long", b"\x05\x34\x1f" + REPEAT)
        put(folder, "super-adler-encrypted", b"\x04\xcc\x03" + TEXT[:700])
        put(folder, "empty", b"\x01\x00\x00")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
