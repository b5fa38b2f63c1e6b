#!/usr/bin/env python3
"""Writes the seed corpora: the request sequences the test suite plays (a
plot job with vectors, polygons and an image in each data mode, the
configuration requests, failures of the host), MMR rows and job scripts.
Run from the repository root: python3 fuzz/make_seeds.py"""
import os
import struct


def rec(code, body=b'', driver=False, flags=0):
    return struct.pack('<BhH', (1 if driver else 0) | flags, code, len(body)) + body


def pad(offset_values):
    """Packet bytes from +2 on, from (offset, struct format, value) triples."""
    b = bytearray(300)
    for off, fmt, val in offset_values:
        data = struct.pack('<' + fmt, val)
        b[off - 2:off - 2 + len(data)] = data
    return bytes(b.rstrip(b'\0')) or b'\0'


def config(mode_flags):
    # applyConfigDefaults, as the host stores it
    return struct.pack('<iiihhhhihhHHh5BB', 1, 1, 396, 0, 0, 0, 0, 1, 2, 0, 0x1000, mode_flags, 0, 0, 123, 187, 228, 255, 0)


def job(vcgl):
    res = 800.0 if vcgl else 1016.0
    seq = rec(50, driver=True) + rec(11, pad([(4, 'h', 14)]), driver=True) + rec(21, driver=True) + rec(47, driver=True)
    seq += rec(49, pad([(4, 'h', 1), (7, 'B', 2)])) + rec(50) + rec(29, pad([(4, 'h', 14)]))
    seq += rec(46) + rec(47, pad([(9, 'd', 40.0), (17, 'd', 30.0)]))
    seq += rec(48, pad([(9, 'd', 40.0), (17, 'd', 30.0), (41, 'd', res), (49, 'd', res)]))
    seq += rec(30)
    seq += rec(36, pad([(4, 'h', 8)])) + rec(7, pad([(4, 'H', 3)])) + rec(41, pad([(4, 'd', 0.0138)]))
    seq += rec(5, pad([(4, 'H', 3)])) + rec(3, pad([(4, 'H', 100), (6, 'H', 200)]))
    seq += rec(4, pad([(4, 'H', 150), (6, 'H', 200)])) + rec(8) + rec(4, pad([(4, 'H', 150), (6, 'H', 300)]))
    tri = pad([(6, 'h', 3), (10, 'h', 3), (12, 'H', 0), (14, 'H', 0), (16, 'H', 100), (18, 'H', 0), (20, 'H', 100), (22, 'H', 100)])
    seq += rec(33, tri) + rec(54, pad([(4, 'h', 3), (6, 'h', 40)]))
    image = pad([(16, 'i', 1000), (20, 'i', 2000), (24, 'i', 3000), (28, 'i', 2500), (32, 'i', 2), (36, 'i', 40),
                 (40, 'i', 10), (46, 'h', 24), (48, 'h', 7)])
    seq += rec(52, image, flags=8 << 2) + rec(31) + rec(15) + rec(2)
    return seq


os.makedirs('fuzz/corpus/requests', exist_ok=True)
seeds = {
    'rtl-job': b'\0\0' + job(False),
    'vcgl-job': b'\0\0' + job(True),
    'write-fails': bytes([5 << 2, 0]) + job(False),
    'no-config': bytes([1, 0]) + job(False),
    'no-memory': bytes([0, 1]) + job(True),
}
for name, data in seeds.items():
    open('fuzz/corpus/requests/' + name, 'wb').write(data)

os.makedirs('fuzz/corpus/mmr', exist_ok=True)
open('fuzz/corpus/mmr/one-row', 'wb').write(bytes([1, 0, 0x1C, 0, 0, 0, 0, 0, 0, 0]))
open('fuzz/corpus/mmr/alternating', 'wb').write(bytes([7, 31, 1]) + bytes([0x55, 0xAA]) * 64)
open('fuzz/corpus/mmr/dense', 'wb').write(bytes([63, 63, 0]) + bytes(range(256)))

os.makedirs('fuzz/corpus/script', exist_ok=True)
# The script target's first byte: 0 a job script, 1 a DXF drawing.
open('fuzz/corpus/script/job.adi', 'w').write('\0' +
    '# a job\nmove 100 200\ndraw 150 200\npenup\ndraw 150 300\npen 3\nlinetypes 8\nlinetype 3\n'
    'width 0.35mm\nwidth 0.01\npolygon 3 0,0 100,0 100,100\nsummary\ncatalogue\n'
    'request 41 4:f64=0.5\nrequest 52 16:i32=1000 36:i32=4 40:i32=4 73:str=abc\n')
open('fuzz/corpus/script/errors.adi', 'w').write('\0move 1\ndraw 70000 0\npolygon x\nimage a.png 1 2 3\n')
