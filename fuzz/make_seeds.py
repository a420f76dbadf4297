#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (fuzz/corpus/<target>/).

Only needed to change the seeds; the fuzz runs use the files as they are.
The targets read their input with libFuzzer's FuzzedDataProvider: numbers
and choices are taken from the END of the input, one byte each here, in the
order the target asks for them, and the reply bytes from the front. A seed
is therefore: reply bytes, then the choices in reverse order of use.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

IMMEDIATE, PENDING = 0, 1
NO_FAULT, REFUSED, CHECK_CONDITION = 0, 1, 2


def seed(front, choices):
    """Reply bytes, then the one-byte choices (given in order of use)."""
    return bytes(front) + bytes(reversed(choices))


def inquiry(product, device_type=0x06, length=36):
    data = bytearray(b" " * 36)
    data[0:8] = bytes([device_type, 0, 2, 2, 31, 0, 0, 0])
    data[8:16] = b"TARN    "
    data[16:32] = product.ljust(16)[:16]
    data[32:36] = b"1.00"
    return bytes(data[:length])


def window_list(width, height, binned=False, exposure=0, origin=(0, 0)):
    data = bytearray(78)
    struct.pack_into(">H", data, 6, 70)
    data[8] = 1
    resolution = 1411 if binned else 2822
    struct.pack_into(">HH", data, 10, resolution, resolution)
    struct.pack_into(">IIII", data, 14, origin[0], origin[1], width, height)
    data[33] = 2
    struct.pack_into(">I", data, 44, exposure)
    for offset, value in ((58, 0x7F), (59, 0xFE), (62, 0x2F), (63, 0x03)):
        data[offset] = value
    return bytes(data)


def cooling_page(temperature, drive, setpoint=-100, length=144):
    data = bytearray(144)
    data[0] = 143
    data[4], data[5] = 0x09, 0x8A
    data[6], data[7] = 0xAB, 0xCD
    data[131] = drive
    struct.pack_into(">hh", data, 132, setpoint, temperature)
    return bytes(data[:length])


def inquiry_seeds():
    # Choices: completion, target 0..6, "is a scanner", odd support word
    # (0 of 0..7 means yes; 1 keeps the bus's), its 4 bytes most significant
    # first, fault.
    keep_word = [1, 0, 0, 0, 0]
    return {
        "camera_answer": seed(inquiry(b"Nebrix CCD"), [IMMEDIATE, 3, 1] + keep_word + [NO_FAULT]),
        "other_scanner": seed(inquiry(b"FLATBED 600"), [PENDING, 0, 1] + keep_word + [NO_FAULT]),
        "cut_before_product": seed(inquiry(b"Nebrix CCD", length=20), [IMMEDIATE, 5, 1] + keep_word + [NO_FAULT]),
        "camera_answer_refused": seed(inquiry(b"Nebrix CCD"), [PENDING, 2, 1] + keep_word + [REFUSED]),
        "camera_answer_check": seed(inquiry(b"Nebrix CCD"), [IMMEDIATE, 1, 1] + keep_word + [CHECK_CONDITION]),
        "not_a_scanner": seed(inquiry(b"Nebrix CCD", 0x00), [IMMEDIATE, 4, 0, 0x00] + keep_word + [NO_FAULT]),
        "no_adapters": seed(inquiry(b"Nebrix CCD"), [IMMEDIATE, 0, 1, 0, 0x00, 0x00, 0xE8, 0x00, NO_FAULT]),
    }


def get_window_seeds():
    # Choices: completion, exposed width, height, binned, capacity (three
    # bytes, most significant first), GET WINDOW fault, failing read, its
    # fault, short reads.
    def choices(completion, capacity, window_fault=NO_FAULT, read=0, read_fault=NO_FAULT):
        high, mid, low = (capacity >> 16) & 0xFF, (capacity >> 8) & 0xFF, capacity & 0xFF
        return [completion, 64, 32, 0, high, mid, low, window_fault, read, read_fault, 0]

    fits = 64 * 32 * 2
    return {
        "window_fits": seed(window_list(64, 32), choices(IMMEDIATE, fits)),
        "window_too_large": seed(window_list(768, 512), choices(IMMEDIATE, fits)),
        "binned_window": seed(window_list(128, 64, binned=True), choices(PENDING, fits)),
        "window_refused": seed(window_list(64, 32), choices(IMMEDIATE, fits, REFUSED)),
        "read_fails": seed(window_list(64, 32), choices(PENDING, fits, NO_FAULT, 1, CHECK_CONDITION)),
        "size_wraps": seed(window_list(0x10000, 0x8000), choices(IMMEDIATE, 0)),
        "short_reply": seed(window_list(64, 32)[:30], choices(IMMEDIATE, fits)),
    }


def mode_sense_seeds():
    # Choices: completion, fault.
    return {
        "cooling_page": seed(cooling_page(-100, 128), [IMMEDIATE, NO_FAULT]),
        "below_zero": seed(cooling_page(-32768, 255), [PENDING, NO_FAULT]),
        "short_page": seed(cooling_page(-50, 64, length=133), [IMMEDIATE, NO_FAULT]),
        "refused": seed(cooling_page(-100, 128), [PENDING, REFUSED]),
        "check_condition": seed(cooling_page(-100, 128), [IMMEDIATE, CHECK_CONDITION]),
    }


def main():
    for target, seeds in (("inquiry_fuzzer", inquiry_seeds()), ("get_window_fuzzer", get_window_seeds()),
                          ("mode_sense_fuzzer", mode_sense_seeds())):
        directory = os.path.join(HERE, "corpus", target)
        os.makedirs(directory, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(directory, name), "wb") as out:
                out.write(data)


if __name__ == "__main__":
    main()
