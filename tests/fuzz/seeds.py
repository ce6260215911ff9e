#!/usr/bin/env python3
"""Writes the hand-made seeds of each fuzz target into corpus/<target>/.

Each harness reads its input front to back as a little program (see
support/byte_source.h and support/scripted_device.h); the seeds here are
the ordinary roads through it, from which the fuzzer strays. Offsets are
those of the 64-bit simulated build the targets run on.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def u8(*v):
    return bytes(v)


def u16(v):
    return struct.pack("<H", v)


def u32(v):
    return struct.pack("<I", v)


# The scripted driver's replies.
def fails(error=0):
    return u8(0, error)


def fills(at, data):
    """Writes `data` at `at`, reports the whole output buffer."""
    return u8(1) + u16(at) + u16(len(data)) + data


def reports(at, data, count):
    return u8(2) + u16(at) + u16(len(data)) + data + u32(count)


def written(at, data):
    return u8(3) + u16(at) + u16(len(data)) + data


OPENS = u8(0)

# The drive's answers, as the maker's reader gives them.
CAPACITY_DATA_AT = 92  # the data area of the 64-bit capacity request


def descriptor(vendor=b"Halvex  ", product=b"SD/MMC Reader   "):
    # Version, Size, device type and modifier, removable, queueing, then the
    # vendor, product, revision and serial-number offsets and the bus type.
    header = struct.pack("<IIBBBBIIIII", 1, 40 + len(vendor) + len(product) + 2, 0, 0, 1, 0,
                         40 if vendor else 0, 40 + len(vendor) + 1, 0, 0, 0x0C)
    header += bytes(40 - len(header))
    return header + vendor + b"\0" + product + b"\0"


def capacity(last_block):
    return fills(CAPACITY_DATA_AT, struct.pack(">II", last_block, 512))


def geometry(cylinders, tracks, sectors, bytes_per_sector=512):
    return fills(0, struct.pack("<qIIII", cylinders, 11, tracks, sectors, bytes_per_sector))


def probe(last_block=1984511, geo=(123, 255, 63), vendor=b"Halvex  ", product=b"SD/MMC Reader   "):
    return OPENS + fills(0, descriptor(vendor, product)) + capacity(last_block) + geometry(*geo)


def drive_probe():
    e = u8(2)  # drive E:
    return {
        "reader-1gb": e + probe() + probe(),
        "reader-32gb": e + probe(62333951, (3880, 255, 63)) + probe(62333951, (3880, 255, 63)),
        "reader-8mb-on-bound": e + probe(16383, (0, 127, 63)) + probe(16383, (0, 127, 63)),
        "reader-no-card": e + OPENS + fills(0, descriptor()) + capacity(0) + fails() + OPENS
        + fills(0, descriptor()) + capacity(0) + fails(),
        "other-maker": e + probe(vendor=b"Generic ") + probe(vendor=b"Generic "),
        "no-vendor-string": e + probe(vendor=b"") + probe(vendor=b""),
        "short-descriptor": e + OPENS + reports(0, descriptor()[:20], 20) + probe(),
        "capacity-fails": e + OPENS + fills(0, descriptor()) + fails() + geometry(123, 255, 63) + probe(),
    }


def text(data):
    return u16(len(data)) + data


PAYLOAD_AT = 28  # after the command packet's header
STANDARD_CSD = bytes([0x00, 0x26, 0x00, 0x32, 0x5F, 0x59, 0x83, 0xC4, 0xF6, 0xDB, 0xBF, 0xEF, 0x92, 0x40, 0x40, 0x00])
HIGH_8GB_CSD = bytes([0x40, 0x0E, 0x00, 0x32, 0x5B, 0x59, 0x00, 0x00, 0x3B, 0x37, 0x7F, 0x80, 0x0A, 0x40, 0x00, 0x00])
HIGH_64GB_CSD = bytes([0x40, 0x0E, 0x00, 0x32, 0x5B, 0x59, 0x00, 0x01, 0xD9, 0x3F, 0x7F, 0x80, 0x0A, 0x40, 0x00, 0x00])


def answer(number):
    return fills(PAYLOAD_AT, u32(number))


# DDSysInit against a scripted controller: discovery opens it and announces
# (the answer is not looked at), then DDSysInit opens it again.
SYSINIT = OPENS + fails() + OPENS


def check(write_protect, high_capacity, csd=None):
    steps = u8(0, 0) + answer(write_protect) + answer(high_capacity)
    return steps + (fills(PAYLOAD_AT, csd) if csd is not None else b"")


def identify(csd):
    return u8(1) + fills(PAYLOAD_AT, csd)


def card_checks():
    return {
        "standard-writable": SYSINIT + check(0, 0) + identify(STANDARD_CSD) + u8(2),
        "standard-protected": SYSINIT + check(1, 0) + identify(STANDARD_CSD),
        "high-8gb": SYSINIT + check(0, 1, HIGH_8GB_CSD) + identify(HIGH_8GB_CSD),
        "high-64gb": SYSINIT + check(0, 1, HIGH_64GB_CSD) + identify(HIGH_64GB_CSD),
        "identify-before-check": SYSINIT + identify(HIGH_8GB_CSD) + check(0, 1, HIGH_8GB_CSD),
        "answers-two": SYSINIT + check(2, 2) + identify(STANDARD_CSD),
        "csd-fails-after-yes": SYSINIT + u8(0, 0) + answer(1) + answer(1) + fails() + identify(STANDARD_CSD),
        "other-drive": SYSINIT + u8(0, 0xFF) + check(0, 0),
    }


def caller(data):
    return u8(0) + data  # a buffer, not none


def secure_commands():
    mid = u8(0) + caller(bytes(8)) + fills(PAYLOAD_AT, bytes(range(1, 9)))
    set_challenge = u8(1) + caller(bytes(range(8))) + fills(0, b"")
    get_challenge = u8(2) + caller(bytes(8)) + fills(PAYLOAD_AT, bytes(range(8, 16)))
    set_response = u8(3) + caller(bytes(range(8))) + fills(0, b"")
    get_response = u8(4) + caller(bytes(8)) + fills(PAYLOAD_AT, bytes(range(16, 24)))
    change_sa = u8(5) + written(0, b"")
    mkb = u8(6, 2, 5) + u16(0xFFFF) + caller(bytes(1024)) + fills(PAYLOAD_AT, bytes(512)) + fills(PAYLOAD_AT, bytes(512))
    secure_read = u8(7, 2) + caller(bytes(1024)) + written(0, b"") + fills(PAYLOAD_AT, bytes(range(256)) * 4)
    secure_write = u8(8, 2) + caller(bytes(range(256)) * 4) + written(0, b"") + written(0, b"")
    read_pt = u8(9, 2) + u32(7) + caller(bytes(1024)) + (written(0, b"") + fills(PAYLOAD_AT, bytes(512))) * 2
    write_pt = u8(10, 2) + u32(0x12345678) + caller(bytes(1024)) + OPENS + fills(0, descriptor()) + written(0, b"") \
        + fills(0, b"")
    session = mid + set_challenge + get_challenge + set_response + get_response + change_sa
    blocks = mkb + secure_read + secure_write + read_pt + write_pt
    writable = SYSINIT + u8(1, 0, 3)
    protected = SYSINIT + u8(1, 1, 3)
    heap_fails = SYSINIT + u8(1, 0, 0, 1)
    return {
        "session": writable + session,
        "blocks": writable + blocks,
        "write-protected": protected + secure_write + write_pt,
        "allocation-fails": heap_fails + blocks,
        "all-fail": writable + u8(0) + caller(bytes(8)) + fails() * 10,
    }


MAKER = b"Halvex Integrated MMC/SD controller"


def device(instance, description_kind, interfaces, present=0, enabled=0):
    return text(instance) + u8(description_kind) + u8(present, enabled, len(interfaces)) + b"".join(interfaces)


def interface(storage_port, reference=b"", driven=True):
    return u8(1 if storage_port else 0) + text(reference) + u8(1 if driven else 0)


def discovery():
    controller = device(b"PCI\\VEN_1B2C&DEV_1234\\4&2A1B3C4D&0&00E1", 1, [interface(True)])
    return {
        "one-controller": u8(1) + controller + fails() + fails(),
        "behind-others": u8(3) + device(b"USB\\ROOT_HUB\\1", 5, [interface(True)]) + controller
        + device(b"PCI\\VEN_1B2C&DEV_1234\\2", 1, [interface(True)]) + fails() + fails(),
        "two-interfaces": u8(1) + device(b"PCI\\X", 1, [interface(False), interface(True, b"a"), interface(True, b"b")])
        + fails() + fails(),
        "long-path": u8(1) + device(b"PCI\\X", 1, [interface(True, b"p" * 500)]) + fails() + fails(),
        "no-driver": u8(1) + device(b"PCI\\X", 1, [interface(True, driven=False)]),
        "disabled": u8(1) + device(b"PCI\\X", 1, [interface(True)], enabled=0xFF),
    }


def dword(number):
    return u8(1, 0) + u32(number)


def parameters():
    key = u8(1)
    values = u8(1, 1) + dword(0x1234) + u8(1, 1) + u8(0) + u8(1, 1)  # gate, id, flag, (no timerbar), report
    writes = u8(1) + u32(1) + u8(1) + u32(0x81)
    steps = u16(10) + u8(0, 1) + u16(10) + u8(0, 0) + u32(2) + u16(10) + u8(1) + u32(4) + text(b"\1\0\0\0\0") \
        + u16(10) + u8(2) + u16(10) + u8(4) + u32(7) + u16(10)
    return {
        "driver-reports": key + values + writes + steps,
        "missing-key": u8(0) + writes + steps,
        "volatile-key": u8(2) + values + writes + steps,
        "no-rights": u8(3) + values + writes + steps,
        "odd-values": key + (u8(2) + u32(3) + text(b"\1\0\0")) * 5 + writes + u16(10),
    }


def device_tree():
    system = u8(5, 0)  # Windows 7 x64, C:\WINDOWS
    reader = u8(1, 1)  # bound to the standard driver, an SDIO card in it
    controller = u8(0, 0, 0)
    device_id = u8(1, 1)
    tree = u8(2) + u8(0, 0) + text(b"VID_1&PID_2\\3") + u8(1, 0) + u8(0, 0, 0) + u8(3) + text(b"ROOT\\X") + u8(0) \
        + u8(0, 0, 0)
    match = text(b"SD\\VID_02D0") + u8(0)
    bus = u8(1, 3, 5, 20, 30)
    change = u8(1, 1, 2)
    return {
        "sdio-standard": system + reader + controller + device_id + tree + match + bus + change,
        "memory-maker": u8(5, 0) + u8(0, 2) + controller + device_id + u8(0) + match + u8(0) + u8(1, 1, 1),
        "vista-x86": u8(2, 0) + u8(0, 0) + controller + device_id + u8(0) + match + u8(0) + u8(1, 1, 2),
        "long-directory": u8(5, 0xFF) + text(b"W" * 290) + u8(0, 0) + controller + device_id + u8(0) + match + u8(0)
        + u8(1, 1, 2),
        "rival-controller": system + u8(0, 0) + controller + device_id + u8(1) + u8(1) + text(b"&SUBSYS_0") + u8(0)
        + u8(1, 1, 0, 0) + match + u8(0) + u8(1, 1, 1),
    }


TARGETS = {
    "card_checks_fuzzer": card_checks,
    "device_tree_fuzzer": device_tree,
    "discovery_fuzzer": discovery,
    "drive_probe_fuzzer": drive_probe,
    "parameters_fuzzer": parameters,
    "secure_commands_fuzzer": secure_commands,
}


def main(names):
    for target, make in TARGETS.items():
        if names and target not in names:
            continue
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in make().items():
            with open(os.path.join(folder, "seed-" + name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main(sys.argv[1:])
