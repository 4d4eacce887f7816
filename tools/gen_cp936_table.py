#!/usr/bin/env python3
"""Generates common/cp936_table.cpp: the double-byte mapping of code page 936
(GBK as Windows defines it) as two sorted arrays of (key, value) pairs.

The source of truth is Python's cp936 codec. Where glibc's iconv is available
(the default on Linux) every double-byte code is cross-checked against
iconv's CP936 converter and the generator refuses to write when they differ.

Windows' table adds one single-byte code, 0x80 -> U+20AC (euro sign); the
Python codec lacks it, so it is added here (glibc's CP936 agrees).

Facts the generator checks before writing (it exits non-zero otherwise):
  * 21,791 double-byte codes (lead 0x81..0xFE, trail 0x40..0xFE without 0x7F)
    plus 0x80, 21,792 pairs in all;
  * keys unique in both directions, so the two arrays are exact inverses.
    No character has two codes in this code page: A1AA is U+2014 and A844
    U+2015, A1A4 is U+00B7 (Windows' own table has the same three pairs);
  * first pairs 0080->20AC, 8140->4E02, last FE4F->FA29; encoding keys run
    from U+00A4 to U+FFE5.

Usage: tools/gen_cp936_table.py [output.cpp] [--no-iconv]
"""

import ctypes
import ctypes.util
import sys

PAIR_COUNT = 21792


def python_table():
    table = {}
    for lead in range(0x81, 0xFF):
        for trail in range(0x40, 0xFF):
            if trail == 0x7F:
                continue
            try:
                text = bytes([lead, trail]).decode("cp936")
            except UnicodeDecodeError:
                continue
            if len(text) != 1:
                sys.exit("code %02X%02X decodes to %d characters" % (lead, trail, len(text)))
            table[lead * 256 + trail] = ord(text)
    return table


def iconv_table():
    """The same walk through glibc's iconv; None when iconv is not there."""
    name = ctypes.util.find_library("c")
    if not name:
        return None
    libc = ctypes.CDLL(name, use_errno=True)
    libc.iconv_open.restype = ctypes.c_void_p
    libc.iconv_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
    libc.iconv.restype = ctypes.c_size_t
    libc.iconv.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_char_p),
                           ctypes.POINTER(ctypes.c_size_t),
                           ctypes.POINTER(ctypes.c_char_p),
                           ctypes.POINTER(ctypes.c_size_t)]
    libc.iconv_close.argtypes = [ctypes.c_void_p]
    cd = libc.iconv_open(b"UTF-32LE", b"CP936")
    if cd is None or cd == ctypes.c_void_p(-1).value:
        return None

    def convert(raw):
        libc.iconv(cd, None, None, None, None)  # reset the shift state
        inbuf = ctypes.create_string_buffer(raw, len(raw))
        outbuf = ctypes.create_string_buffer(16)
        inp = ctypes.c_char_p(ctypes.addressof(inbuf))
        outp = ctypes.c_char_p(ctypes.addressof(outbuf))
        inleft = ctypes.c_size_t(len(raw))
        outleft = ctypes.c_size_t(16)
        res = libc.iconv(cd, ctypes.byref(inp), ctypes.byref(inleft),
                         ctypes.byref(outp), ctypes.byref(outleft))
        if res == ctypes.c_size_t(-1).value or inleft.value != 0:
            return None
        produced = 16 - outleft.value
        if produced != 4:
            return None
        return int.from_bytes(outbuf.raw[:4], "little")

    table = {}
    try:
        for lead in range(0x81, 0xFF):
            for trail in range(0x40, 0xFF):
                if trail == 0x7F:
                    continue
                cp = convert(bytes([lead, trail]))
                if cp is not None:
                    table[lead * 256 + trail] = cp
        euro = convert(b"\x80")
    finally:
        libc.iconv_close(cd)
    return table, euro


def check(cond, message):
    if not cond:
        sys.exit("cp936 table: " + message)


def main(argv):
    out = "common/cp936_table.cpp"
    use_iconv = True
    for arg in argv[1:]:
        if arg == "--no-iconv":
            use_iconv = False
        else:
            out = arg

    decode = python_table()
    check(len(decode) == PAIR_COUNT - 1, "%d double-byte codes" % len(decode))
    if use_iconv:
        other = iconv_table()
        if other is None:
            print("iconv not available; table not cross-checked", file=sys.stderr)
        else:
            table, euro = other
            check(table == decode, "Python's codec and iconv disagree")
            check(euro == 0x20AC, "iconv maps 0x80 to %r" % euro)
    decode[0x80] = 0x20AC

    check(len(decode) == PAIR_COUNT, "pair count %d" % len(decode))
    encode = {}
    for code, unit in decode.items():
        check(unit <= 0xFFFF and not 0xD800 <= unit <= 0xDFFF,
              "code %04X maps outside the basic plane" % code)
        check(unit not in encode, "U+%04X has two codes" % unit)
        encode[unit] = code
    dec = sorted(decode.items())
    enc = sorted(encode.items())
    check(dec[0] == (0x0080, 0x20AC) and dec[1] == (0x8140, 0x4E02), "first pairs")
    check(dec[-1] == (0xFE4F, 0xFA29), "last pair")
    check(enc[0][0] == 0x00A4 and enc[-1][0] == 0xFFE5, "encoding key range")

    lines = [
        "// Generated by tools/gen_cp936_table.py from the published mapping of",
        "// code page 936; do not edit by hand.",
        "",
        '#include "common/cp936_table.h"',
        "",
        "namespace text::cp936 {",
        "",
    ]

    def emit(name, pairs):
        lines.append("const CodePair %s[kPairCount] = {" % name)
        for i in range(0, len(pairs), 6):
            row = " ".join("{0x%04X, 0x%04X}," % p for p in pairs[i:i + 6])
            lines.append("    " + row)
        lines.append("};")
        lines.append("")

    emit("kDecodeTable", dec)
    emit("kEncodeTable", enc)
    lines.append("}  // namespace text::cp936")
    with open(out, "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    print("wrote %s: %d pairs" % (out, len(dec)))


if __name__ == "__main__":
    main(sys.argv)
