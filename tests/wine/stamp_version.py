#!/usr/bin/env python3
"""Copies a Windows exe and gives the copy another file and product version
(the VS_FIXEDFILEINFO of its version resource), as a newer build of the same
program would carry: stamp_version.py IN OUT 1.0.1.0"""
import struct
import sys

src, dst, version = sys.argv[1:4]
parts = [int(p) for p in version.split(".")] + [0] * 4
ms = parts[0] << 16 | parts[1]
ls = parts[2] << 16 | parts[3]
data = bytearray(open(src, "rb").read())
at = data.find(struct.pack("<I", 0xFEEF04BD))
if at < 0:
    sys.exit(f"{src}: no version resource")
# dwSignature, dwStrucVersion, then file version MS/LS and product version MS/LS.
struct.pack_into("<IIII", data, at + 8, ms, ls, ms, ls)
open(dst, "wb").write(data)
