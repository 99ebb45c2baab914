#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into tests/fuzz/corpus/<target>/.

Seeds are whole, well-formed exchanges and files (the fuzzer starts from
them and damages them); inputs named regress-* reproduce faults found
earlier and are kept as they are. Run again after changing an input format.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# --- analyzer: operations 0 tick(chunk), 1 receive(chunk), 2 time, 3 store, 4 batch, 5 state
def frame(code, payload=b"", model=0):
    length = 12 + len(payload)
    body = bytes([code, 0x21, model, 0, 0]) + struct.pack(">H", length) + payload
    return b"\xAA\xBB" + body + bytes([sum(body) & 0xFF]) + b"\xCC\xDD"


def utf16(text):
    return text.encode("utf-16-be")


def status(state):
    return frame(0x81, bytes([0x0D, state]), model=2)


def chunks(op, data, size):
    out = b""
    for i in range(0, len(data), size):
        part = data[i:i + size]
        out += bytes([op, len(part)]) + part
    return out


def later(ms):
    return bytes([2]) + struct.pack("<H", ms)


PERSON = utf16("12#Li#1#1990#34#170.5#")
WHOLE = utf16("12#2024-05-06#" + "#".join(str(10 + i * 1.5) for i in range(25)) + "#")
SEGMENT = utf16("12#2024-05-06#" + "#".join(str(2 + i * 0.25) for i in range(25)) + "#")
IMPEDANCE = utf16("12#2024-05-06#" + "#".join(str(300 + i * 7.5) for i in range(25)) + "#")


def download(size, noise=b""):
    steps = [(0, status(5)), (1, frame(0x85, PERSON)), (1, frame(0x86, WHOLE)), (1, frame(0x87, SEGMENT)),
             (1, frame(0x89, IMPEDANCE)), (0, frame(0x8D)), (0, status(1))]
    out = b""
    for op, data in steps:
        out += chunks(op, noise + data, size) + later(400)
    return out


write("analyzer", "download-whole-reads", download(255))
write("analyzer", "download-7-byte-reads", download(7))
write("analyzer", "download-noise-in-front", download(60, noise=b"\x00\xFF\x13garbage"))
write("analyzer", "batch", bytes([4]) + chunks(0, status(0x0A), 255) + download(40)[len(chunks(0, status(5), 40)):]
      + chunks(0, status(9), 255))
write("analyzer", "store-refused-then-taken", bytes([3]) + download(255) + later(1000) + bytes([3])
      + chunks(0, b"", 1) + later(1000) + chunks(0, status(5), 255))
damaged = bytearray(frame(0x86, WHOLE))
damaged[20] ^= 0x01
write("analyzer", "damaged-twice", chunks(0, status(5), 255) + chunks(1, frame(0x85, PERSON), 255)
      + chunks(1, bytes(damaged), 255) + later(2500) + chunks(0, b"", 1) + chunks(1, bytes(damaged), 255))
write("analyzer", "pc-control", bytes([5, 5]) + chunks(0, frame(0x83), 255) + chunks(0, frame(0x84), 255)
      + chunks(0, status(3), 255) + download(255))


# --- fitness: operations 0 tick, 1 receive(chunk), 2 time, 3 store
def tick(n=1):
    return bytes([0]) * n


def read(data):
    return bytes([1, len(data)]) + data


def result(uid, terminal, code, value):
    """The station's result text: user number padded to 16, terminal, item code and value."""
    text = uid.ljust(16).encode() + b" %02d " % terminal + code + value.rjust(5, b"0")
    assert len(text) == 27
    return text


RESULT = result("12345", 3, b"06", b"384")  # grip strength, 384 N
write("fitness", "one-result", tick() + read(b"3") + read(RESULT) + tick(2))
write("fitness", "result-in-pieces", tick(3) + read(b"3") + read(RESULT[:5]) + read(RESULT[5:26])
      + read(RESULT[26:]) + tick())
write("fitness", "duplicate-and-refused", tick() + read(b"3") + read(RESULT) + tick(12) + read(b"3")
      + read(RESULT) + bytes([3]) + tick(12) + read(b"3") + read(result("ABCDEFGHIJKLMNOP", 10, b"15", b"-1.5")))
write("fitness", "stalled-reception", tick() + read(b"3") + read(RESULT[:10]) + bytes([2]) + struct.pack("<H", 4000)
      + tick(2) + read(b"3") + read(RESULT))
# The station's fault: line noise read together with the first bytes of a
# result (24 + 3 bytes in one read) was taken as a whole result, and noise in
# front of the ready answer stopped the reception.
noise = bytes((i * 37 + 11) % 256 for i in range(24))
write("fitness", "regress-noise-before-result", tick() + read(b"3") + read(noise + RESULT[:3]) + read(RESULT[3:])
      + tick())
write("fitness", "regress-printable-noise-before-result",
      tick() + read(b"3") + read(b"987654321098765432109876" + RESULT[:3]) + read(RESULT[3:]) + tick())
write("fitness", "regress-noise-before-ready", tick() + read(noise[:5] + b"3") + read(RESULT) + tick())

# --- personimport: the file itself
write("personimport", "utf8", "单位,用户编号,姓名,性别,出生年份,身高\nU1,N001,张三,男,1990,175\nU1,002,李四,女,1985,162.5\n"
      .encode("utf-8"))
write("personimport", "gb18030-crlf", "单位,用户编号,姓名,性别,出生年份,身高\r\nU1,003,王五,男,1979,180\r\n".encode("gb18030"))
write("personimport", "utf16le-bom", "\ufeffUUID,UID,Name,Sex,BirthYear,Height\nU,004,赵六,女,2001,158\n"
      .encode("utf-16-le"))
write("personimport", "quoted", b'UUID,UID,Name,Sex,BirthYear,Height\r\n"U,1","00""5","Line\nbreak",1,1990,170\r\n'
      b'U,A1,dup,1,1990,170\n,,,,,\nU,7,short\n')
# A quote inside a field is a character: it once swallowed the rest of the file.
write("personimport", "regress-stray-quote", b'UUID,UID,Name,Sex,BirthYear,Height\nU,8,Tom "T" Lee,1,1990,170\n'
      b'U,9,Ann,2,1991,160\n')

# --- layoutrows: operations 0 cell, 1 delete row, 2 drop column, 3 Report.Selected, 4 drop table,
#     5 record value, 6 tag. Values: kind byte, then its bytes.
def int_value(v):
    return bytes([1]) + struct.pack("<q", v)


def text_value(t):
    data = t.encode("utf-8")
    return bytes([4, len(data)]) + data


def cell(row, column, value):
    return bytes([0, row]) + struct.pack("<H", column) + value


def tag(n):
    return bytes([6, n])


write("layoutrows", "supplied-tq40", tag(0))
write("layoutrows", "selected-from-report", bytes([3]) + text_value("水分报告") + tag(9))
write("layoutrows", "unknown-tag-and-text", cell(0, 2, text_value("abc")) + tag(8))
write("layoutrows", "dropped", bytes([2]) + struct.pack("<H", 2) + bytes([1, 0]) + bytes([4, 0]) + tag(9))
# Positions at the ends of the int range and a birth year of -2147483648
# overflowed when offsets were added and the age was computed.
extremes = b"".join(cell(row, column, int_value(2147483647 if column % 2 else -2147483648))
                    for row in (0, 3, 4) for column in range(0, 224, 3))
write("layoutrows", "regress-extreme-positions", extremes + bytes([5]) + struct.pack("<H", 5)
      + int_value(-2147483648) + tag(3))
write("layoutrows", "regress-extreme-positions-water", extremes + tag(4))

# --- csvroundtrip: rows of (1 + byte % 12) values
def row(*values):
    return bytes([len(values) - 1]) + b"".join(values)


write("csvroundtrip", "plain", row(text_value("001"), text_value("张三"), int_value(42), bytes([3]) +
                                   struct.pack("<d", 63.5), bytes([0])))
write("csvroundtrip", "quoting", row(text_value('a,b'), text_value('say "hi"'), text_value("two\nlines"),
                                     text_value(" padded "), text_value("\r\n")))
write("csvroundtrip", "formulas", row(text_value("=1+1"), text_value("-5"), text_value("+86 10"),
                                      text_value("@SUM(A1)"), text_value("\tx"), text_value("-1e5")))
