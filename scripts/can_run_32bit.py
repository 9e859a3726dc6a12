#!/usr/bin/env python3
"""Exits 0 when this machine's kernel runs 32-bit x86 code, 1 when it does not.

Runs a minimal hand-made i386 ELF program (exit(0) through int 0x80), so no
32-bit toolchain or library is needed to find out. Standard library only.
"""
import os
import struct
import subprocess
import sys
import tempfile

BASE = 0x08048000
HEADER_SIZE = 52 + 32  # ELF header and one program header
# mov eax, 1 (exit); xor ebx, ebx (status 0); int 0x80
CODE = bytes([0xB8, 0x01, 0x00, 0x00, 0x00, 0x31, 0xDB, 0xCD, 0x80])


def program():
    size = HEADER_SIZE + len(CODE)
    ident = b"\x7fELF" + bytes([1, 1, 1]) + bytes(9)  # 32-bit, little-endian, version 1
    header = ident + struct.pack(
        "<HHIIIIIHHHHHH", 2, 3, 1, BASE + HEADER_SIZE, 52, 0, 0, 52, 32, 1, 0, 0, 0
    )
    segment = struct.pack("<IIIIIIII", 1, 0, BASE, BASE, size, size, 5, 0x1000)
    return header + segment + CODE


def main():
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "probe32")
        with open(path, "wb") as out:
            out.write(program())
        os.chmod(path, 0o755)
        try:
            return 0 if subprocess.run([path], timeout=10).returncode == 0 else 1
        except OSError:
            return 1


if __name__ == "__main__":
    sys.exit(main())
