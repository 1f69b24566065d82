#!/usr/bin/env python3
"""Writes the seed corpus of the package fuzz target (fuzz/corpus/package/): small show packages
in both trailer forms, with stored, deflated and scrambled entries, plus a few damaged ones."""
import os
import struct
import sys
import zlib

KEY = b"5D27E0B9C4163AF8D05B9E21C7A4683F"


def raw_deflate(data):
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    return packer.compress(data) + packer.flush()


def scramble(data):
    return bytes(b ^ KEY[i % 32] for i, b in enumerate(data))


def package(entries, prefix=b"", appended=False, protection=None, allow_modify=False, extra=""):
    out = bytearray(prefix)
    base = len(prefix) if appended else 0
    lines = ["\ufeff"]
    for name, data, kind in entries:
        stored = {0: data, 1: raw_deflate(data), 2: scramble(data)}[kind]
        lines.append("[%s]\r\n_ps=%d\r\n_sz=%d\r\n_pm=%d\r\n" % (name, len(out), len(stored), kind))
        out += stored
    lines.append(extra)
    directory = len(out)
    if protection is None:
        protection = "strucpos=%d\r\nallowmodify=%d\r\nkivversion=seed\r\n" % (directory, allow_modify)
    lines.append("[$protection$]\r\n" + protection)
    out += raw_deflate("".join(lines).encode("utf-8"))
    out += struct.pack("<q", directory - base) + b".dne"
    if appended:
        out += struct.pack("<q", len(out) - base)
    return bytes(out)


def main(folder):
    os.makedirs(folder, exist_ok=True)
    project = b"[Main]\r\nopt_title=Seed\r\n" * 4
    seeds = {
        "own_stored": package([("Project.kiv", project, 0)]),
        "own_mixed": package([("Project.kiv", project, 1), ("img\\a.bin", bytes(range(256)), 2),
                              ("shot<1>.txt", b"bracket", 0), ("a#09b", b"tab", 1)]),
        "appended": package([("Project.kiv", project, 0)], prefix=b"\x7fELF" + bytes(60), appended=True),
        "moved_allowed": bytes(100) + package([("Project.kiv", project, 2)], prefix=bytes(50), appended=True,
                                              allow_modify=True),
        "moved_locked": bytes(100) + package([("Project.kiv", project, 2)], prefix=bytes(50), appended=True),
        "bad_strucpos": package([("x", b"x", 0)], protection="strucpos=abc\r\nallowmodify=1\r\n"),
        "entry_past_end": package([("x", b"x", 0)], extra="[far]\r\n_ps=2\r\n_sz=9000\r\n[neg]\r\n_ps=-4\r\n_sz=-1\r\n"),
        "empty_directory": package([]),
        "truncated": package([("Project.kiv", project, 1)])[:30],
        "no_trailer": b"just some bytes that are no package",
    }
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as handle:
            handle.write(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "fuzz", "corpus", "package"))
