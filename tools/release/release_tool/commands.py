"""The vendor's three commands, keys, publish and verify, and what the
release command shares with publish: the checks of a release's inputs and
the account of what was written."""

import argparse
import dataclasses
import datetime
from pathlib import Path

from . import signing
from .checks import (APPLICATION_EXE, Refusal, notes_from_file, notes_problems, product_version_problems,
                     rollout_problems, updater_problems, url_problems, version_problems)
from .package import Published
from .patches import previous_problems
from .publishing import (DEFAULT_PATCH_FROM, earlier_packages, package_url, publish_served, served_problems,
                         unsigned_problems)
from .reader import Manifest
from .stages import FOLDER as STAGES, parse_stages

RELEASE_DATE_FORMAT = "%Y-%m-%d"
UPLOAD_DATE_FORMAT = "%Y-%m-%dT%H:%M:%SZ"
COMMANDS = ("keys", "publish", "verify")


def date_argument(pattern: str):
    def parse(text: str) -> str:
        try:
            datetime.datetime.strptime(text, pattern)
        except ValueError:
            raise argparse.ArgumentTypeError(f"{text!r} does not match {pattern}")
        return text
    return parse


def add_release_arguments(parser: argparse.ArgumentParser) -> None:
    """The options a release is made with, in the release command and in publish."""
    parser.add_argument("folder", type=Path, help=f"release folder; {APPLICATION_EXE} must be at its root")
    parser.add_argument("--version", required=True, help="release version, such as 4.1.0.12 or 4.1.0+12")
    parser.add_argument("--notes", type=Path, required=True, help="UTF-8 file with the release notes")
    parser.add_argument("--mandatory", action="store_true",
                        help="clients must install this release (default: optional)")
    offered = parser.add_mutually_exclusive_group()
    offered.add_argument("--rollout", metavar="N",
                         help="offer the release to N percent of offices, 0 to 100 (default: no key, every office)")
    offered.add_argument("--stages", metavar="N,N,...",
                         help="offer the release in these stages, ending in 100: the manifest is the first, "
                              "the stages folder holds each stage and the halt, signed, for advance")
    parser.add_argument("--release-date", type=date_argument(RELEASE_DATE_FORMAT), help="YYYY-MM-DD")
    parser.add_argument("--upload-date", type=date_argument(UPLOAD_DATE_FORMAT), help="YYYY-MM-DDTHH:MM:SSZ, UTC")
    parser.add_argument("--updater", type=Path, metavar="FILE", help="a newer nirva_updater.exe for the package root")
    parser.add_argument("--previous", type=Path, metavar="OLD.zip", action="append", default=[],
                        help="an earlier nirva.zip offices may still have: patches from its changed entries "
                             "(repeatable)")
    signed = parser.add_mutually_exclusive_group()
    signed.add_argument("--signing-key", type=Path, metavar="KEY",
                        help="ECDSA P-256 private key (PEM) that signs the manifest")
    signed.add_argument("--unsigned", action="store_true",
                        help="publish unsigned over a signed manifest, on purpose")


def release_inputs(arguments: argparse.Namespace, url: str, previous: list[Path]) -> tuple[Manifest, list[str]]:
    """The manifest to publish, and every reason not to."""
    folder, problems, notes = arguments.folder, [], ""
    exe = folder / APPLICATION_EXE
    if not folder.is_dir():
        problems.append(f"folder: {folder} is not a folder")
    elif not exe.is_file():
        problems.append(f"folder: {folder} has no {APPLICATION_EXE} at its root")
    version_refusals = version_problems(arguments.version)
    problems += version_refusals + url_problems(url) + rollout_problems(arguments.rollout)
    try:
        notes = notes_from_file(arguments.notes)
        problems += notes_problems(notes)
    except Refusal as refusal:
        problems += refusal.problems
    if exe.is_file() and not version_refusals:
        problems += product_version_problems(exe, arguments.version)
    if arguments.updater is not None:
        problems += updater_problems(arguments.updater)
    if previous:
        problems += previous_problems(previous)
    if arguments.signing_key is not None:
        try:
            signing.public_key_hex(arguments.signing_key)
        except signing.SigningError as error:
            problems.append(f"signing key: {error}")
    upload_date = arguments.upload_date or datetime.datetime.now(datetime.timezone.utc).strftime(UPLOAD_DATE_FORMAT)
    manifest = Manifest(version=arguments.version, url=url, sha256="", notes=notes,
                        release_date=arguments.release_date or upload_date[:10], upload_date=upload_date,
                        mandatory=arguments.mandatory, rollout=arguments.rollout)
    return manifest, problems


def print_published(published: Published, written: str = "") -> None:
    manifest = published.manifest
    print(f"{written}{published.package} ({manifest.size} bytes, sha256 {manifest.sha256})")
    if published.patch_results is not None:
        kept = len(published.patch_results.kept)
        print(f"{written}{published.patch_folder} ({kept} patch{'' if kept == 1 else 'es'})")
        print("".join(f"  patch {note}\n" for note in published.patch_results.kept)
              + "".join(f"  no patch: {note}\n" for note in published.patch_results.skipped), end="")
    if published.stage_folder is not None:
        names = sorted((path.name for path in published.stage_folder.iterdir()), key=lambda name: (len(name), name))
        print(f"{written}{published.stage_folder}" + ("" if written else f" ({', '.join(names)})"))
    print(f"{written}{published.manifest_path} (version {manifest.version}, "
          f"{'mandatory' if manifest.mandatory else 'optional'}, "
          f"offered to {'every office' if manifest.rollout is None else manifest.rollout + ' % of offices'}, "
          f"uploaded {manifest.upload_date}"
          f"{', signed' if manifest.signature else ''})")


KEYS_DESCRIPTION = """\
Makes the vendor's keys in DIR (created owner-only when missing), once: the
update server's private key server.key with a self-signed certificate for
HOST valid ten years (server.crt) and a certificate request (server.csr, for
a CA's certificate instead: the updater pins the key, so either works); the
server's backup key (backup.key, backup.crt), kept offline until the server
key must be replaced; and the release signing key release.pem with its
backup, release-backup.pem (ECDSA P-256). The private keys (server.key,
backup.key, release.pem, release-backup.pem) are readable by their owner only. Refused, with nothing written, when any of
the files exists: keys are never overwritten.

Prints the pins and the release public keys, and the cmake line that builds
the updater for this server with all of them."""

PUBLISH_DESCRIPTION = f"""\
Publishes a release into ROOT, the folder the update server serves
(deploy/nginx/README.md): ROOT/packages/VERSION/nirva.zip with its patches,
then ROOT/manifest.json, written beside and renamed over the old one, so the
server gives the old or the new manifest, never half of one. The manifest's
url is BASE_URL/packages/VERSION/nirva.zip.

With --stages 1,10,50,100 the manifest offers the first stage and ROOT/stages
is replaced by the release's signed stages (rollout-<N>.json, the halt
rollout-0.json and stages.txt), before the manifest, for the advance command.

Patches are made from the packages of the newest earlier releases under
ROOT/packages (--patch-from N, default {DEFAULT_PATCH_FROM}; 0 for none), and from
any --previous package given too.

Refused: a VERSION that ROOT/packages holds already (a published release is
never rewritten) or that is not newer than every published one; an unsigned
release over a signed manifest, unless --unsigned says so; any input the
release command refuses. --dry-run builds the release aside, prints what
would be written, and writes nothing into ROOT.

With --verify-url and --pin, then fetches the release as an office would (see
the verify command)."""

VERIFY_DESCRIPTION = """\
Fetches the published release as an office of version 0.0.0.0 does: the check
path over TLS, trusting the server only when the SHA-256 of its certificate's
public key is a --pin (scripts/pin.sh computes it; no CA is needed); reads the
manifest with the updater's rules and, with --public-key, checks its
signature; fetches the package and checks its Content-Length, length and
sha256 against the manifest; and, when the release has a patch index
(<package path>.patches/index), fetches every patch it names and checks its
size and header. Prints what it checked; exits 1 with the cause at the first
mismatch."""


def _parser(command: str, description: str) -> argparse.ArgumentParser:
    return argparse.ArgumentParser(prog=f"nirva_release.py {command}", description=description,
                                   formatter_class=argparse.RawDescriptionHelpFormatter)


def _add_verify_arguments(parser: argparse.ArgumentParser, url_option: str, required: bool) -> None:
    parser.add_argument(url_option, required=required, metavar="https://HOST[:PORT]",
                        help="the update server, as the updater reaches it")
    parser.add_argument("--pin", action="append", default=[], metavar="HEX",
                        help="the pin of the server's key (repeatable: the backup pin too)")
    parser.add_argument("--public-key", metavar="HEX", help="the release public key the manifest's signature must "
                                                            "verify with")


def keys_command(argv: list[str]) -> None:
    from .keys import RELEASE_KEY, build_line, make_keys
    parser = _parser("keys", KEYS_DESCRIPTION)
    parser.add_argument("directory", type=Path, metavar="DIR")
    parser.add_argument("--host", required=True, help="the update server's host name, as offices reach it")
    parser.add_argument("--port", type=int, default=443, help="its HTTPS port (default 443)")
    arguments = parser.parse_args(argv)
    if not 1 <= arguments.port <= 65535:
        parser.error("--port must be from 1 to 65535")
    keys = make_keys(arguments.directory, arguments.host)
    print(f"""\
Keys for {arguments.host}:{arguments.port}, in {arguments.directory}:
  server.key          the update server's private key: on the server only (nginx's ssl_certificate_key)
  server.crt          its certificate for {arguments.host}, self-signed, valid 3650 days (nginx's ssl_certificate)
  server.csr          a request for a CA's certificate of the same key, if one is wanted instead
  backup.key          the server's backup key, with backup.crt: offline, in a safe, until the server key is replaced
  {RELEASE_KEY}         the release signing key (--signing-key): it never leaves the release machine
  release-backup.pem  the backup release key: offline, in a safe, until the release key is replaced

pin                        {keys.pin}
backup pin                 {keys.backup_pin}
release public key         {keys.release_public_key}
release backup public key  {keys.release_backup_public_key}

Build the updater for this server with:
{build_line(arguments.host, arguments.port, keys)}""")


def publish_command(argv: list[str]) -> None:
    parser = _parser("publish", PUBLISH_DESCRIPTION)
    add_release_arguments(parser)
    parser.add_argument("--root", type=Path, required=True, help="the folder the update server serves")
    parser.add_argument("--base-url", required=True, metavar="URL",
                        help="https://HOST of the update server, the start of the manifest's url")
    parser.add_argument("--patch-from", type=int, default=DEFAULT_PATCH_FROM, metavar="N",
                        help=f"make patches from the newest N earlier releases (default {DEFAULT_PATCH_FROM})")
    parser.add_argument("--dry-run", action="store_true", help="print what would be written, write nothing")
    _add_verify_arguments(parser, "--verify-url", required=False)
    arguments = parser.parse_args(argv)
    if arguments.patch_from < 0:
        parser.error("--patch-from must be 0 or more")
    if (arguments.verify_url is None) != (not arguments.pin):
        parser.error("--verify-url and --pin go together")
    if "?" in arguments.base_url or "#" in arguments.base_url:
        parser.error("--base-url: no query or fragment")
    root = arguments.root
    found = earlier_packages(root, arguments.version, arguments.patch_from) if root.is_dir() else []
    previous = list(dict.fromkeys(found + arguments.previous))
    manifest, problems = release_inputs(arguments, package_url(arguments.base_url, arguments.version), previous)
    problems += served_problems(root, arguments.version, arguments.previous)
    problems += unsigned_problems(root / "manifest.json", arguments.signing_key, arguments.unsigned)
    stages = None
    if arguments.stages is not None:
        try:
            stages = parse_stages(arguments.stages)
            manifest = dataclasses.replace(manifest, rollout=str(stages[0]))
        except Refusal as refusal:
            problems += refusal.problems
    if problems:
        if arguments.dry_run:
            print("dry run: nothing was written")
        raise Refusal(problems)
    published = publish_served(arguments.folder, manifest, root, arguments.updater, arguments.signing_key, previous,
                               arguments.dry_run, stages)
    print_published(published, "would write " if arguments.dry_run else "")
    if stages is None and (root / STAGES).is_dir():
        print(f"note: {root / STAGES} holds an earlier release's stages, which advance now refuses to publish; "
              "remove them once its timer is stopped")
    if arguments.dry_run:
        print("dry run: nothing was written")
    elif arguments.verify_url is not None:
        from .verify import VerifyFailure, verify
        public_key = arguments.public_key or (signing.public_key_hex(arguments.signing_key)
                                              if arguments.signing_key else None)
        try:
            verify(arguments.verify_url, arguments.pin, public_key)
        except VerifyFailure as failure:
            raise VerifyFailure([f"{root / 'manifest.json'} is published, but the served release fails: {problem}"
                                 for problem in failure.problems])


def verify_command(argv: list[str]) -> None:
    from .verify import verify
    parser = _parser("verify", VERIFY_DESCRIPTION)
    _add_verify_arguments(parser, "--url", required=True)
    arguments = parser.parse_args(argv)
    if not arguments.pin:
        parser.error("give the server's --pin")
    verify(arguments.url, arguments.pin, arguments.public_key)


def run_command(argv: list[str]) -> None:
    {"keys": keys_command, "publish": publish_command, "verify": verify_command}[argv[0]](argv[1:])
