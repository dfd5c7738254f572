#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: valid frames, datagram sequences, images
and IPv4 texts, made from the frame and image layouts (standard library only)."""
import os
import random
import struct

WEIGHTS = [1181, 3079, 5521, 6863, 7499, 8237, 9479, 11083,
           13477, 14533, 15679, 17477, 19727, 21391, 24499, 27583]


def checksum(data, start=0):
    s = start
    for i, b in enumerate(data):
        s = (s + (((b ^ 0x5A) * WEIGHTS[i % 16]) & 0xFFFF)) & 0xFFFF
    return s


def reply(source, code, data=b"", destination=1):
    body = bytes([code, 0]) + data
    head = b"\xAA\x55" + struct.pack("<HII", len(body), source, destination) + body
    return head + struct.pack("<H", checksum(head))


def kernel(offset, major, size):
    rnd = random.Random(size + offset)
    image = bytearray(rnd.getrandbits(8) for _ in range(size))
    header = struct.pack("<HHHHIIHHHHHIIIII", major, 1, 0x6A2F, 0, size, 0, 10, 0, 7, 3, 9, 0, 0, 0, 0, 0)
    image[offset:offset + len(header)] = header
    return bytes(image)


def program(size, sealed_kind=None):
    rnd = random.Random(size)
    image = bytearray(rnd.getrandbits(8) for _ in range(size))
    image[0:16] = struct.pack("<HHH6sI", 0xFFFF, 0xFFFF, 0xFFFF, b"\x01\x02\x03\x04\x05\x06", 0xFFFFFFFF)
    image[16:20] = struct.pack("<I", size)
    image[64:70] = struct.pack("<IH", 0, 0)
    if sealed_kind is not None:
        image[0:6] = struct.pack("<HHH", 0, sealed_kind, checksum(image[16:size]))
    return bytes(image)


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
frames = {
    "ack": reply(1000, 1),
    "error5": reply(1000, 5),
    "status": reply(1000, 1, b"\x01\x05"),
    "identification": reply(0xFFFFFFFF, 1, struct.pack("<HH8sI8s", 3, 2, b"A" * 8, 0xFFFFFFFF, b"a" * 8)),
    "block": reply(1002, 1, bytes(range(256))),
}
for name, frame in frames.items():
    text = frame.hex().upper().encode()
    write(os.path.join(here, "fuzz_frame"), name, text)
    write(os.path.join(here, "fuzz_frame"), name + "-twice", text + text[:40])
    # One datagram, the same split in two, and noise before the frame.
    half = len(frame) // 2
    write(os.path.join(here, "fuzz_datagrams"), name, bytes([0x80 | min(len(frame), 0x7E)]) + frame[:0x7E])
    write(os.path.join(here, "fuzz_datagrams"), name + "-split",
          bytes([0x80 | min(half, 0x7E)]) + frame[:min(half, 0x7E)] + bytes([0x7F]) + frame[min(half, 0x7E):])
    write(os.path.join(here, "fuzz_datagrams"), name + "-noise", bytes([0x7F]) + b"\x13\x37" + frame)

write(os.path.join(here, "fuzz_images"), "kernel-xa", bytes([2]) + kernel(0x120, 2, 0x4000))
write(os.path.join(here, "fuzz_images"), "kernel-arm", bytes([4]) + kernel(0x400, 3, 0x4400))
write(os.path.join(here, "fuzz_images"), "program-erased", bytes([0]) + program(600))
write(os.path.join(here, "fuzz_images"), "program-sealed-xa", bytes([1]) + program(300, 0x7AB7))
write(os.path.join(here, "fuzz_images"), "program-sealed-arm", bytes([0]) + program(300, 0x7AB8))

for i, text in enumerate(["1.2.3.4", "255.255.255.255", "192.168.1.10255.255.255.0", "010.001.000.255",
                          "1..2.3", "256.1.1.1", "127.0.0.1255.0.0.0"]):
    write(os.path.join(here, "fuzz_iptext"), "ip%d" % i, text.encode())

# Fallback files of unwritten records: whole, cut short by a crash, glued after a full disk.
record = (b'{"key":"0b7c","unit":"127.0.0.2","station":"line-1","start":"2026-03-02T09:00:00.000Z",'
          b'"outcome":"ok","serial":1000,"serialTaken":1000,"series":"default",'
          b'"steps":{"serial":"ok","kernel":"ok","program":"ok","verify":"---"}}')
write(os.path.join(here, "fuzz_fallback"), "two", record + b"\n" + record.replace(b"0b7c", b"0b7d") + b"\n")
write(os.path.join(here, "fuzz_fallback"), "cut", record + b"\n" + record[:70])
write(os.path.join(here, "fuzz_fallback"), "glued", record[:50] + record + b"\r\n\n")
