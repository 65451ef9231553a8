"""A release written into the folder the update server serves, in its layout:

    ROOT/manifest.json                          the current release, replaced by rename, last
    ROOT/packages/<version>/nirva.zip           one folder per release, never rewritten
    ROOT/packages/<version>/nirva.zip.patches/  patches from the newest earlier releases
    ROOT/stages/                                a staged release's signed stages, for advance

The release is made in ROOT/.publishing/<version> (which the server does not
serve), moved into packages/ whole by one rename, and only then does the
manifest that names it replace the old one. Also the refusals that keep a
publication from losing the vendor's work, shared with the release command."""

import os
import re
import shutil
import tempfile
from pathlib import Path

from .checks import VERSION_PATTERN, Refusal
from .package import MANIFEST_NAME, PACKAGE_NAME, Published, publish
from .patches import FOLDER_SUFFIX
from .stages import FOLDER as STAGES
from .reader import Manifest, is_newer, parse_version, read_manifest

PACKAGES = "packages"
STAGING = ".publishing"
DEFAULT_PATCH_FROM = 3
# A path segment that names a version: at least two numbers.
DOTTED = re.compile(r"[0-9]+([.+][0-9]+)+", re.ASCII)


def package_url(base_url: str, version: str) -> str:
    return f"{base_url.rstrip('/')}/{PACKAGES}/{version}/{PACKAGE_NAME}"


def published_versions(root: Path) -> list[str]:
    """The releases under ROOT/packages, by their folders' names."""
    folder = root / PACKAGES
    return [path.name for path in folder.iterdir() if path.is_dir() and VERSION_PATTERN.fullmatch(path.name)] \
        if folder.is_dir() else []


def earlier_packages(root: Path, version: str, count: int) -> list[Path]:
    """The packages of the newest `count` published releases older than version, newest first."""
    older = [name for name in published_versions(root)
             if is_newer(version, name) and (root / PACKAGES / name / PACKAGE_NAME).is_file()]
    older.sort(key=parse_version, reverse=True)
    return [root / PACKAGES / name / PACKAGE_NAME for name in older[:count]]


def _replaced_manifest(path: Path) -> Manifest | None:
    """The manifest about to be replaced; None when there is none. One that cannot be read stands for a
    signed one of no version: what it vouched for is unknown."""
    if not path.exists():
        return None
    try:
        return read_manifest(path.read_bytes().decode("utf-8"))
    except (OSError, UnicodeDecodeError):
        return Manifest(version="0", url="", sha256="", notes="", release_date="", upload_date="", mandatory=False,
                        signature="unreadable")


def unsigned_problems(replaced: Path, signing_key: Path | None, unsigned: bool) -> list[str]:
    """Offices whose updater believes only signed manifests would refuse an unsigned one at every start."""
    manifest = _replaced_manifest(replaced)
    if signing_key is not None or unsigned or manifest is None or not manifest.signature:
        return []
    return [f"signing key: {replaced} is signed, and an updater that checks signatures refuses an unsigned "
            "manifest at every start; give --signing-key (or --unsigned to publish it unsigned on purpose)"]


def url_version_problems(url: str, version: str) -> list[str]:
    """A url whose path names another version is the copy of an earlier release's."""
    path = url[url.find("/", 8):].split("?")[0].split("#")[0]
    named = [segment for segment in path.split("/")
             if DOTTED.fullmatch(segment) and parse_version(segment) != parse_version(version)]
    return [f"url: its path names version {named[0]}, not the release's {version}"] if named else []


def overwrite_problems(previous: list[Path], files: list[Path], folders: list[Path]) -> list[str]:
    """An earlier package that writing these files or replacing these folders would destroy."""
    problems = []
    for path in previous:
        resolved = path.resolve()
        hit = next((target for target in files if resolved == target.resolve()
                    or (path.exists() and target.exists() and os.path.samefile(path, target))), None)
        hit = hit or next((folder for folder in folders if resolved.is_relative_to(folder.resolve())), None)
        if hit is not None:
            problems.append(f"previous: {path} is {hit}, which this release would overwrite; "
                            "keep earlier packages apart from the output")
    return problems


def served_problems(root: Path, version: str, previous: list[Path]) -> list[str]:
    """Why this version cannot be published into ROOT."""
    if not root.is_dir():
        return [f"root: {root} is not a folder (the folder the update server serves)"]
    problems = []
    target = root / PACKAGES / version
    same = [name for name in published_versions(root) if parse_version(name) == parse_version(version)]
    if target.exists() or same:
        problems.append(f"version: {root / PACKAGES / (same[0] if same else version)} exists; a published release "
                        "is never rewritten (publish a new version)")
        pending = root / STAGING / f"{version}.{MANIFEST_NAME}"
        if pending.exists():
            problems.append(f"version: its publication was cut short before the manifest; to finish it, check "
                            f"{pending} (--check-manifest) and rename it over {root / MANIFEST_NAME}")
    manifest = _replaced_manifest(root / MANIFEST_NAME)
    newest = max(published_versions(root) + ([manifest.version] if manifest and manifest.version else []),
                 key=parse_version, default=None)
    if not problems and newest is not None and not is_newer(version, newest):
        problems.append(f"version: {version} is not newer than {newest}, published already; offices never go "
                        "back to an older release")
    return problems + overwrite_problems(previous, [root / MANIFEST_NAME], [target, root / STAGING])


def _sync(path: Path) -> None:
    descriptor = os.open(path, os.O_RDONLY)
    try:
        os.fsync(descriptor)
    finally:
        os.close(descriptor)


def _served(path: Path) -> None:
    """Readable by the server's workers whatever the umask, and on the disk before the manifest names it."""
    for item in [path, *path.rglob("*")]:
        item.chmod(0o755 if item.is_dir() else 0o644)
        _sync(item)


def _replace_stages(new: Path, root: Path, old: Path) -> None:
    """The release's stages in place of the last staged release's, which advance can no longer publish."""
    if (root / STAGES).exists():
        (root / STAGES).rename(old)
    new.rename(root / STAGES)
    _sync(root)
    shutil.rmtree(old, ignore_errors=True)


def publish_served(folder: Path, manifest: Manifest, root: Path, updater: Path | None, signing_key: Path | None,
                   previous: list[Path], dry_run: bool, stages: list[int] | None = None) -> Published:
    """Publishes the release into ROOT, or with dry_run builds it aside and writes nothing there; what is (or
    would be) in ROOT then."""
    target = root / PACKAGES / manifest.version
    if dry_run:
        with tempfile.TemporaryDirectory(prefix="nirva-dry-run-") as work:
            built = publish(folder, manifest, Path(work), updater, signing_key, previous, stages)
    else:
        staging = root / STAGING / manifest.version
        pending = root / STAGING / f"{manifest.version}.{MANIFEST_NAME}"
        staged = [root / STAGING / f"{manifest.version}.{suffix}" for suffix in (STAGES, STAGES + ".old")]
        for leftover in [staging, *staged]:  # of a run that was killed
            shutil.rmtree(leftover, ignore_errors=True)
        staging.mkdir(parents=True)
        try:
            built = publish(folder, manifest, staging, updater, signing_key, previous, stages)
            built.manifest_path.replace(pending)
            if built.stage_folder is not None:
                built.stage_folder.rename(staged[0])
                _served(staged[0])
            # On the disk before the release appears: a publication cut short
            # after the rename leaves the manifest that finishes it.
            _served(staging)
            _served(pending)
            (root / PACKAGES).mkdir(mode=0o755, exist_ok=True)
            try:
                staging.rename(target)
            except OSError as error:
                raise Refusal([f"version: {target} cannot be made ({error.strerror}); nothing was published"])
            _sync(root / PACKAGES)
            if built.stage_folder is not None:
                _replace_stages(staged[0], root, staged[1])
            pending.replace(root / MANIFEST_NAME)
            _sync(root)
        finally:
            for leftover in [staging, *staged]:
                shutil.rmtree(leftover, ignore_errors=True)
            pending.unlink(missing_ok=True)
            if (root / STAGING).is_dir() and not any((root / STAGING).iterdir()):
                (root / STAGING).rmdir()
    return Published(built.manifest, target / PACKAGE_NAME, root / MANIFEST_NAME,
                     None if built.patch_folder is None else target / (PACKAGE_NAME + FOLDER_SUFFIX),
                     built.patch_results, None if built.stage_folder is None else root / STAGES)
