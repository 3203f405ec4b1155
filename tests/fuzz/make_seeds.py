#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into tests/fuzz/corpus/<target>/.

Each seed is a well-formed session or file in the input layout its target reads
(see the comment at the top of each fuzz_*.cpp), so the fuzzer starts from the
normal paths and mutates from there. Run it again after changing a layout."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def le16(value):
    return struct.pack("<H", value)


# --- LAN peers: events of FuzzStream -----------------------------------------
def segment(data):
    if isinstance(data, str):
        data = data.encode("latin-1")
    if 0 < len(data) < 256:
        return bytes([0, len(data)]) + data
    return bytes([0, 0]) + le16(len(data)) + data


EMPTY_READ, TIMEOUT, ERROR, PHANTOM = bytes([4]), bytes([5]), bytes([6]), bytes([7])


def range_session(flags, length, replies, fail=0xFF, start=0):
    return bytes([flags, fail]) + le16(start) + le16(length) + b"".join(replies)


def normal_replies(blocks):
    return [segment("OK\n"), segment("OK\n"), segment("S\n")] + [segment("C \n")] * blocks + [
        segment("E \n"), segment("OK\n")]


write("lan_exchange", "new-generation-three-blocks", range_session(1, 9000, normal_replies(3)))
write("lan_exchange", "old-generation-two-blocks", range_session(0, 8192, normal_replies(2), start=4096))
write("lan_exchange", "merged-and-split-replies",
      range_session(1, 4096, [segment("OK\r\n"), segment("OK\nS"), segment("\n"), segment("C \nE \n"),
                              EMPTY_READ, segment("OK")]))
write("lan_exchange", "password-rejected", range_session(1, 4096, [segment("OK\n"), segment("IP\n")]))
write("lan_exchange", "timeout-after-start",
      range_session(1, 8192, [segment("OK\n"), segment("OK\n"), segment("S\n"), segment("C \n"), TIMEOUT]))
write("lan_exchange", "send-fails", range_session(1, 8192, normal_replies(2), fail=3))
write("lan_exchange", "inquiry-new", bytes([2, 0xFF]) + segment("KRV0012\n"))
write("lan_exchange", "inquiry-error", bytes([2, 0xFF]) + PHANTOM)

# --- The reply reader alone ----------------------------------------------------
write("reply_reader", "lines", segment("OK\n") + segment("OK\r\nS\n") + segment("C \x00E ") + segment("\nOK"))
write("reply_reader", "long-line", segment("A" * 1024 + "\n") + segment("B" * 1100))
write("reply_reader", "faults", segment("O") + EMPTY_READ + TIMEOUT + segment("K\n") + ERROR + PHANTOM)

# --- Serial line: bytes of FuzzSerialLine ----------------------------------------
ACK, NAK, SILENCE, GONE = 0x06, 0x15, 0xFD, 0xFC


def upload(loader, length, answers, start=0):
    return bytes([0]) + le16(loader) + le16(start) + le16(length) + bytes(answers)


write("serial_upload", "four-blocks",
      upload(100, 3000, [ord("C")] + [ACK] * 4 + [ACK] + list(b"EPF")))
write("serial_upload", "resends-and-noise",
      upload(1010, 900, list(b"**xC") + [NAK, ACK, ord("C"), ACK, ACK] + [SILENCE] + list(b"PxEF"), start=7000))
write("serial_upload", "loader-only", upload(2048, 0, [ord("C"), ACK, ACK, ACK, ACK] + list(b"F")))
write("serial_upload", "line-gone", upload(0, 2000, [ord("C"), ACK, GONE]))
write("serial_upload", "completion-only", bytes([1]) + b"eEPpEF")
write("serial_upload", "completion-refused", bytes([1]) + bytes([SILENCE, SILENCE]) + b"B")

# --- Container files ----------------------------------------------------------------
SIGNATURE = struct.pack("<II", 0x6E6C5740, 0x40706124)


def built(prefix_seed, prefix_length, size_choice, model_choice, damage, loader_length, extra=b""):
    return (bytes([0x80, prefix_seed]) + le16(prefix_length) + bytes([size_choice, model_choice, damage]) +
            le16(loader_length) + extra)


write("container", "two-mib-krv001", built(1, 1000, 0, 0, 0, 300))
write("container", "four-mib-zlt010-long-loader", built(2, 0, 1, 4, 0, 4097))
write("container", "short-image-length", built(3, 20, 0, 3, 0x10, 16, le16(5000)))
write("container", "near-miss-model", built(4, 100, 0, 0x41, 0, 10))
write("container", "truncated", built(5, 64, 0, 0, 0x08, 50, struct.pack("<I", 1200)))
write("container", "raw-signature-only", bytes([0]) + b"MZ\x90\x00" + SIGNATURE)
write("container", "raw-header-short", bytes([0]) + b"@Wln" + b"\x00" * 30 + SIGNATURE + b"\x01\x00\x00")

# --- Command lines ----------------------------------------------------------------------
for name, text in {
    "lan": b"\"C:\\Program Files\\quorsel.exe\" -fz 10.0.0.2",
    "serial": b"quorsel -b com2 9600",
    "ask": b"quorsel.EXE -i",
    "address-tail": b"q -e 192.168.1.254.",
    "too-many": b"q a b c d e f g h i j k",
    "high-bytes": b"q\x81\x40 -f com3 115200",
    "unterminated-quote": b"\"quorsel -p",
}.items():
    write("command_line", name, text)
