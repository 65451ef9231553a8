"""The command line: options, the two commands, messages and exit status."""

import argparse
import datetime
import sys
from pathlib import Path

from .checks import (APPLICATION_EXE, UPDATER_EXE, Refusal, check_manifest_text, notes_from_file,
                     notes_problems, product_version_problems, rollout_problems, updater_problems,
                     url_problems, version_problems)
from . import signing
from .package import Published, publish, restage
from .patches import previous_problems
from .report import read_reports
from .stages import parse_stages
from .report_output import html_report, text_report
from .reader import Manifest

RELEASE_DATE_FORMAT = "%Y-%m-%d"
UPLOAD_DATE_FORMAT = "%Y-%m-%dT%H:%M:%SZ"

DESCRIPTION = """\
Builds nirva.zip (the release folder's content at the archive root) and
manifest.json for it, refusing anything the updater would not read back exactly.
nirva.zip is the same bytes for the same folder content (sorted entries, fixed
time stamps and attributes), given the same Python and zlib.

The updater reads the manifest by searching for each quoted key and taking the
text up to the next quotation mark, without decoding escapes. So no value may
hold a quotation mark or a backslash, Persian text is written as plain UTF-8,
and the tool reads its own manifest back with those rules before keeping it.

Line breaks in the notes: every line break of the notes file (LF, CR or CR LF)
is written as a raw CR LF inside the notes string, because the updater shows
the notes as they are and the Windows edit control breaks lines only on CR LF.
A JSON escape such as \\n would be shown as a backslash and an n. Raw line
breaks make the manifest invalid strict JSON; the updater does not mind, and
lenient parsers (Python's json with strict=False) accept it. Leading and
trailing white space and a UTF-8 byte-order mark are dropped from the notes.

Versions are dotted numbers with an optional +build (4.1.0.12, 4.1.0+12), at
most four numbers counting the build, each at most 2147483647: the updater
reads "+" as "." and exactly four signed 32-bit parts; all zeros is refused,
as it is never newer. nirva_acc.exe must carry a version resource whose
ProductVersion is the same version (compared as the updater compares them),
or clients would update forever or never.

Entry names must be names the updater unpacks: no \\ : * ? " < > | or
control characters, none ending in a dot or a space, no device name (CON,
PRN, AUX, NUL, CONIN$, CONOUT$, COM1-COM9, LPT1-LPT9, with any extension),
no path inside the package longer than 200 characters, and no two names
Windows takes for one. Letter case is folded character by character, to
upper case as NTFS folds it and also to lower case (s and ſ, i and ı, σ and
ς, µ and μ count as one name; ß and ss are two), so that no client can take
two files for one.

With --updater FILE, a new nirva_updater.exe goes into the package root, so
that it lands as NIRVA\\nirva_updater.exe. Clients replace their updater with
it after installing the release, only when its ProductVersion is newer than
their own; it must be a Windows executable with a readable ProductVersion.

The url must be https:// with a path after the host. The updater requests only
that path, from its own update server; the host in the url is not contacted.

Dates: releaseDate is YYYY-MM-DD (default: the upload day); uploadDate is
YYYY-MM-DDTHH:MM:SSZ in UTC (default: now).

The manifest always holds "size", the package's length in bytes, as a JSON
number, for the updater to hold the download to. With --rollout N (a whole
number from 0 to 100) it holds "rollout": N, the percentage of offices to
offer the release to; without it the key is left out, which means every
office. To widen a release or halt it (--rollout 0), --restage MANIFEST
--rollout N [--signing-key KEY.pem] rewrites the published manifest with
the new rollout, signed again, every other value as it was (the package is
not touched), and keeps it only once it reads back; then publish it. Both
are signed; a manifest checked with --check-manifest must give them as JSON
numbers, if at all.

With --stages 1,10,50,100 (whole numbers rising strictly from at least 1 to
100) the release is offered in those stages: manifest.json is the first stage,
and OUT/stages/ holds one manifest per stage, rollout-<N>.json, and
rollout-0.json, the halt, each signed with --signing-key when one is given
and read back before it is kept, with stages.txt listing them. The update
server's "nirva_release.py advance" publishes one of them over the live
manifest from the outcome reports alone, without the release key; see its
--help and deploy/nginx/README.md ("Releasing in stages").

With --signing-key KEY.pem (an ECDSA P-256 private key, kept on the offline
release machine), the manifest gets a "signature": ECDSA over the SHA-256 of
the values the updater reads (see tools/release/release_tool/signing.py), as
r || s in base64. An updater built with NIRVA_RELEASE_PUBLIC_KEY installs only
releases signed so. The tool verifies its own signature with the public key
made from the private one before keeping the manifest. Signing and checking
signatures need the openssl command line. --print-public-key KEY.pem prints the
128 hexadecimal digits to build the updater with.

With --previous OLD.zip (repeatable: the last few packages offices may still
have), also writes OUT/nirva.zip.patches/: for every file of the new package
whose name an old package holds with another CRC-32, a binary patch from the
old content to the new, named <old CRC-32>-<new CRC-32> (8 lowercase hex
digits each), kept only when it is under half the new entry's compressed size
(entries over 256 MiB get none). Publish that folder beside the package, before
the manifest. An updater rebuilding from the old package fetches the patch
instead of the entry, and the entry itself when the patch is missing or does
not rebuild it. The package and the manifest are the same with or without
patches. Needs the bsdiff command and a Python whose zlib is 1.2.13, the
updater's: the updater deflates each patched entry again and must get the
package's bytes (README.md, "Binary patches", has the format).

With --check-package FILE, reads a package made by any zip tool as the updater
reads it and names every entry it would refuse, with the rule (the words of
tests/vectors/entry_names/names.tsv), and every name it reads otherwise than
the entry's own name says (a "." folder dropped, a name taken from the
Unicode path extra field); exit 1 when it would refuse the package. Run it on
every package the release tool did not make.

With --check-manifest FILE, reads an existing manifest both as JSON and as the
updater does, and names every field the updater would misread or the rules
above refuse; with --public-key HEX also its signature.

"nirva_release.py report LOG... [--html FILE]" reads the update server's
outcome reports instead and prints how each release fares, and "nirva_release.py
advance --stages DIR --manifest FILE --reports LOG..." widens or halts a staged
release on the update server; see their --help (a release folder named report
or advance is given as ./report).

Exit status: 0 done, 1 refused (nothing new is left in the output folder),
2 bad usage."""


def parse_arguments(argv: list[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog="nirva_release.py", description=DESCRIPTION,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("folder", nargs="?", type=Path,
                        help=f"release folder; {APPLICATION_EXE} must be at its root")
    parser.add_argument("--version", help="release version, such as 4.1.0.12 or 4.1.0+12")
    parser.add_argument("--notes", type=Path, help="UTF-8 file with the release notes")
    parser.add_argument("--url", help="public https:// url of nirva.zip")
    parser.add_argument("--out", type=Path, help="output folder for nirva.zip and manifest.json")
    parser.add_argument("--mandatory", action="store_true",
                        help="clients must install this release (default: optional)")
    parser.add_argument("--rollout", metavar="N",
                        help="offer the release to N percent of offices, 0 to 100 (default: no key, every office)")
    parser.add_argument("--stages", metavar="N,N,...",
                        help="offer the release in these stages, ending in 100: manifest.json is the first, "
                             "OUT/stages/ holds each stage and the halt, signed")
    parser.add_argument("--release-date", type=lambda text: _date(text, RELEASE_DATE_FORMAT),
                        help="YYYY-MM-DD")
    parser.add_argument("--upload-date", type=lambda text: _date(text, UPLOAD_DATE_FORMAT),
                        help="YYYY-MM-DDTHH:MM:SSZ, UTC")
    parser.add_argument("--updater", type=Path, metavar="FILE",
                        help=f"a newer {UPDATER_EXE} to put at the package root")
    parser.add_argument("--previous", type=Path, metavar="OLD.zip", action="append", default=[],
                        help="an earlier nirva.zip offices may still have: patches from its changed entries "
                             "(repeatable)")
    parser.add_argument("--signing-key", type=Path, metavar="KEY",
                        help="ECDSA P-256 private key (PEM) that signs the manifest")
    parser.add_argument("--check-manifest", type=Path, metavar="FILE",
                        help="check an existing manifest instead of building a release")
    parser.add_argument("--check-package", type=Path, metavar="FILE",
                        help="check a package made by another tool as the updater would unpack it")
    parser.add_argument("--public-key", metavar="HEX",
                        help="with --check-manifest: the release public key its signature must verify with")
    parser.add_argument("--restage", type=Path, metavar="MANIFEST",
                        help="rewrite a published manifest with another --rollout, signed again, instead of building")
    parser.add_argument("--print-public-key", type=Path, metavar="KEY",
                        help="print the public key of a signing key as NIRVA_RELEASE_PUBLIC_KEY wants it")
    arguments = parser.parse_args(argv)
    if arguments.restage is not None:
        others = [option for option, value in (
            ("folder", arguments.folder), ("--version", arguments.version), ("--notes", arguments.notes),
            ("--url", arguments.url), ("--out", arguments.out), ("--mandatory", arguments.mandatory or None),
            ("--release-date", arguments.release_date), ("--upload-date", arguments.upload_date),
            ("--updater", arguments.updater), ("--previous", arguments.previous or None),
            ("--check-manifest", arguments.check_manifest), ("--public-key", arguments.public_key),
            ("--print-public-key", arguments.print_public_key), ("--stages", arguments.stages),
            ("--check-package", arguments.check_package))
            if value is not None]
        if others:
            parser.error("--restage changes only the rollout and the signature: not with " + ", ".join(others))
        if arguments.rollout is None:
            parser.error("--restage needs --rollout")
    if (arguments.check_manifest is None and arguments.print_public_key is None and arguments.restage is None
            and arguments.check_package is None):
        missing = [name for name in ("folder", "version", "notes", "url", "out")
                   if getattr(arguments, name) is None]
        if missing:
            parser.error("missing " + ", ".join(missing))
    if arguments.stages is not None and arguments.rollout is not None:
        parser.error("--stages gives the rollout of each stage: not with --rollout")
    return arguments


REPORT_COMMAND = "report"
REPORT_DESCRIPTION = """\
Reads the update server's outcome report log (deploy/nginx/README.md, "Outcome
reports") and prints per release: the offices that tried it (distinct office
ids), how many installed it and how many failed, and the failure reports by
step and code with the number of offices that sent them; then the checks that
failed before any release was offered (their to-version is "none").

An office counts once per release, with the outcome of its latest report: an
office that failed and installed later counts as installed for that release
(its earlier failure reports still show among the failures).

Each LOG is read with its rotated copies beside it (LOG.1, LOG.2.gz,
LOG-20261201.gz, ...), plain or gzip-compressed. Lines that are not a
well-formed report (another path, a method other than GET, an unknown
outcome or step, a code that is not decimal, an office id that is not 32
lowercase hexadecimal digits) are counted and otherwise ignored.

With --html FILE, also writes one self-contained page (no script, nothing
loaded from elsewhere) with the same tables, a bar chart per release and a
time axis: offices installed per day (cumulative) and, with --journal (the
advance command's advance.log), when each stage went live and the failure
share of each stage.

With --checks ACCESS_LOG... (the check location's own log), prints instead
how many check requests each installed version made per day: a release
spreading, in requests rather than offices (each start asks once)."""


def parse_report_arguments(argv: list[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(prog=f"nirva_release.py {REPORT_COMMAND}", description=REPORT_DESCRIPTION,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("logs", nargs="*", type=Path, metavar="LOG", help="the report log nginx writes")
    parser.add_argument("--html", type=Path, metavar="FILE", help="also write the tables and charts as a page")
    parser.add_argument("--journal", type=Path, metavar="FILE", help="with --html: advance's journal, for the stages")
    parser.add_argument("--checks", type=Path, nargs="+", metavar="ACCESS_LOG",
                        help="count the check requests of each installed version per day instead")
    arguments = parser.parse_args(argv)
    if bool(arguments.logs) == bool(arguments.checks):
        parser.error("give the report logs, or --checks with the check location's access logs")
    if arguments.checks and (arguments.html or arguments.journal):
        parser.error("--checks prints a table only: not with --html or --journal")
    if arguments.journal and not arguments.html:
        parser.error("--journal needs --html")
    return arguments


ADVANCE_COMMAND = "advance"
ADVANCE_DESCRIPTION = """\
Run on the update server by a timer (deploy/nirva-advance.timer, or cron)
every ten minutes: reads the live manifest and the outcome report logs, and
publishes the next stage, the halt (stages/rollout-0.json) or nothing. It
never signs: every stage file was signed at release time (--stages).

Counts, for the live release only, each office once by its latest report:
installed, failed, rolled back (a release that failed to start and was taken
back). Report lines that are not a well-formed report are skipped and counted.

  halt   when at least --min-reports offices reported and the share that failed
         or rolled back is above --halt-above percent; or once --halt-at
         offices failed or rolled back, whatever the share. Final: advance never
         widens a halted release, a person decides (--restage or a new release).
  widen  to the next stage when at least --min-reports offices reported while
         the live stage was live, the share is at or under --halt-above, and the
         stage has been live for --hold-hours.
  else   nothing changes. Running it again decides the same on the same reports.

Reports are not authenticated. Failures and rollbacks always count (forged ones
can only halt); the "installed" offices one client address contributes are
capped per day (--per-address), so forged successes cannot widen a release or
dilute its failures away.

The manifest is replaced by rename (nginx serves the old or the new file,
whole) with a stage file's bytes. Beside it: advance.state (the live stage and
since when) and advance.log (one line per decision: time, release, stage from
and to, counts, reason).

Exit status: 0 for every decision, 1 when the inputs are wrong (a stage file
missing or not of the live release, a manifest that is none of the stages,
an unreadable log; the manifest is left as it was), 2 bad usage."""


def _whole(minimum: int):
    def whole(text: str) -> int:
        if not text.isdigit() or int(text) < minimum:
            raise argparse.ArgumentTypeError(f"{text!r} is not a whole number of at least {minimum}")
        return int(text)
    return whole


def _number(largest: float | None):
    def number(text: str) -> float:
        try:
            value = float(text)
        except ValueError:
            value = -1.0
        if not (0 <= value <= (largest if largest is not None else float("inf"))):
            raise argparse.ArgumentTypeError(f"{text!r} is not a number from 0"
                                             + (f" to {largest:g}" if largest is not None else ""))
        return value
    return number


def parse_advance_arguments(argv: list[str]) -> argparse.Namespace:
    from . import advance
    rules = advance.Rules()
    parser = argparse.ArgumentParser(prog=f"nirva_release.py {ADVANCE_COMMAND}", description=ADVANCE_DESCRIPTION,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--stages", type=Path, required=True, metavar="DIR", help="the release's stages folder")
    parser.add_argument("--manifest", type=Path, required=True, metavar="FILE", help="the published manifest.json")
    parser.add_argument("--reports", type=Path, nargs="+", required=True, metavar="LOG",
                        help="the report log nginx writes (rotated copies beside it are read too)")
    parser.add_argument("--min-reports", type=_whole(1), default=rules.min_reports, metavar="N",
                        help=f"offices that must have reported (default {rules.min_reports})")
    parser.add_argument("--halt-above", type=_number(100), default=rules.halt_above, metavar="PCT",
                        help=f"halt above this share failed or rolled back (default {rules.halt_above:g})")
    parser.add_argument("--hold-hours", type=_number(None), default=rules.hold_hours, metavar="H",
                        help=f"hours a stage stays live before it widens (default {rules.hold_hours:g})")
    parser.add_argument("--halt-at", type=_whole(1), default=rules.halt_at, metavar="M",
                        help=f"halt once this many offices failed or rolled back (default {rules.halt_at})")
    parser.add_argument("--per-address", type=_whole(1), default=rules.per_address, metavar="N",
                        help="installed offices one client address counts for per day "
                             f"(default {rules.per_address})")
    parser.add_argument("--check-package", type=Path, metavar="FILE",
                        help="check a package made by another tool as the updater would unpack it")
    parser.add_argument("--public-key", metavar="HEX", help="also verify every stage file's signature")
    return parser.parse_args(argv)


def advance_command(arguments: argparse.Namespace) -> None:
    from . import advance
    rules = advance.Rules(arguments.min_reports, arguments.halt_above, arguments.hold_hours, arguments.halt_at,
                          arguments.per_address)
    now = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
    try:
        outcome = advance.advance(arguments.stages, arguments.manifest, arguments.reports, rules, now,
                                  arguments.public_key)
    except OSError as error:
        # A file beside the manifest (the journal, the state, the new manifest) cannot be written.
        raise Refusal([f"advance: {error.filename}: {error.strerror}"])
    sys.stdout.write(advance.describe(outcome, now))


def _date(text: str, pattern: str) -> str:
    try:
        datetime.datetime.strptime(text, pattern)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} does not match {pattern}")
    return text


def check_manifest_command(path: Path, public_key: str | None) -> None:
    try:
        text = path.read_bytes().decode("utf-8")
    except OSError as error:
        raise Refusal([f"cannot read {path}: {error.strerror}"])
    except UnicodeDecodeError as error:
        raise Refusal([f"{path} is not UTF-8 (byte {error.start})"])
    problems = check_manifest_text(text, public_key)
    if problems:
        raise Refusal(problems)
    print(f"{path}: every field reads back exactly")


def release_command(arguments: argparse.Namespace) -> None:
    folder = arguments.folder
    if not folder.is_dir():
        raise Refusal([f"folder: {folder} is not a folder"])
    exe = folder / APPLICATION_EXE
    problems = []
    if not exe.is_file():
        problems.append(f"folder: {folder} has no {APPLICATION_EXE} at its root")
    out_dir = arguments.out.resolve()
    if out_dir.is_relative_to(folder.resolve()):
        problems.append(f"out: {arguments.out} lies inside the release folder")
    version_refusals = version_problems(arguments.version)
    problems += version_refusals + url_problems(arguments.url) + rollout_problems(arguments.rollout)
    stages = None
    if arguments.stages is not None:
        try:
            stages = parse_stages(arguments.stages)
        except Refusal as refusal:
            problems += refusal.problems
    try:
        notes = notes_from_file(arguments.notes)
        problems += notes_problems(notes)
    except Refusal as refusal:
        problems += refusal.problems
    if exe.is_file() and not version_refusals:
        problems += product_version_problems(exe, arguments.version)
    if arguments.updater is not None:
        problems += updater_problems(arguments.updater)
    if arguments.previous:
        problems += previous_problems(arguments.previous)
    if arguments.signing_key is not None:
        try:
            signing.public_key_hex(arguments.signing_key)
        except signing.SigningError as error:
            problems.append(f"signing key: {error}")
    if problems:
        raise Refusal(problems)
    upload_date = arguments.upload_date or datetime.datetime.now(datetime.timezone.utc).strftime(UPLOAD_DATE_FORMAT)
    manifest = Manifest(version=arguments.version, url=arguments.url, sha256="", notes=notes,
                        release_date=arguments.release_date or upload_date[:10], upload_date=upload_date,
                        mandatory=arguments.mandatory, rollout=str(stages[0]) if stages else arguments.rollout)
    print_published(publish(folder, manifest, out_dir, arguments.updater, arguments.signing_key, arguments.previous,
                            stages))


def print_published(published: Published) -> None:
    manifest, package = published.manifest, published.package
    print(f"{package} ({package.stat().st_size} bytes, sha256 {manifest.sha256})")
    if published.patch_results is not None:
        kept = len(published.patch_results.kept)
        print(f"{published.patch_folder} ({kept} patch{'' if kept == 1 else 'es'})")
        print("".join(f"  patch {note}\n" for note in published.patch_results.kept)
              + "".join(f"  no patch: {note}\n" for note in published.patch_results.skipped), end="")
    print(f"{published.manifest_path} (version {manifest.version}, "
          f"{'mandatory' if manifest.mandatory else 'optional'}, "
          f"offered to {'every office' if manifest.rollout is None else manifest.rollout + ' % of offices'}, "
          f"uploaded {manifest.upload_date}"
          f"{', signed' if manifest.signature else ''})")
    if published.stage_folder is not None:
        print(f"{published.stage_folder} (" + ", ".join(sorted((path.name for path in published.stage_folder.iterdir()),
                                                               key=lambda name: (len(name), name))) + ")")


def report_command(arguments: argparse.Namespace) -> None:
    # Each command loads only its own modules: the tool starts often, in scripts and tests.
    from . import advance
    from .check_requests import checks_table, count_checks
    if arguments.checks:
        sys.stdout.write(checks_table(*count_checks(arguments.checks)))
        return
    log = read_reports(arguments.logs)
    sys.stdout.write(text_report(log))
    if arguments.html is not None:
        try:
            journal = advance.read_journal(arguments.journal) if arguments.journal else None
        except OSError as error:
            raise Refusal([f"journal: cannot read {arguments.journal}: {error.strerror}"])
        try:
            arguments.html.write_text(html_report(log, journal), encoding="utf-8")
        except OSError as error:
            raise Refusal([f"html: cannot write {arguments.html}: {error.strerror}"])


def run(argv: list[str]) -> None:
    if argv[:1] == [REPORT_COMMAND]:
        report_command(parse_report_arguments(argv[1:]))
        return
    if argv[:1] == [ADVANCE_COMMAND]:
        advance_command(parse_advance_arguments(argv[1:]))
        return
    arguments = parse_arguments(argv)
    if arguments.print_public_key is not None:
        print(signing.public_key_hex(arguments.print_public_key))
    elif arguments.check_manifest is not None:
        check_manifest_command(arguments.check_manifest, arguments.public_key)
    elif arguments.check_package is not None:
        from .package_check import check_package
        refusals, notes = check_package(arguments.check_package)
        print("".join(f"{note}\n" for note in notes), end="")
        if refusals:
            raise Refusal(refusals)
        print(f"{arguments.check_package}: the updater unpacks every entry as named")
    elif arguments.restage is not None:
        manifest = restage(arguments.restage, arguments.rollout, arguments.signing_key)
        print(f"{arguments.restage} (version {manifest.version}, offered to {manifest.rollout} % of offices"
              f"{', signed' if manifest.signature else ''})")
    else:
        release_command(arguments)


def main(argv: list[str] | None = None) -> int:
    # Persian paths must not stop a run whose output goes to a narrow code page.
    sys.stdout.reconfigure(errors="backslashreplace")
    try:
        run(sys.argv[1:] if argv is None else argv)
    except signing.SigningError as error:
        print(f"refused: {error}", file=sys.stderr)
        return 1
    except Refusal as refusal:
        for problem in refusal.problems:
            print(f"refused: {problem}", file=sys.stderr)
        return 1
    return 0
