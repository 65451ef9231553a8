"""A release's stages, each signed at release time: OUT/stages/rollout-<N>.json
for every stage N and rollout-0.json, the halt. The update server later
publishes one of them over manifest.json (the advance command), choosing
among signed files without ever holding the release key.

    stages/stages.txt       the stages in order, as --stages gave them ("1,10,50,100")
    stages/rollout-0.json   the halt: offered to no office
    stages/rollout-1.json   ...one per stage, the last one rollout-100.json
"""

import dataclasses
import re
from pathlib import Path

from . import signing
from .checks import MAX_ROLLOUT, Refusal, misread_fields, signature_problems
from .reader import Manifest, read_manifest

FOLDER = "stages"
INDEX = "stages.txt"
HALT = 0
STAGE_LIST = re.compile(r"[0-9]+(,[0-9]+)*", re.ASCII)


def stage_file_name(rollout: int) -> str:
    return f"rollout-{rollout}.json"


def parse_stages(text: str) -> list[int]:
    """The stages of --stages: whole numbers from 1 to 100, strictly increasing, the last one 100."""
    if not STAGE_LIST.fullmatch(text) or any(part != str(int(part)) for part in text.split(",")):
        raise Refusal([f"stages: {text!r} is not whole numbers separated by commas (such as 1,10,50,100)"])
    stages = [int(part) for part in text.split(",")]
    if stages[0] < 1 or stages[-1] != MAX_ROLLOUT or any(a >= b for a, b in zip(stages, stages[1:])):
        raise Refusal([f"stages: {text} must rise strictly from at least 1 and end in {MAX_ROLLOUT}"])
    return stages


def staged(manifest: Manifest, rollout: int, signing_key: Path | None) -> Manifest:
    """The release as offered to `rollout` percent of offices, signed with the key when one is given.
    A manifest that already says so, signed, is kept as it is: the published
    manifest and its stage file are then the same bytes."""
    if manifest.rollout == str(rollout) and (manifest.signature or signing_key is None):
        return manifest
    changed = dataclasses.replace(manifest, rollout=str(rollout), signature="")
    if signing_key is None:
        return changed
    return dataclasses.replace(changed, signature=signing.sign(signing.canonical_message(changed), signing_key))


def write_stages(manifest: Manifest, stages: list[int], signing_key: Path | None, folder: Path) -> list[Path]:
    """Writes a stage file for the halt and each stage of the release into
    folder (made here), each read back and its signature verified before it
    is kept; raises Refusal, with nothing kept in folder, on any problem."""
    from .package import render_manifest  # the manifest's one writer; package imports this module
    public_key = signing.public_key_hex(signing_key) if signing_key is not None else None
    folder.mkdir(parents=True, exist_ok=True)
    written = []
    try:
        for rollout in (HALT, *stages):
            stage = staged(manifest, rollout, signing_key)
            path = folder / stage_file_name(rollout)
            path.write_bytes(render_manifest(stage).encode("utf-8"))
            text = path.read_bytes().decode("utf-8")
            problems = misread_fields(text, stage)
            if public_key is not None and not problems:
                problems = signature_problems(read_manifest(text), public_key)
            if problems:
                raise Refusal([f"{FOLDER}/{path.name}: {problem}" for problem in problems])
            written.append(path)
        index = folder / INDEX
        index.write_text(",".join(map(str, stages)) + "\n", encoding="ascii")
        written.append(index)
    except BaseException:
        for path in folder.glob("*"):
            path.unlink()
        raise
    return written
