#!/usr/bin/env python3
"""The patch benchmark, after bench/benchmark_download.sh has built it (run as
`bench/benchmark_download.sh patches`).

A generated C++ program of about 30 MB (many generated functions in many
translation units, built with MinGW at -O2 and stripped, as a vendor ships
it) is built, then built again with a few functions' bodies changed (only
their translation units compile again). Two releases of an application
folder around it, with data files of which one changed, are made by the
release tool, the second with --previous. nginx serves the second release
(at NIRVA_BENCH_RATE, 10m unless set; "0" for no limit) and download_bench.exe
fetches it with the updater's download code, in turns: whole (no previous
package), rebuilt from the previous package without patches (the file-level
rebuild: the patches folder is not published), and rebuilt with patches.
Bytes come from nginx's access log. Last, the real updater installs the new
release with its patches under Wine, and the installed folder is compared
with the release folder file by file."""

import concurrent.futures
import hashlib
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "support"))
import harness  # noqa: E402
import packages  # noqa: E402
from benchmark_delta import run_bench  # noqa: E402

WORK = harness.BUILD_DIR / "benchmark" / "patches"
ROUNDS = int(os.environ.get("NIRVA_BENCH_ROUNDS", "3"))
RATE = os.environ.get("NIRVA_BENCH_RATE", "10m")
# 150 units of 200 functions give an executable of about 30 MB.
UNITS = int(os.environ.get("NIRVA_BENCH_UNITS", "150"))
FUNCTIONS = 200
# The functions whose bodies the second release changes: (unit, function).
CHANGED = [(unit % UNITS, index) for unit, index in ((7, 11), (40, 150), (77, 3), (101, 199), (140, 60))]
VERSIONS = ("4.1.0.11", "4.1.0.12")
COMPILER = "x86_64-w64-mingw32-g++-posix"
LOG_LINE = re.compile(r'"GET (\S+) HTTP/[\d.]+" (\d{3}) (\d+)')


def function(unit, index, changed):
    """One generated function: arithmetic on constants, a table, calls into other units, a logged string."""
    rng = random.Random(unit * 1000 + index)
    lines = [f"std::uint64_t m{unit}_f{index}(std::uint64_t x, std::uint64_t y) {{",
             f"    std::uint64_t a = x ^ 0x{rng.getrandbits(64):x}ULL, b = y + {rng.randrange(1, 1 << 30)}ULL, c = a * b;"]
    if changed:
        lines.append("    a = (a << 3) ^ 0x5eedULL; c += note(\"a corrected rounding rule\", a);")
    for step in range(rng.randint(18, 30)):
        kind, value = rng.randrange(6), rng.getrandbits(64)
        lines.append([
            f"    a = (a * 0x{value:x}ULL) ^ (b >> {rng.randrange(1, 63)});",
            f"    b += kTable[(a >> {rng.randrange(0, 56)}) & 255] ^ 0x{value:x}ULL;",
            f"    if ((c & {rng.randrange(1, 255)}) == {rng.randrange(16)}) "
            f"c = m{rng.randrange(UNITS)}_f{rng.randrange(FUNCTIONS)}(a, c);",
            f"    for (int i = 0; i < {rng.randrange(3, 9)}; ++i) {{ c = (c << {rng.randrange(1, 9)}) | "
            f"(c >> {rng.randrange(1, 9)}); c ^= a + i * 0x{value & 0xFFFFFFFF:x}ULL; }}",
            f"    if (a > b) {{ a -= b * {rng.randrange(3, 999)}; }} else {{ b ^= a + 0x{value:x}ULL; }}",
            f"    c += note(\"{unit}.{index}.{step}: ledger reconciliation step\", a ^ c);",
        ][kind])
    lines.append("    return a ^ b ^ c;\n}\n")
    return "\n".join(lines)


def sources(release):
    """The program's sources of a release, as file name -> text."""
    rng = random.Random(5)
    files = {}
    for unit in range(UNITS):
        table = ", ".join(f"0x{rng.getrandbits(64):x}ULL" for _ in range(256))
        body = "".join(function(unit, index, release == 2 and (unit, index) in CHANGED) for index in range(FUNCTIONS))
        called = sorted(set(re.findall(r"m\d+_f\d+(?=\(a, c\))", body)))
        files[f"unit{unit:03}.cpp"] = "\n".join(
            ["#include <cstdint>", "std::uint64_t note(const char*, std::uint64_t);",
             *(f"std::uint64_t {name}(std::uint64_t, std::uint64_t);" for name in called),
             f"static const std::uint64_t kTable[256] = {{{table}}};", body])
    files["main.cpp"] = ("#include <cstdint>\n"
                         "std::uint64_t note(const char* text, std::uint64_t v) { return v ^ std::uint64_t(text[0]); }\n"
                         "std::uint64_t m0_f0(std::uint64_t, std::uint64_t);\n"
                         "int main(int argc, char**) { return argc > 5 ? int(m0_f0(argc, 1)) : 0; }\n")
    return files


def version_resource(version):
    numbers = version.replace(".", ",")
    return (f'#include <winver.h>\nVS_VERSION_INFO VERSIONINFO\nFILEVERSION {numbers}\nPRODUCTVERSION {numbers}\n'
            'BEGIN\n BLOCK "StringFileInfo"\n BEGIN\n  BLOCK "040904b0"\n  BEGIN\n'
            f'   VALUE "ProductName", "NIRVA"\n   VALUE "ProductVersion", "{version}"\n  END\n END\n'
            ' BLOCK "VarFileInfo"\n BEGIN\n  VALUE "Translation", 0x0409, 0x04B0\n END\nEND\n')


def compile_unit(source, text):
    """The unit's object, compiled once per distinct source text (a build that compiles only what changed)."""
    objects = WORK / "objects"
    target = objects / (hashlib.sha256(text.encode()).hexdigest()[:24] + ".o")
    if not target.exists():
        objects.mkdir(parents=True, exist_ok=True)
        source.write_text(text)
        subprocess.run([COMPILER, "-O2", "-c", str(source), "-o", str(target) + ".part"], check=True)
        os.replace(str(target) + ".part", target)
    return target


def build_program(release):
    """nirva_acc.exe of a release: its seconds of compilation and linking, and its path."""
    folder = WORK / f"program-{release}-{UNITS}"
    program = folder / "nirva_acc.exe"
    if program.exists():
        return 0.0, program
    folder.mkdir(parents=True, exist_ok=True)
    started = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
        objects = list(pool.map(lambda item: compile_unit(folder / item[0], item[1]), sources(release).items()))
    (folder / "version.rc").write_text(version_resource(VERSIONS[release - 1]))
    subprocess.run(["x86_64-w64-mingw32-windres", str(folder / "version.rc"), "-o", str(folder / "version.o")],
                   check=True)
    subprocess.run([COMPILER, "-s", "-static", *map(str, objects), str(folder / "version.o"), "-o",
                    str(folder / "nirva_acc.part.exe")], check=True)
    os.replace(folder / "nirva_acc.part.exe", program)
    return time.monotonic() - started, program


def release_folder(release, program):
    """The application folder: the program and data files; the rates change in the second release."""
    folder = WORK / f"release-{release}"
    shutil.rmtree(folder, ignore_errors=True)
    (folder / "data").mkdir(parents=True)
    shutil.copyfile(program, folder / "nirva_acc.exe")
    rng = random.Random(9)
    words = [b"ledger", b"invoice", b"account", b"balance", b"tax", b"<row>", b"</row>", b"1403", b"\r\n"]
    (folder / "data" / "chart-of-accounts.xml").write_bytes(b" ".join(rng.choices(words, k=300_000)))
    (folder / "data" / "help-images.bin").write_bytes(rng.randbytes(2 << 20))
    rates = [b"%05d,%d.%02d\r\n" % (n, rng.randrange(1000), rng.randrange(100)) for n in range(30_000)]
    if release == 2:
        rates[12_345] = b"12345,999.99\r\n"
    (folder / "data" / "rates.csv").write_bytes(b"".join(rates))
    return folder


def publish_release(release, folder, previous=None):
    out = WORK / f"out-{release}"
    shutil.rmtree(out, ignore_errors=True)
    url = f"https://updates.example/packages/{VERSIONS[release - 1]}/nirva.zip"
    print(packages.release_tool(folder, VERSIONS[release - 1], url, out,
                                *(["--previous", str(previous)] if previous else [])).strip())
    return out


def logged_since(log, offset):
    """Body bytes and requests nginx logged after offset."""
    with log.open("rb") as lines:
        lines.seek(offset)
        answers = [LOG_LINE.search(line.decode()) for line in lines]
    return sum(int(answer[3]) for answer in answers if answer), sum(1 for answer in answers if answer)


def measure(root, log, package, patches, previous):
    """The three ways, in turns: full, file-level, with patches; per way the runs' (seconds, bytes, requests, MB)."""
    for label, with_patches in (("plain", False), ("patched", True)):
        served = root / "packages" / label
        served.mkdir(parents=True)
        shutil.copyfile(package, served / "nirva.zip")
        if with_patches:
            shutil.copytree(patches, served / "nirva.zip.patches")
    digest = hashlib.sha256(package.read_bytes()).hexdigest()
    ways = {"full download": ("plain", None), "file-level rebuild": ("plain", previous),
            "with patches": ("patched", previous)}
    runs = {way: [] for way in ways}
    for _ in range(ROUNDS):
        for way, (label, previous_package) in ways.items():
            before = log.stat().st_size if log.exists() else 0
            seconds, memory = run_bench(f"https://updates.example/packages/{label}/nirva.zip", digest,
                                        previous_package, WORK)
            runs[way].append((seconds, *logged_since(log, before), memory))
            print(f"   {way}: {seconds:.3f} s, {runs[way][-1][1]} bytes in {runs[way][-1][2]} requests, "
                  f"peak working set {memory:.1f} MB")
    return runs


def install_with_the_updater(root, log, out, old_out):
    """The real updater under Wine installs release 2 over release 1 with patches; the folders compared."""
    office = WORK / "office"
    shutil.rmtree(office, ignore_errors=True)
    shutil.copytree(WORK / "release-1", office / "NIRVA")
    shutil.copyfile(old_out / "nirva.zip", office / "nirva.zip")
    shutil.copyfile(harness.UPDATER, office / "nirva_updater.exe")
    harness.publish(root, out, VERSIONS[1])
    before = log.stat().st_size
    with harness.display("1280x1024", private=True):
        status = subprocess.run([str(harness.WINE_RUN), "nirva_updater.exe"], cwd=office, timeout=900,
                                **harness.QUIET).returncode
        harness.stop_wine()
    installed = {path.relative_to(office / "NIRVA"): path.read_bytes()
                 for path in (office / "NIRVA").rglob("*") if path.is_file()}
    source = {path.relative_to(WORK / "release-2"): path.read_bytes()
              for path in (WORK / "release-2").rglob("*") if path.is_file()}
    sent, requests = logged_since(log, before)
    print(f"\nthe updater: exit code {status}; {sent} bytes in {requests} requests (check, package, patches, report); "
          f"installed folder identical to release 2: {'yes' if installed == source else 'NO'} "
          f"({len(installed)} files)")
    return status == 0 and installed == source


def main():
    WORK.mkdir(parents=True, exist_ok=True)
    programs = []
    for release in (1, 2):
        seconds, program = build_program(release)
        programs.append(program)
        print(f"program of release {release}: {program.stat().st_size} bytes"
              + (f", built in {seconds:.0f} s" if seconds else " (built before)"))
    old_out = publish_release(1, release_folder(1, programs[0]))
    out = publish_release(2, release_folder(2, programs[1]), old_out / "nirva.zip")
    package, patches = out / "nirva.zip", out / "nirva.zip.patches"
    print(f"package {package.stat().st_size} bytes; patches: "
          + ", ".join(f"{path.name} {path.stat().st_size} bytes" for path in sorted(patches.iterdir())))
    shutil.copyfile(old_out / "nirva.zip", WORK / "previous.zip")
    with harness.nginx(package_rate=None if RATE == "0" else RATE) as root:
        log = root.parent / "nginx" / "access.log"
        runs = measure(root, log, package, patches, WORK / "previous.zip")
        installed = install_with_the_updater(root, log, out, old_out)
    median = statistics.median
    full, file_level = (median(run[1] for run in runs[way]) for way in ("full download", "file-level rebuild"))
    print(f"\n{'':<20}{'bytes':>12}{'% of full':>11}{'% of file-level':>17}{'seconds':>9}{'requests':>10}{'peak MB':>9}"
          f"   (medians of {ROUNDS} rounds; nginx limit_rate {RATE if RATE != '0' else 'none'})")
    for way, results in runs.items():
        sent = median(run[1] for run in results)
        print(f"{way:<20}{sent:>12.0f}{sent / full * 100:>11.2f}{sent / file_level * 100:>17.2f}"
              f"{median(run[0] for run in results):>9.2f}{median(run[2] for run in results):>10.0f}"
              f"{median(run[3] for run in results):>9.1f}")
    patched = median(run[1] for run in runs["with patches"])
    met = patched <= 0.05 * full and patched <= 0.15 * file_level and installed
    print(f"goal (with patches at most 5 % of full and 15 % of file-level, installed as the source): "
          f"{'met' if met else 'NOT met'}")
    return 0 if met else 1


if __name__ == "__main__":
    sys.exit(main())
