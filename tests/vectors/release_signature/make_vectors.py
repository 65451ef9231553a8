#!/usr/bin/env python3
"""Writes the release signature vectors of this folder: manifests signed with
a fresh P-256 key (key.hex is its public key; the private key is thrown away),
some changed or damaged after signing; NAME.message beside each NAME.json, the
hex of the message bytes the updater builds from what it reads; and cases.tsv,
whether each signature verifies with key.hex. The messages are built here
from the contract itself, not by the release tool, so that both readers are
checked against it. Needs the openssl command line. Run it again only to
change the vectors: every signature changes."""

import base64
import hashlib
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parents[2] / "tools" / "release"))
from release_tool.signing import P256_KEY_INFO_PREFIX, raw_signature  # noqa: E402

NOTES = "\u0628\u0647\u200c\u0631\u0648\u0632\u0631\u0633\u0627\u0646\u06cc \u062c\u062f\u06cc\u062f\r\n" \
        "\u0631\u0641\u0639 \u0627\u0634\u06a9\u0627\u0644 \u0686\u0627\u067e \u0641\u0627\u06a9\u062a\u0648\u0631"
# Each key with its JSON text as the release tool writes it, in its order.
SIGNED = {
    "version": '"4.1.0.12"',
    "url": '"https://updates.example.com/packages/4.1.0.12/nirva.zip"',
    "sha256": '"3b5d5c3712955042212316173ccf37be800c4e9b9a4a8a1c8f4e3a6b5c2d1e0f"',
    "size": "1048576",
    "rollout": "10",
    "releaseDate": '"2026-12-01"',
    "uploadDate": '"2026-12-01T08:30:00Z"',
    "mandatory": "true",
    "notes": f'"{NOTES}"',
}
MESSAGE_ORDER = ("version", "url", "sha256", "size", "rollout", "mandatory", "releaseDate", "uploadDate", "notes")


def message(fields):
    """The contract: the label, then per key 0xFF and the value's UTF-8 (a
    string's content, a number's digits); no size is empty, no rollout 100."""
    values = {key: text.strip('"') for key, text in fields.items() if key != "signature"}
    values.setdefault("size", "")
    values.setdefault("rollout", "100")
    return b"NIRVA release manifest v2" + b"".join(b"\xff" + values[key].encode() for key in MESSAGE_ORDER)


def manifest(fields, order=None):
    keys = order or [key for key in SIGNED if key != "notes"] + ["signature", "notes"]
    return "{\n" + ",\n".join(f'  "{key}": {fields[key]}' for key in keys if key in fields) + "\n}\n"


def openssl(*arguments):
    return subprocess.run(["openssl", *map(str, arguments)], check=True, capture_output=True).stdout


def signer(directory, name):
    key = Path(directory, name)
    openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", key)

    def sign(data):
        digest = Path(directory, "digest")
        digest.write_bytes(hashlib.sha256(data).digest())
        return '"' + base64.b64encode(raw_signature(openssl("pkeyutl", "-sign", "-inkey", key, "-in", digest))).decode() + '"'
    public = openssl("pkey", "-in", key, "-pubout", "-outform", "DER")[len(P256_KEY_INFO_PREFIX) + 1:]
    return sign, public.hex()


def cases(sign, sign_other):
    signed = dict(SIGNED, signature=sign(message(SIGNED)))
    good = signed["signature"]
    without_rollout = {key: text for key, text in SIGNED.items() if key != "rollout"}
    flipped = good[:15] + ("A" if good[15] != "A" else "B") + good[16:]
    return {
        "signed": (signed, "valid"),
        "other_layout_and_extra_keys": (dict(signed, channel='"stable"'), "valid"),
        "rollout_absent": (dict(without_rollout, signature=sign(message(without_rollout))), "valid"),
        # The message holds what the updater reads: a quoted 10 reads as 10.
        "rollout_quoted": (dict(signed, rollout='"10"'), "valid"),
        "no_signature": (SIGNED, "invalid"),
        "signed_by_another_key": (dict(SIGNED, signature=sign_other(message(SIGNED))), "invalid"),
        "signature_of_another_version": (dict(signed, version='"4.1.0.13"'), "invalid"),
        "url_changed_after_signing": (dict(signed, url='"https://updates.example.com/packages/4.1.0.11/nirva.zip"'),
                                      "invalid"),
        "sha256_changed_after_signing": (dict(signed, sha256='"' + "0" * 64 + '"'), "invalid"),
        "size_changed_after_signing": (dict(signed, size="1048577"), "invalid"),
        "size_removed_after_signing": ({key: text for key, text in signed.items() if key != "size"}, "invalid"),
        "rollout_changed_after_signing": (dict(signed, rollout="100"), "invalid"),
        "rollout_removed_after_signing": ({key: text for key, text in signed.items() if key != "rollout"}, "invalid"),
        "mandatory_changed_after_signing": (dict(signed, mandatory="false"), "invalid"),
        "notes_changed_after_signing": (dict(signed, notes='"' + NOTES.replace("\u062c\u062f\u06cc\u062f", "") + '"'),
                                        "invalid"),
        "signature_bit_flipped": (dict(signed, signature=flipped), "invalid"),
        "signature_too_short": (dict(signed, signature=good[:65] + '"'), "invalid"),
        "signature_not_base64": (dict(signed, signature='"*' + good[2:]), "invalid"),
        "signature_without_padding": (dict(signed, signature=good.replace("=", "")), "invalid"),
    }


def main():
    for old in [*HERE.glob("*.json"), *HERE.glob("*.message")]:
        old.unlink()
    with tempfile.TemporaryDirectory() as directory:
        sign, public_key = signer(directory, "release.pem")
        sign_other, _ = signer(directory, "other.pem")
        table = cases(sign, sign_other)
    (HERE / "key.hex").write_text(public_key + "\n")
    rows = ["# Manifest vector, then whether its signature verifies with key.hex. Each",
            "# NAME.json has NAME.message beside it: the hex of the bytes it signs.",
            "# Fields are separated by one tab. Written by make_vectors.py."]
    for name, (fields, verdict) in table.items():
        order = list(reversed(fields)) if name == "other_layout_and_extra_keys" else None
        (HERE / f"{name}.json").write_bytes(manifest(fields, order).encode())
        (HERE / f"{name}.message").write_text(message(fields).hex() + "\n")
        rows.append(f"{name}\t{verdict}")
    (HERE / "cases.tsv").write_text("\n".join(rows) + "\n")


if __name__ == "__main__":
    main()
