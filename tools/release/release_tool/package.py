"""nirva.zip and manifest.json, written as .part files and put in place once they read back."""

import dataclasses
import hashlib
import zipfile
from pathlib import Path

from .checks import Refusal, misread_fields
from .reader import Manifest

PACKAGE_NAME = "nirva.zip"
MANIFEST_NAME = "manifest.json"
ZIP_TIMESTAMP = (1980, 1, 1, 0, 0, 0)
MSDOS_DIRECTORY_ATTRIBUTE = 0x10
MSDOS_ARCHIVE_ATTRIBUTE = 0x20

# Notes go last: a notes text equal to a key's name (say, just "url") would
# otherwise stand before that key and catch the updater's search for it.
WRITE_ORDER = ("version", "url", "sha256", "releaseDate", "uploadDate", "mandatory", "notes")


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


def entry_name_problems(entries: list[str]) -> list[str]:
    """Entry names a Windows client would not unpack as they are. Windows folds
    case: two names that differ only in case would overwrite each other."""
    seen: dict[str, str] = {}
    return [f"folder: {other} and {entry} differ only in letter case"
            for entry in entries if (other := seen.setdefault(entry.lower(), entry)) != entry]


def write_package(folder: Path, entries: list[str], target: Path) -> None:
    # Only the content and names reach the archive: fixed order, time stamp
    # and MS-DOS attributes (it is unpacked on Windows), no extra fields.
    with zipfile.ZipFile(target, "w") as archive:
        for entry in entries:
            info = zipfile.ZipInfo(entry, ZIP_TIMESTAMP)
            info.create_system = 0
            if entry.endswith("/"):
                info.external_attr = MSDOS_DIRECTORY_ATTRIBUTE
                archive.writestr(info, b"")
                continue
            info.external_attr = MSDOS_ARCHIVE_ATTRIBUTE
            info.compress_type = zipfile.ZIP_DEFLATED
            source_path = folder / entry
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
        rendered = ("true" if value else "false") if key == "mandatory" else f'"{value}"'
        lines.append(f'  "{key}": {rendered}')
    return "{\n" + ",\n".join(lines) + "\n}\n"


def verify_output(package: Path, manifest_path: Path, manifest: Manifest, entries: list[str]) -> list[str]:
    problems = []
    with zipfile.ZipFile(package) as archive:
        if archive.namelist() != entries or archive.testzip() is not None:
            problems.append(f"{PACKAGE_NAME}: does not read back as written")
    raw = manifest_path.read_bytes()
    if raw.startswith(b"\xef\xbb\xbf"):
        problems.append(f"{MANIFEST_NAME}: starts with a byte-order mark")
    return problems + misread_fields(raw.decode("utf-8"), manifest)


def publish(folder: Path, manifest: Manifest, out_dir: Path) -> tuple[Manifest, Path, Path]:
    """Writes the package and the manifest with its sha256 into out_dir; on
    any problem nothing new is left there."""
    out_dir.mkdir(parents=True, exist_ok=True)
    entries = release_entries(folder)
    package, manifest_path = out_dir / PACKAGE_NAME, out_dir / MANIFEST_NAME
    # In this order: a client that sees the new manifest must find its package.
    parts = {final: final.with_name(final.name + ".part") for final in (package, manifest_path)}
    try:
        write_package(folder, entries, parts[package])
        manifest = dataclasses.replace(manifest, sha256=file_sha256(parts[package]))
        parts[manifest_path].write_bytes(render_manifest(manifest).encode("utf-8"))
        problems = verify_output(parts[package], parts[manifest_path], manifest, entries)
        if problems:
            raise Refusal(problems)
        for final, part in parts.items():
            part.replace(final)
    finally:
        for part in parts.values():
            part.unlink(missing_ok=True)
    return manifest, package, manifest_path
