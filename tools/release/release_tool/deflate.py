"""How the package's entries are deflated."""

import zlib
from dataclasses import dataclass


@dataclass(frozen=True)
class DeflateSettings:
    level: int
    # Negative: raw deflate, no zlib header or checksum (the zip format's own).
    window_bits: int
    memory_level: int
    strategy: int

    def deflate(self, data: bytes) -> bytes:
        compressor = zlib.compressobj(self.level, zlib.DEFLATED, self.window_bits, self.memory_level, self.strategy)
        return compressor.compress(data) + compressor.flush()


# The package's deflate, and the updater's recompression contract: it rebuilds
# a patched entry by deflating it with exactly these settings (zlib's
# deflateInit2 with level 6, Z_DEFLATED, window bits -15, memory level 8,
# Z_DEFAULT_STRATEGY) and takes it only when the compressed size is the one the
# package names. These are what Python's zipfile writes (zlib's default level,
# raw deflate, default window and memory level); the tool checks every entry it
# makes a patch for against them.
PACKAGE_DEFLATE = DeflateSettings(level=6, window_bits=-15, memory_level=8, strategy=zlib.Z_DEFAULT_STRATEGY)
