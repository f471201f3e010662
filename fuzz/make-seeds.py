#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/, one directory per fuzz target.

Each seed follows its target's input layout (described at the top of the target's source)
and starts the fuzzer from a valid exchange, so that it does not have to discover the
packet format first. Run it again after changing a layout, and keep the output small.
"""

import pathlib
import struct

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"


def hexdigits(value, count):
    return b"%0*X" % (count, value & ((1 << (4 * count)) - 1))


def escape(data):
    out = bytearray()
    for byte in data:
        if byte <= 0x1E or byte == 0x5C:
            out += bytes([0x5C, byte + 0x20])
        else:
            out.append(byte)
    return bytes(out)


def frame(packet_type, subtype, data=b""):
    escaped = escape(data)
    packet = bytes([packet_type]) + hexdigits(subtype, 2)
    packet += b"1" + hexdigits(len(escaped), 4) + escaped if escaped else b"0"
    return packet + hexdigits(-sum(packet[1:]) & 0xFF, 2)


def u16(value):
    return struct.pack("<H", value)


def i32(value):
    return struct.pack("<i", value)


ACK = frame(0x06, 0x00)
RESEND = frame(0x15, 0x01)
FILE_PART = frame(0x02, 0x45, b"00010001" + bytes(range(64)))


def unpack_seeds():
    return {
        "ack": u16(4096) + ACK,
        "extended-AB": u16(16) + frame(0x01, 0x45, b"AB"),
        "extended-too-small": u16(1) + frame(0x01, 0x45, b"AB"),
        "resend-request": u16(4096) + RESEND,
        "file-exists": u16(4096) + frame(0x15, 0x02),
        "escaped-bytes": u16(4096) + frame(0x02, 0x45, b"\x00\x5c\x1f"),
        "file-part": u16(4096) + FILE_PART,
        "largest-data": u16(1024) + frame(0x02, 0x45, b"D" * 1024),
    }


def codec_seeds():
    restore, round_trip, to_number, to_hex = b"\x00", b"\x01", b"\x02", b"\x03"
    return {
        "restore": restore + u16(16) + b"\x5c\x20\x5c\x7c\x1f\x41",
        "restore-lone-escape": restore + u16(16) + b"AB\x5c",
        "round-trip-all-bytes": round_trip + u16(288) + bytes(range(256)),
        "hex-04D2": to_number + b"\x04" + b"04D2",
        "hex-lower-case": to_number + b"\x02" + b"ff",
        "hex-sixteen": to_number + b"\x10" + b"0123456789ABCDEF",
        "number-width-8": to_hex + b"\x07" + i32(-2),
    }


def protocol_seeds():
    get_answer, get_ack, connect = b"\x00", b"\x01", b"\x02"
    timeout_1, timeout_3 = b"\x03", b"\x05"
    nothing, resend_forever, ack_forever = b"\x00", b"\x01", b"\x03"
    request = frame(0x01, 0x45, b"AB")
    packet = bytes([len(request)]) + request
    ack_step, resend_step, framed, timed_out = b"\x02", b"\x03", b"\x04", b"\x05"
    filled, failed, split, repeat, send_result = b"\x01", b"\x06", b"\x07", b"\x08", b"\x09"
    return {
        "acknowledged": get_answer + timeout_1 + nothing + packet + ack_step,
        "resend-then-ack": get_ack + timeout_1 + nothing + packet + resend_step + ack_step,
        "answer-with-data": get_answer + timeout_3 + nothing + packet
        + framed + b"\x15\x02" + u16(5) + b"\x5c" + b"DATA\x00",
        "split-answer": get_ack + timeout_3 + nothing + packet + ack_step + split + u16(3),
        "timeout-then-ack": get_ack + timeout_3 + nothing + packet + timed_out + ack_step,
        "overlong-answer": get_answer + timeout_3 + nothing + packet + filled + u16(4200) + b"A",
        "failed-receive": get_answer + timeout_3 + nothing + packet + failed + b"\x01\x03\x06\x30\x30",
        "send-partly": get_ack + timeout_3 + nothing + packet + send_result + b"\x03\x00" + ack_step,
        "resends-forever": get_answer + timeout_1 + resend_forever + packet + resend_step
        + repeat + b"\x20",
        "connect": connect + b"\x01" + ack_forever + b"\x00",
    }


def arg_seeds():
    return {
        "file": b"-f\x00PROG.g3m",
        "everything": b"-f\x00A\x00-F\x00DIR\x00-d\x00crd0\x00-w",
        "quiet-level": b"-l\x00-q",
        "level-3": b"-f\x00X\x00-l\x003",
        "file-last": b"-f",
        "level-text": b"-l\x00abc\x00-f\x00NAME",
        "long-names": b"-f\x00" + b"N" * 20 + b"\x00-F\x00" + b"F" * 15 + b"\x00-q",
    }


def file_protocol_seeds():
    request, part = b"\x00", b"\x01"

    def name(text):
        return u16(len(text)) + text

    return {
        "request": request + u16(2048) + i32(1234) + b"\x00"
        + name(b"") + name(b"PROG.g3m") + name(b"fls0"),
        "request-escaped-names": request + u16(2048) + i32(-1) + b"\x02"
        + name(b"D\\R") + name(b"\x01\x1e\x1f\\" * 8) + name(b"crd0"),
        "request-longest-names": request + u16(4096) + i32(70000) + b"\x00"
        + name(b"F" * 255) + name(b"\\" * 255) + name(b"D" * 255),
        "part-first": part + u16(2048) + i32(0) + i32(2) + i32(256) + bytes(range(256)) * 2,
        "part-last-short": part + u16(2048) + i32(1) + i32(2) + i32(256) + b"\x5c" * 300,
    }


def storage_seeds():
    header, info_block, part = b"\x00", b"\x01", b"\x02"
    fetch, listing, free, info = b"\x03", b"\x04", b"\x05", b"\x06"
    ack, role_swap, silence = b"\x04", b"\x05", b"\x07"

    def command(code, size, folder, name, device):
        fields = b"".join(bytes([len(text)]) + text for text in (folder, name, device))
        return b"\x02" + bytes([code]) + struct.pack(">I", size) + fields

    def data_part(count, number, data):
        return b"\x03" + struct.pack(">HH", count, number) + u16(len(data)) + data

    def information(size):
        block = b"Gy363007" + b"SH7305".ljust(16, b"\xff") + b"00004096" * 3
        return b"\x01\x06\x02" + u16(size) + block.ljust(size, b"\xff")

    return {
        "header": header + b"000000000003000400000400" + b"NAME" + b"fls0",
        "information-block": info_block + b"Gy363007".ljust(188, b"\xff"),
        "part": part + b"00020001" + bytes(range(256)),
        "fetch": fetch + ack + command(0x45, 300, b"", b"NAME", b"fls0")
        + data_part(2, 1, b"\x5c" * 256) + data_part(2, 2, bytes(range(44))) + role_swap,
        "fetch-empty": fetch + ack + command(0x45, 0, b"", b"NAME", b"fls0") + role_swap,
        "list": listing + ack + command(0x4E, 12, b"", b"A.TXT", b"fls0")
        + command(0x4E, 0, b"DIR", b"", b"fls0") + role_swap,
        "free": free + ack + command(0x4C, 123456, b"", b"", b"fls0") + role_swap,
        "information": info + information(164),
        "silent-turn": fetch + ack + silence,
    }


def screen_frame(kind, pixels, width=0, height=0, pixel_format=b""):
    fields = b""
    if kind != b"TYP01":
        fields = hexdigits(len(pixels), 6 if kind == b"TYPZ1" else 8)
        fields += hexdigits(height, 4) + hexdigits(width, 4) + pixel_format
    body = kind + fields + pixels
    return b"\x0b" + body + hexdigits(-sum(body) & 0xFF, 2)


def screen_seeds():
    def areas(frame_area, picture_pixels, read_size):
        return u16(frame_area) + u16(picture_pixels) + bytes([read_size])

    mono = screen_frame(b"TYP01", bytes(range(256)) * 4)
    rc2 = screen_frame(b"TYPZ1", b"\xf8\x00\x07\xe0\x00\x1f\xff\xff", 2, 2, b"1RC2")
    rc3 = screen_frame(b"TYPZ2", b"\x47\x10\x25\x60", 3, 2, b"1RC3")
    rm2 = screen_frame(b"TYPZ2", b"\xa5\x80\x0f\x00\x3c\x80\xf0\x00", 9, 2, b"1RM2")
    spoiled = b"\x0bTYP\x16CA" + rc2[:10] + b"\x00" + rc2[11:] + rc2[:20] + rc3 + b"\x0bTYPQ9"
    return {
        "typ01": areas(2048, 8192, 0) + mono,
        "typz2-1rc3-1rm2": areas(64, 18, 5) + rc3 + rm2,
        "check-then-frames": areas(256, 64, 3) + b"\x16CAL00D0" * 2 + rc2 + rc3,
        "spoiled": areas(256, 64, 11) + spoiled + rm2,
    }


def g1m_file(items, type_byte=0x62, zero_at_0f=False):
    """items: (group, directory, name, type, data), one group header for each."""
    body = b"".join(group.ljust(16, b"\0") + struct.pack(">I", 1) + directory.ljust(8, b"\0")
                    + name.ljust(8, b"\0") + struct.pack(">BI3x", item_type, len(data)) + data
                    for group, directory, name, item_type, data in items)
    size = 32 + len(body)
    header = b"USBPower" + bytes([type_byte, 0, 0x10, 0, 0x10, 0, (size + 0x41) & 0xFF])
    header += bytes([0 if zero_at_0f else 1]) + struct.pack(">IB9xH", size, (size + 0xB8) & 0xFF,
                                                            len(items))
    return bytes(byte ^ 0xFF for byte in header) + body


def g1m_seeds():
    program = (b"PROGRAM", b"system", b"GAME", 0x01, b"\0" * 10 + b"\xf7\x0e\x0d" * 3)
    picture = (b"PICTURE 1", b"main", b"PICT1", 0x07, bytes(range(256)) * 8)
    empty = (b"PROGRAM", b"system", b"EMPTY", 0x01, b"")
    return {
        "read-in-pieces": b"\x00\x07" + g1m_file([program, empty, picture, program]),
        "read-type-31": b"\x00\x00" + g1m_file([picture], 0x31, True),
        "round-trip": b"\x01\x00\x06system\x04GAME\x01\x05\x00hello"
        + b"\x01\x04main\x05PICT1\x07\x00\x01" + b"\x5c" * 256,
    }


def drive_screen_seeds():
    def answer(data=b"", status=0, host=0, flags=0, sense=b""):
        return bytes([flags, status, host]) + u16(len(data)) + data + bytes([len(sense)]) + sense

    def offer(available, activity=0):
        return b"\xd0" + bytes(5) + struct.pack(">H", available) + bytes(2) \
            + struct.pack(">H", activity) + bytes(4)

    frame = screen_frame(b"TYPZ1", b"\xf8\x00\x07\xe0\x00\x1f\xff\xff", 2, 2, b"1RC2")
    sense = b"\x70\x00\x05" + bytes(9) + b"\x20\x00" + bytes(30)  # longer than its room
    return {
        "frame-in-pieces": u16(1023) + answer(status=2, sense=b"\x70\x00\x02" + bytes(9) + b"\x3a")
        + answer(offer(10)) + answer(frame[:10]) + answer(offer(0, 3))
        + answer(offer(len(frame) - 10)) + answer(frame[10:]),
        "check-answered": u16(15) + answer() + answer(offer(8)) + answer(b"\x16CAL00D0", flags=16),
        "flash-mode": u16(65535) + answer() + answer(status=2, sense=sense),
        "troubles": u16(99) + answer(host=3) + answer(status=8) + answer(flags=3)
        + answer(b"\xd1" + bytes(15)) + answer(offer(5)) + answer(b"12", flags=8),
    }


def main():
    targets = {
        "casio_packer_unpack_fuzzer": unpack_seeds(),
        "codec_primitives_fuzzer": codec_seeds(),
        "protocol_exchange_fuzzer": protocol_seeds(),
        "storage_commands_fuzzer": storage_seeds(),
        "arg_reader_fuzzer": arg_seeds(),
        "file_protocol_packets_fuzzer": file_protocol_seeds(),
        "screen_reader_fuzzer": screen_seeds(),
        "g1m_reader_fuzzer": g1m_seeds(),
        "drive_screen_fuzzer": drive_screen_seeds(),
    }
    for target, seeds in targets.items():
        directory = CORPUS / target
        directory.mkdir(parents=True, exist_ok=True)
        for name, content in seeds.items():
            (directory / name).write_bytes(content)


if __name__ == "__main__":
    main()
