"""Generated release content for the end-to-end tests and the installation
benchmark: many small files, or some large ones of text, programs and
incompressible data, packed as deflated zips."""

import random
import zipfile

WORDS = [b"ledger", b"invoice", b"1403", b"balance", b"\r\n", b"<row>", b"tax"]


def text(generator, size):
    return b" ".join(generator.choices(WORDS, k=size // 4))[:size]


def program(generator, size, code):
    """A program's code, patched here and there, as the sections of programs are."""
    data = bytearray((code * (size // len(code) + 1))[:size])
    for _ in range(size // 4096):
        data[generator.randrange(size)] = generator.randrange(256)
    return bytes(data)


def small_files(count=4000, seed=17):
    """(name, content) of count files of up to 4 KB in folders of 100, text and binary in turns."""
    generator = random.Random(seed)
    return [(f"module{index // 100:02}/part{index:04}.{'txt' if index % 2 else 'bin'}",
             text(generator, generator.randint(50, 4000)) if index % 2 else
             generator.randbytes(generator.randint(0, 4000))) for index in range(count)]


def large_files(code, seed=17):
    """(name, content) of 200 MB: 80 MB of text, 60 MB of programs, 60 MB that does not compress, an empty file."""
    generator = random.Random(seed)
    return ([(f"reports/report{index}.txt", text(generator, 8 << 20)) for index in range(10)]
            + [(f"bin/library{index}.dll", program(generator, 6 << 20, code)) for index in range(10)]
            + [(f"media/image{index}.jpg", generator.randbytes(10 << 20)) for index in range(6)]
            + [("data/empty.txt", b"")])


def write_package(path, program_path, contents, compresslevel=None):
    """nirva_acc.exe from program_path, then the contents, deflated, each entry with a time of its own."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=compresslevel) as archive:
        archive.write(program_path, "nirva_acc.exe")
        for index, (name, data) in enumerate(contents):
            stamp = (2020 + index % 5, 1 + index % 12, 1 + index % 28, index % 24, index % 60, 2 * (index % 30))
            archive.writestr(zipfile.ZipInfo(name, stamp), data, zipfile.ZIP_DEFLATED)
    return path
