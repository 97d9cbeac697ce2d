#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into corpus/<target>/.

Seeds are sound inputs the fuzzers start from: well-formed replies for every
card command, frames the reader takes, and one input per helper family.
Run it from this folder after changing an input layout; the output is
checked in. The other files in corpus/ are inputs merged in from longer runs
(<fuzzer> -merge=1 corpus/<fuzzer> <run corpus>), kept because each adds
coverage, so a bounded CI run starts deep."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def wire(block):
    x = 0
    for b in block:
        x ^= b
    return (bytes(block + [x]).hex().upper() + "\x03").encode("ascii")


def reply(status, rest):
    return wire([0x60, len(rest) + 1, status] + rest)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# reply_path_fuzzer: selector, 4 bytes of send failures, 64 argument bytes,
# then the line.
more = reply(0x00, [0x61, 0x10])
data = reply(0x00, list(range(0x20, 0x30)) + [0x90, 0x00])
card_error = reply(0xE7, [0x6A, 0x82])
arguments = [0x01, 0x02, 0xA1, 0x08, 0x10] + [0x00] * 59
for selector in range(28):
    header = bytes([selector, 0, 0, 0, 0])
    write("reply_path_fuzzer", f"cmd{selector:02d}-ok", header + bytes(arguments) + (more + data) * 6)
    write("reply_path_fuzzer", f"cmd{selector:02d}-refused", header + bytes(arguments) + card_error + more
          + b"60" + bytes([0xFE]) + b"0300F1" + b"\x03" + data * 4)

# sim_frame_fuzzer: client bytes, cut into frames at 0x03.
power_up = wire([0x60, 0x04, 0x6E, 0x02, 0x00, 0x00])
select = wire([0x60, 0x08, 0xDA, 0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x01])
get_response = wire([0x60, 0x06, 0xDB, 0x00, 0xC0, 0x00, 0x00, 0x06])
get_info = wire([0x60, 0x06, 0xDB, 0x80, 0xC0, 0x02, 0xA1, 0x08])
read_binary = wire([0x60, 0x06, 0xDB, 0x00, 0xB0, 0x84, 0x00, 0x10])
balance = wire([0x60, 0x0A, 0xDA, 0x80, 0x32, 0x00, 0x01, 0x04, 1, 2, 3, 4])
write("sim_frame_fuzzer", "session", power_up + select + get_response + get_info + read_binary + balance)
write("sim_frame_fuzzer", "malformed", b"\x03" + b"6004\x03" + b"60046e020000\x03" + b"600\x03" + b"ZZ\x03")

# helpers_fuzzer: FuzzedDataProvider takes the family from the input's end.
for family in range(10):
    body = bytes((i * 37 + family) & 0xFF for i in range(200))
    write("helpers_fuzzer", f"family{family}", body + bytes([family]))
