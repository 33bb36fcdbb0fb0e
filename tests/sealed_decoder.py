#!/usr/bin/env python3
"""Independent decoder of sealed containers, written from the format comment in
include/nuv/nuv_zstream.h over Python's Argon2id, AES-256-GCM, HKDF and zlib.

Usage: sealed_decoder.py FILE (--password P | --key HEX)
Writes the plain text to stdout as each chunk verifies. Exits 0 when the whole file
verified; 1 for a failed tag (wrong secret or altered file) or a damaged file; 2 for a file
that is not a sealed container or has parameters a reader refuses, and for a bad command
line; 3 when the Python modules it needs are missing.
"""
import argparse
import os
import struct
import sys
import zlib

try:
    from argon2.low_level import Type, hash_secret_raw
    from cryptography.exceptions import InvalidTag
    from cryptography.hazmat.primitives import hashes
    from cryptography.hazmat.primitives.ciphers.aead import AESGCM
    from cryptography.hazmat.primitives.kdf.hkdf import HKDF
except ImportError as error:  # kept apart from 1, which a test reads as "tampering caught"
    sys.stderr.write(f"sealed_decoder: {error} (python3-argon2, python3-cryptography)\n")
    sys.exit(3)

HEADER = bytes([0xAC, 0x5E, 1, 0, 0, 0, 0, 0])
PREFIX = 52  # header and parameters: the associated data of every chunk
TAG = 16
ARGON2ID, HKDF_SHA256 = 1, 2


class Refused(Exception):
    """Not a sealed container, or parameters outside what a reader takes: exit 2."""


class Damaged(Exception):
    """A tag failed or the chunks do not form one whole zlib stream: exit 1."""


def parse_prefix(prefix):
    """The parameter block as a dict; Refused unless a reader may accept it."""
    if len(prefix) < PREFIX or prefix[:8] != HEADER:
        raise Refused("not a sealed container")
    version, kdf, aead, zero1, t, m, p = struct.unpack_from("<4B3I", prefix, 8)
    chunk, = struct.unpack_from("<I", prefix, 40)
    if version != 1 or aead != 1 or zero1 or prefix[51] or kdf not in (ARGON2ID, HKDF_SHA256):
        raise Refused("unknown version, algorithm or reserved byte")
    if not 1024 <= chunk <= 1 << 20:
        raise Refused(f"chunk size {chunk} outside 1 KiB to 1 MiB")
    if kdf == HKDF_SHA256 and (t, m, p) != (0, 0, 0):
        raise Refused("Argon2id cost given for HKDF")
    if kdf == ARGON2ID and not (1 <= p <= 64 and 8 * p <= m <= 1 << 20 and 1 <= t <= 1024):
        raise Refused(f"Argon2id cost t={t} m={m} p={p} out of range")
    return dict(kdf=kdf, t=t, m=m, p=p, salt=prefix[24:40], chunk=chunk, nonce=prefix[44:51])


def file_key(params, secret):
    """The 32-byte file key: Argon2id of a password or HKDF-SHA-256 of a raw key. Like the
    library's reader, this takes the secret's bytes through whichever the file names, so
    the wrong kind of secret is a wrong secret."""
    if params["kdf"] == ARGON2ID:
        return hash_secret_raw(secret, params["salt"], params["t"], params["m"], params["p"], 32,
                               Type.ID, version=19)
    return HKDF(algorithm=hashes.SHA256(), length=32, salt=params["salt"], info=b"nuv sealed v1").derive(secret)


def decode(path, secret, out):
    """Verifies and inflates `path` chunk by chunk into `out`."""
    with open(path, "rb") as f:
        prefix = f.read(PREFIX)
        params = parse_prefix(prefix)
        aead = AESGCM(file_key(params, secret))
        stored = params["chunk"] + TAG
        body = f.read()
    if not body:
        raise Damaged("no chunks")
    count = -(-len(body) // stored)  # the last chunk holds 1 to C bytes of zlib stream
    if len(body) - (count - 1) * stored <= TAG:
        raise Damaged("the last chunk is shorter than its tag")
    inflater = zlib.decompressobj()
    for i in range(count):
        last = i == count - 1
        nonce = params["nonce"] + struct.pack(">IB", i, last)
        try:
            plain = aead.decrypt(nonce, body[i * stored:(i + 1) * stored], prefix)
        except InvalidTag:
            raise Damaged(f"chunk {i} failed its tag (wrong password or key, or altered)")
        if inflater.eof:
            raise Damaged(f"chunk {i} follows the end of the zlib stream")
        try:
            out.write(inflater.decompress(plain))
        except zlib.error as error:
            raise Damaged(f"zlib: {error}")
    if not inflater.eof or inflater.unused_data:
        raise Damaged("the zlib stream does not end exactly at the end of the last chunk")


def raw_key(text):
    """--key's value: 64 hex digits, the 32 bytes of a raw key."""
    if len(text) != 64:
        raise ValueError(text)
    return bytes.fromhex(text)


def main():
    parser = argparse.ArgumentParser(description="Decode and verify a sealed container.")
    parser.add_argument("file")
    secret = parser.add_mutually_exclusive_group(required=True)
    secret.add_argument("--password", help="the password (its bytes as given)")
    secret.add_argument("--key", type=raw_key, help="the 32-byte raw key as 64 hex digits")
    args = parser.parse_args()
    try:
        decode(args.file, args.key or os.fsencode(args.password), sys.stdout.buffer)
    except (Refused, Damaged, OSError) as error:
        sys.stderr.write(f"sealed_decoder: {args.file}: {error}\n")
        return 1 if isinstance(error, Damaged) else 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
