"""nirva.zip and manifest.json, written as .part files and put in place once they read back."""

import dataclasses
import hashlib
import re
import shutil
import zipfile
from collections.abc import Callable
from dataclasses import dataclass
from pathlib import Path

from . import patches, signing, stages as release_stages
from .checks import UPDATER_EXE, Refusal, check_manifest_text, misread_fields, rollout_problems, signature_problems
from .reader import NUMBER_KEYS, Manifest, read_manifest

PACKAGE_NAME = "nirva.zip"
MANIFEST_NAME = "manifest.json"
ZIP_TIMESTAMP = (1980, 1, 1, 0, 0, 0)
MSDOS_DIRECTORY_ATTRIBUTE = 0x10
MSDOS_ARCHIVE_ATTRIBUTE = 0x20

# Notes go last: a notes text equal to a key's name (say, just "url") would
# otherwise stand before that key and catch the updater's search for it.
WRITE_ORDER = ("version", "url", "sha256", "size", "rollout", "releaseDate", "uploadDate", "mandatory", "signature",
               "notes")


@dataclass(frozen=True)
class Published:
    manifest: Manifest
    package: Path
    manifest_path: Path
    # With previous packages: the patches folder and what went into it.
    patch_folder: Path | None = None
    patch_results: patches.PatchResults | None = None
    # With stages: the folder of the signed stage files.
    stage_folder: Path | None = None


def release_entries(folder: Path) -> list[str]:
    """Relative paths of every directory and file, sorted, in zip form."""
    entries, problems = [], []
    for path in folder.rglob("*"):
        relative = path.relative_to(folder).as_posix()
        if path.is_symlink():
            problems.append(f"folder: {relative} is a symbolic link")
        elif path.is_dir():
            entries.append(relative + "/")
        elif path.is_file():
            entries.append(relative)
        else:
            problems.append(f"folder: {relative} is not a regular file")
    entries.sort()
    problems += entry_name_problems(entries)
    if problems:
        raise Refusal(sorted(problems))
    return entries


# The updater refuses these (tests/vectors/entry_names is the table both
# follow), so a package holding one would fail and be rolled back on every
# client. Windows opens a device name in any folder, with any extension and
# spaces before it; it reads the superscript digits one to three as digits.
UNFIT_CHARACTERS = re.compile(r'[\\:*?"<>|\x00-\x1f]')
RESERVED_NAMES = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$",
                  *(f"{port}{n}" for port in ("COM", "LPT") for n in (*"123456789", "\u00b9", "\u00b2", "\u00b3"))}
# The classic path length limit, with the office folder's own path on top
# of the entry's.
MAX_ENTRY_PATH = 200


def windows_folded(name: str, change: Callable[[str], str]) -> str:
    """The name with each UTF-16 unit mapped on its own, as NTFS's case table
    maps it: a character whose mapping is not one character of the Basic
    Multilingual Plane (str.upper() gives "SS" for "ß") stays as it is, and so
    does a character beyond that plane (two units, which the table keeps)."""
    return "".join(mapped if c <= "\uffff" and len(mapped := change(c)) == 1 else c for c in name)


def case_collisions(entries: list[str]) -> list[tuple[str, str]]:
    """Pairs of entries that name the same file on Windows. NTFS compares names
    upper-cased unit by unit, so "s" and "ſ" (U+017F) are one name although
    their lower cases differ. Lower-case folding still refuses what it always
    refused: names that only it tells apart (the Kelvin sign and "k") are
    too close to ship, whatever a given file system keeps apart."""
    pairs = []
    for change in (str.upper, str.lower):
        seen: dict[str, str] = {}
        for entry in entries:
            if (other := seen.setdefault(windows_folded(entry, change), entry)) != entry:
                pairs.append((other, entry))
    return list(dict.fromkeys(pairs))


def entry_name_problems(entries: list[str]) -> list[str]:
    """Entry names a Windows client would not unpack as they are."""
    # Two names Windows takes as one would overwrite each other.
    problems = [f"folder: {first} and {second} differ only in letter case"
                for first, second in case_collisions(entries)]
    for entry in entries:
        for name in entry.rstrip("/").split("/"):
            if UNFIT_CHARACTERS.search(name):
                problems.append(f'folder: {entry}: a name with \\ : * ? " < > | or a control character')
            elif name.endswith((".", " ")):
                problems.append(f"folder: {entry}: a name ending in a dot or a space")
            elif name.split(".")[0].rstrip(" ").upper() in RESERVED_NAMES:
                problems.append(f"folder: {entry}: {name} is a device name on Windows")
        if len(entry.rstrip("/")) > MAX_ENTRY_PATH:
            problems.append(f"folder: {entry}: longer than {MAX_ENTRY_PATH} characters inside the package")
    return problems


def write_package(sources: dict[str, Path | None], target: Path) -> None:
    # Only the content and names reach the archive: fixed order, time stamp
    # and MS-DOS attributes (it is unpacked on Windows), no extra fields.
    with zipfile.ZipFile(target, "w") as archive:
        for entry, source_path in sources.items():
            info = zipfile.ZipInfo(entry, ZIP_TIMESTAMP)
            info.create_system = 0
            if entry.endswith("/"):
                info.external_attr = MSDOS_DIRECTORY_ATTRIBUTE
                archive.writestr(info, b"")
                continue
            info.external_attr = MSDOS_ARCHIVE_ATTRIBUTE
            info.compress_type = zipfile.ZIP_DEFLATED
            assert source_path is not None
            info.file_size = source_path.stat().st_size
            with source_path.open("rb") as source, archive.open(info, "w") as destination:
                while chunk := source.read(1 << 20):
                    destination.write(chunk)


def file_sha256(path: Path) -> str:
    digest = hashlib.sha256()
    with path.open("rb") as source:
        while chunk := source.read(1 << 20):
            digest.update(chunk)
    return digest.hexdigest()


def render_manifest(manifest: Manifest) -> str:
    lines = []
    for key in WRITE_ORDER:
        value = manifest.value(key)
        if value is None or (key == "signature" and not value):
            continue
        if key == "mandatory":
            rendered = "true" if value else "false"
        else:
            rendered = value if key in NUMBER_KEYS else f'"{value}"'
        lines.append(f'  "{key}": {rendered}')
    return "{\n" + ",\n".join(lines) + "\n}\n"


def verify_output(package: Path, manifest_path: Path, manifest: Manifest, entries: list[str],
                  signing_key: Path | None) -> list[str]:
    problems = []
    with zipfile.ZipFile(package) as archive:
        if archive.namelist() != entries or archive.testzip() is not None:
            problems.append(f"{PACKAGE_NAME}: does not read back as written")
    raw = manifest_path.read_bytes()
    if raw.startswith(b"\xef\xbb\xbf"):
        problems.append(f"{MANIFEST_NAME}: starts with a byte-order mark")
    problems += misread_fields(raw.decode("utf-8"), manifest)
    if signing_key is not None and not problems:
        # Checked with the public key made from the private one, on what the updater reads back.
        problems += signature_problems(read_manifest(raw.decode("utf-8")), signing.public_key_hex(signing_key))
    return problems


def package_sources(folder: Path, updater: Path | None) -> dict[str, Path | None]:
    """Each entry of the package, sorted, with the file it is made from (none
    for a directory). The updater, when given, lands at the package root."""
    sources: dict[str, Path | None] = {
        entry: None if entry.endswith("/") else folder / entry for entry in release_entries(folder)}
    # An updater in the folder would reach clients without the checks of --updater.
    if UPDATER_EXE in sources:
        raise Refusal([f"folder: holds {UPDATER_EXE} at its root; give a new updater with --updater"])
    if updater is not None:
        sources[UPDATER_EXE] = updater
    return dict(sorted(sources.items()))


def _replace_folder(part: Path, final: Path) -> None:
    if final.exists():
        shutil.rmtree(final)
    if part.exists():
        part.replace(final)


def publish(folder: Path, manifest: Manifest, out_dir: Path, updater: Path | None = None,
            signing_key: Path | None = None, previous: list[Path] | None = None,
            stages: list[int] | None = None) -> Published:
    """Writes the package, its patches from the previous packages, the
    manifest with its sha256 and, given stages, the signed stage files into
    out_dir; on any problem nothing new is left there. The manifest's
    rollout is then the first stage's."""
    out_dir.mkdir(parents=True, exist_ok=True)
    sources = package_sources(folder, updater)
    entries = list(sources)
    package, manifest_path = out_dir / PACKAGE_NAME, out_dir / MANIFEST_NAME
    patch_folder = out_dir / (PACKAGE_NAME + patches.FOLDER_SUFFIX)
    stage_folder = out_dir / release_stages.FOLDER
    # In this order: a client that sees the new manifest must find its package and patches.
    parts = {final: final.with_name(final.name + ".part")
             for final in (stage_folder, patch_folder, package, manifest_path)}
    try:
        write_package(sources, parts[package])
        results = patches.write_patches(parts[package], previous, parts[patch_folder]) if previous else None
        manifest = dataclasses.replace(manifest, sha256=file_sha256(parts[package]),
                                       size=str(parts[package].stat().st_size))
        if signing_key is not None:
            manifest = dataclasses.replace(
                manifest, signature=signing.sign(signing.canonical_message(manifest), signing_key))
        parts[manifest_path].write_bytes(render_manifest(manifest).encode("utf-8"))
        problems = verify_output(parts[package], parts[manifest_path], manifest, entries, signing_key)
        if problems:
            raise Refusal(problems)
        if stages:
            release_stages.write_stages(manifest, stages, signing_key, parts[stage_folder])
        _replace_folder(parts[stage_folder], stage_folder)
        _replace_folder(parts[patch_folder], patch_folder)
        for final in (package, manifest_path):
            parts[final].replace(final)
    finally:
        for folder_part in (parts.pop(stage_folder), parts.pop(patch_folder)):
            shutil.rmtree(folder_part, ignore_errors=True)
        for part in parts.values():
            part.unlink(missing_ok=True)
    return Published(manifest, package, manifest_path, patch_folder if results else None, results,
                     stage_folder if stages else None)


def restage(manifest_path: Path, rollout: str, signing_key: Path | None) -> Manifest:
    """Rewrites a published manifest with another rollout, signed again, every
    other value as it was: widening or halting a release never touches its
    package. On any problem the manifest is left as it was."""
    try:
        text = manifest_path.read_bytes().decode("utf-8")
    except (OSError, UnicodeDecodeError) as error:
        raise Refusal([f"{manifest_path}: cannot be read as UTF-8 ({error})"])
    manifest = read_manifest(text)
    # The rollout is the one value being replaced: a bad one is what a restage mends.
    problems = rollout_problems(rollout) + [f"{manifest_path}: {problem}" for problem in check_manifest_text(text)
                                            if not problem.startswith("rollout:")]
    if manifest.signature and signing_key is None:
        problems.append("signing key: the manifest is signed, and unsigned it would be refused; give --signing-key")
    # A signature that does not verify with this key is refused: the manifest
    # was changed since it was signed, or another key signed it. Signing it
    # again would vouch for whatever changed.
    if manifest.signature and signing_key is not None and not problems:
        problems += [f"{manifest_path}: {problem}"
                     for problem in signature_problems(manifest, signing.public_key_hex(signing_key))]
    if problems:
        raise Refusal(problems)
    restaged = dataclasses.replace(manifest, rollout=rollout, signature="")
    if signing_key is not None:
        restaged = dataclasses.replace(
            restaged, signature=signing.sign(signing.canonical_message(restaged), signing_key))
    part = manifest_path.with_name(manifest_path.name + ".part")
    try:
        part.write_bytes(render_manifest(restaged).encode("utf-8"))
        written = part.read_bytes().decode("utf-8")
        problems = misread_fields(written, restaged)
        if signing_key is not None and not problems:
            problems = signature_problems(read_manifest(written), signing.public_key_hex(signing_key))
        if problems:
            raise Refusal(problems)
        part.replace(manifest_path)
    finally:
        part.unlink(missing_ok=True)
    return restaged
