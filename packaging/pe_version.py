#!/usr/bin/env python3
"""Prints the file version and language of a Windows program's version
resource, as the MSI's File table wants them: "1.0.4.0 1053".

    packaging/pe_version.py build/windows/tolmar07.exe

The fixed part of the resource (VS_FIXEDFILEINFO) starts with the signature
FEEF04BD; the language is the first one of VarFileInfo's "Translation" value.
Exits with 1 and a message when either is missing or found twice.
"""
import struct
import sys


def main(path):
    data = open(path, "rb").read()
    signature = struct.pack("<I", 0xFEEF04BD)
    at = data.find(signature)
    if at < 0 or data.find(signature, at + 1) >= 0:
        sys.exit(f"{path}: no single version resource")
    ms, ls = struct.unpack_from("<II", data, at + 8)  # dwFileVersionMS, dwFileVersionLS
    version = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
    key = "Translation\0".encode("utf-16-le")
    t = data.find(key)
    if t < 0 or data.find(key, t + 1) >= 0:
        sys.exit(f"{path}: no single Translation value")
    value = t + len(key)
    value += (-value) % 4  # the value starts on a 32-bit boundary
    language, _codepage = struct.unpack_from("<HH", data, value)
    print(version, language)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: pe_version.py PROGRAM.exe")
    main(sys.argv[1])
