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

# The session target: jobs of a head (mode, paper, options, fail, steps) and
# 5-byte steps (kind, 4 argument bytes); see fuzz/session_fuzzer.cpp.
def step(kind, *args):
    return bytes([kind]) + bytes(args[:4]).ljust(4, b'\0')


def word(v):
    return (v & 255, v >> 8)


def point(kind, x, y):
    return step(kind, *word(x), *word(y))


VECTORS = [step(0, 3), step(1, 2), step(2, *word(400)), point(3, 1000, 1000), point(4, 5000, 1200),
           point(4, 5200, 4000), step(5), step(6, 0x13, *word(6000), 20), step(8, 0x45, 0x35, 30, 70),
           step(0, 5), point(3, 100, 100), point(4, 9000, 100), point(4, 9000, 7000), step(5)]
IMAGE_FIRST = [step(8, 0x0B, 0x58, 40, 40), point(3, 500, 500), point(4, 2500, 700), step(0, 2),
               step(2, *word(200)), point(4, 2500, 2500), step(5)]
LINE_TYPES = [step(9, 8), step(0, 1)] + sum(([step(1, t), point(3, 1000, 900 * t), point(4, 8000, 900 * t)]
                                             for t in range(1, 9)), [])
BY_ADDRESS = [step(0, 4), step(7, 0x27, *word(9000), 40), step(10, 6), step(1, 5), point(3, 10, 10),
              point(4, 60000, 30000), step(11)]


def session_job(vcgl, res, steps, paper=1, options=0x10, around=0, fail=0, no_res=False, red=False):
    mode = (1 if vcgl else 0) | (res << 1) | (8 if no_res else 0) | (16 if red else 0) | (around << 5)
    return bytes([mode, paper, options, fail, len(steps)]) + b''.join(steps)


os.makedirs('fuzz/corpus/session', exist_ok=True)
session = {}
for vcgl in (0, 1):
    m = 'vcgl' if vcgl else 'rtl'
    for res in range(4):
        session['%s-%d-vectors' % (m, res)] = session_job(vcgl, res, VECTORS)
    session[m + '-replay'] = session_job(vcgl, 0, VECTORS) + session_job(vcgl, 1, IMAGE_FIRST)
    session[m + '-image-first'] = session_job(vcgl, 2, IMAGE_FIRST)
    session[m + '-line-types'] = session_job(vcgl, 0, LINE_TYPES) + session_job(vcgl, 3, LINE_TYPES[1:])
    session[m + '-by-address'] = session_job(vcgl, 1, BY_ADDRESS, options=0x20)
    for paper, options in ((5, 0x10), (12, 0x40), (23, 0x05), (33, 0x1F), (41, 0xC0), (44, 0)):
        session['%s-paper-%d' % (m, paper)] = session_job(vcgl, 1, VECTORS[:9], paper, options)
    for around, fail in ((4, 0), (5, 0), (6, 3), (6, 90), (7, 0)):
        session['%s-around-%d-%d' % (m, around, fail)] = (
            session_job(vcgl, 0, VECTORS) + session_job(vcgl, 0, VECTORS, around=around, fail=fail) +
            session_job(vcgl, 0, VECTORS))
    session[m + '-no-resolution'] = session_job(vcgl, 2, VECTORS) + session_job(vcgl, 0, VECTORS, no_res=True)
    session[m + '-red'] = session_job(vcgl, 0, VECTORS, red=True)
    session[m + '-empty-then-job'] = session_job(vcgl, 0, []) + session_job(vcgl, 0, VECTORS)
session['modes-alternating'] = b''.join(session_job(i % 2, i % 4, VECTORS) for i in range(4))
session['modes-alternating-papers'] = b''.join(
    session_job(i % 2, 3 - i % 4, VECTORS[:8], paper=1 + 7 * i, options=i * 37 % 256) for i in range(5))
for name, data in session.items():
    open('fuzz/corpus/session/' + name, 'wb').write(data)

# Plot files: HP-GL/2 in PJL with every group of commands, HP-GL without
# PJL, and HP-RTL raster in each compression mode.
PJL = b'\x1b%-12345X@PJL\r\n@PJL ENTER LANGUAGE=HPGL2\r\n'
PAGE = PJL + b'IN;PS48768,36576;SP1;'
ROW = bytes([0xF0, 0x0F, 0xAA])


def rtl(mode, data):
    return (PAGE + b'PU1000,1000;\x1b%1A\x1b*t300R\x1b*r24s4T\x1b*r1A\x1b*b' + b'%dM' % mode +
            data + b'\x1b*rC\x1b%0BPG;')


def transfer(data, op=b'W'):
    return b'\x1b*b%d' % len(data) + op + data


os.makedirs('fuzz/corpus/hpgl', exist_ok=True)
hpgl = {
    'vectors': PAGE + b'PU1000,1000;PD5000,1000,5000,5000;PR;PD-4000,0;PA;CI500;AA3000,3000,90;'
               b'AT4000,4000,5000,3000;EA6000,6000;RA7000,7000;EW500,0,90;WG500,90,90;PG;',
    'polygon': PAGE + b'PU1000,1000;PM0;PD2000,1000,2000,2000;PM1;PU1200,1200;PD1500,1200,1500,1500;'
               b'PM2;FT3,100,45;FP;FT10,30;FP1;EP;PG;',
    'pens-lines': PAGE + b'NP8;PC2,255,0,0;SP2;PW0.5;LT-3,2;PD100,100;UL1,50,50;LT1,3,1;PD200,0;'
                  b'WU1;PW0.2;LT0;PD300,300;LT99;PG;',
    'labels': PAGE + b'DT#,1;SI0.5,0.7;DI0,1;LO5;LBlabel#SD2,1,4,14;SS;SL0.3;ES1;CP2,1;LBnext#PG;',
    'frame': PAGE + b'RO90;IP;SC0,100,0,100,1;IW10,10,90,90;PU0,0;PD100,100;IR10,10,90,90;PG;',
    'encoded': PAGE + b'PE7<_Ok@`_@`Ok_;PE:\xc1=<\xc7\xcf>\xc1G\xc2\xbf;PG;',
    'hpgl1': b'IN;IP250,596,10250,7796;SC0,1000,0,720;SP1;PA0,0;PD1000,0,1000,720;PU;'
             b'PA500,360;CI100;SI0.3,0.45;LBPEN\x03SP0;',
    'rtl-0': rtl(0, transfer(ROW) * 4),
    'rtl-1': rtl(1, transfer(b'\x02\xf0') * 4),
    'rtl-2': rtl(2, transfer(b'\x02' + ROW) * 4),
    'rtl-3': rtl(3, transfer(b'\x00\xf0') + transfer(b'') * 3),
    'rtl-5': rtl(5, transfer(b'\x00\x00\x03' + ROW + b'\x05\x00\x02\x04\x00\x01')),
    'rtl-colour': rtl(0, b'\x1b*r3U' + (transfer(ROW, b'V') * 2 + transfer(ROW)) * 4),
}
for name, data in hpgl.items():
    open('fuzz/corpus/hpgl/' + name, 'wb').write(data)
