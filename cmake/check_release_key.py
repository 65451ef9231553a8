#!/usr/bin/env python3
"""Exits 0 when the argument is an ECDSA P-256 public key as 128 hexadecimal
digits (X || Y) whose point lies on the curve; otherwise says why and exits 1."""

import re
import sys

P = 2**256 - 2**224 + 2**192 + 2**96 - 1
B = 0x5AC635D8AA3A93E7B3EBBD55769886BC651D06B0CC53B0F63BCE3C3E27D2604B


def problem(text):
    if not re.fullmatch(r"[0-9a-fA-F]{128}", text):
        return f"is not 128 hexadecimal digits (X || Y), but {len(text)} characters"
    x, y = int(text[:64], 16), int(text[64:], 16)
    if x >= P or y >= P or (y * y - (x * x * x - 3 * x + B)) % P != 0:
        return "is not a point on the P-256 curve"
    return None


if __name__ == "__main__":
    reason = problem(sys.argv[1])
    if reason:
        print(f"'{sys.argv[1]}' {reason}", file=sys.stderr)
    sys.exit(1 if reason else 0)
