#!/usr/bin/python3
"""Builds a disk image holding one NTFS volume with the contents of a folder tree, for the tests
of lkscan --image and --list and of the rescue medium.

    make_image.py --tree DIR --out FILE [--table gpt|mbr|none] [--size-mb N] [--label L]
                  [--bitlocker] [--hibernated] [--dirty]
                  [--format raw|split|vhd|vhdx|vmdk|e01]
                  [--damage table|mft|truncate] [--filler PROGRAM]

The volume is made with mkntfs on a file and filled without mounting anything: a small program
on libntfs-3g (ntfs_fill.c beside this script; built here with gcc unless --filler or
LK_NTFS_FILL names a built one) copies the tree's folders and files in. The table is written
with sfdisk: GPT holds a 1 MiB Microsoft reserved partition first and the NTFS volume as
partition 2 from 2 MiB; MBR holds the NTFS volume as partition 1 from 1 MiB; "none" is the bare
volume. The conversions are qemu-img's (vhd, vhdx, vmdk) and ewfacquire's (e01); "split" cuts
the raw image into FILE.001, FILE.002, FILE.003.

--bitlocker gives the volume's boot sector the signature of an encrypted volume and fills the
rest of it with random bytes; --hibernated adds a hiberfil.sys whose first page is not zero;
--dirty marks the volume as not cleanly unmounted. --damage table points the NTFS partition's
entry past the end of the image, mft overwrites the start of the MFT, truncate cuts the written
file (an E01 segment, say) to half its size.

Prints the path of the image it wrote (the first segment for split and e01). Exit 0, or 1 with
a message on stderr.
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path

SECTOR = 512
MIB = 1024 * 1024
GPT_RESERVED = 'E3C9E316-0B5C-4DB8-817D-F92DF00215AE'
GPT_BASIC_DATA = 'EBD0A0A2-B9E5-4433-87C0-68B6B72699C7'
HIBERFIL_BYTES = 64 * 1024


class Failure(Exception):
    pass


def run(command, **kwargs):
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)
    if done.returncode != 0:
        raise Failure('%s failed (%d): %s' % (command[0], done.returncode,
                                              (done.stderr or done.stdout).decode(errors='replace')
                                              .strip()))
    return done


def filler_program(given, work):
    """The ntfs_fill program: the one given, or built from the source beside this script."""
    given = given or os.environ.get('LK_NTFS_FILL')
    if given:
        return given
    program = os.path.join(work, 'ntfs_fill')
    source = str(Path(__file__).resolve().parent / 'ntfs_fill.c')
    run(['gcc', '-O2', '-o', program, source, '-lntfs-3g'])
    return program


def copy_sparse(source, target, offset):
    """Writes the file source into target at offset, leaving blocks of zeros as holes."""
    with open(source, 'rb') as reading, open(target, 'r+b') as writing:
        position = offset
        while True:
            block = reading.read(MIB)
            if not block:
                break
            if block.count(0) != len(block):
                writing.seek(position)
                writing.write(block)
            position += len(block)


def make_volume(args, work, volume, start_sector, size):
    with open(volume, 'wb') as made:
        made.truncate(size)
    run(['mkntfs', '-q', '-F', '-Q', '-s', str(SECTOR), '-p', str(start_sector), '-H', '255',
         '-S', '63', '-L', args.label, volume])
    filler = filler_program(args.filler, work)
    run([filler, volume, args.tree])
    if args.hibernated:
        extra = os.path.join(work, 'hibernation')
        os.mkdir(extra)
        # A hibernated Windows writes its saved session from the first page on ("HIBR" and the
        # restore data); a fully shut down one leaves the first page zero.
        page = b'HIBR' + os.urandom(4092)
        with open(os.path.join(extra, 'hiberfil.sys'), 'wb') as hiberfil:
            hiberfil.write(page + bytes(HIBERFIL_BYTES - len(page)))
        run([filler, volume, extra])
    if args.dirty:
        empty = os.path.join(work, 'empty')
        os.mkdir(empty)
        run([filler, volume, empty, '--dirty'])
    with open(volume, 'r+b') as image:
        boot = image.read(SECTOR)
        if args.damage == 'mft':
            bytes_per_sector = struct.unpack_from('<H', boot, 0x0B)[0]
            sectors_per_cluster = boot[0x0D]
            mft_cluster = struct.unpack_from('<Q', boot, 0x30)[0]
            image.seek(mft_cluster * sectors_per_cluster * bytes_per_sector)
            image.write(b'\xa5' * (64 * 1024))
        if args.bitlocker:
            image.seek(3)
            image.write(b'-FVE-FS-')
            image.seek(SECTOR)
            remaining = size - SECTOR
            while remaining > 0:
                piece = min(remaining, MIB)
                image.write(os.urandom(piece))
                remaining -= piece


def write_table(args, disk, total, volume_start, volume_size):
    if args.table == 'gpt':
        script = ('label: gpt\n'
                  'start=2048, size=2048, type=%s, name="Microsoft reserved partition"\n'
                  'start=%d, size=%d, type=%s, name="Basic data partition"\n'
                  % (GPT_RESERVED, volume_start // SECTOR, volume_size // SECTOR, GPT_BASIC_DATA))
    else:
        script = ('label: dos\n'
                  'start=%d, size=%d, type=7\n' % (volume_start // SECTOR, volume_size // SECTOR))
    run(['sfdisk', '-q', '--no-reread', '--no-tell-kernel', disk], input=script.encode())
    if args.damage != 'table':
        return
    beyond = total // SECTOR + 4096
    with open(disk, 'r+b') as image:
        if args.table == 'mbr':
            image.seek(446 + 8)
            image.write(struct.pack('<I', beyond))
            return
        # Both the primary table and its backup at the end of the disk, each with valid
        # checksums: a reader that falls back to the backup finds the same forged entry.
        for header_lba in (1, total // SECTOR - 1):
            image.seek(header_lba * SECTOR)
            header = bytearray(image.read(SECTOR))
            header_size = struct.unpack_from('<I', header, 0x0C)[0]
            entries_lba, count, entry_size = struct.unpack_from('<QII', header, 0x48)
            image.seek(entries_lba * SECTOR)
            entries = bytearray(image.read(count * entry_size))
            second = entry_size
            length = struct.unpack_from('<Q', entries, second + 0x28)[0] - \
                struct.unpack_from('<Q', entries, second + 0x20)[0]
            struct.pack_into('<QQ', entries, second + 0x20, beyond, beyond + length)
            struct.pack_into('<I', header, 0x58, zlib.crc32(bytes(entries)))
            struct.pack_into('<I', header, 0x10, 0)
            struct.pack_into('<I', header, 0x10, zlib.crc32(bytes(header[:header_size])))
            image.seek(entries_lba * SECTOR)
            image.write(entries)
            image.seek(header_lba * SECTOR)
            image.write(header)


def convert(args, raw, out):
    """Writes the raw image as --format asks; returns the path to print."""
    if args.format == 'raw':
        shutil.move(raw, out)
        return out
    if args.format == 'split':
        size = os.path.getsize(raw)
        piece = (size // 3 // SECTOR + 1) * SECTOR
        first = None
        with open(raw, 'rb') as reading:
            for number in range(1, 4):
                name = '%s.%03d' % (out, number)
                first = first or name
                with open(name, 'wb') as writing:
                    writing.write(reading.read(piece))
        return first
    if args.format in ('vhd', 'vhdx', 'vmdk'):
        run(['qemu-img', 'convert', '-q', '-f', 'raw', '-O',
             'vpc' if args.format == 'vhd' else args.format, raw, out])
        return out
    target = out[:-4] if out.lower().endswith('.e01') else out
    run(['ewfacquire', '-u', '-q', '-t', target, '-f', 'encase6', '-c', 'deflate:fast',
         '-S', str(1024 * MIB), '-C', 'test', '-D', 'test image', '-e', 'test', '-E', '1',
         '-N', 'made by make_image.py', raw], stdin=subprocess.DEVNULL)
    return target + '.E01'


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--tree', required=True)
    parser.add_argument('--out', required=True)
    parser.add_argument('--table', choices=('gpt', 'mbr', 'none'), default='gpt')
    parser.add_argument('--size-mb', type=int, default=64)
    parser.add_argument('--label', default='Windows')
    parser.add_argument('--bitlocker', action='store_true')
    parser.add_argument('--hibernated', action='store_true')
    parser.add_argument('--dirty', action='store_true')
    parser.add_argument('--format', choices=('raw', 'split', 'vhd', 'vhdx', 'vmdk', 'e01'),
                        default='raw')
    parser.add_argument('--damage', choices=('table', 'mft', 'truncate'))
    parser.add_argument('--filler')
    args = parser.parse_args()
    if not os.path.isdir(args.tree):
        print('make_image.py: %s is no folder' % args.tree, file=sys.stderr)
        return 1
    if args.damage == 'table' and args.table == 'none':
        print('make_image.py: --damage table needs a partition table', file=sys.stderr)
        return 1
    if args.size_mb < 8:
        print('make_image.py: --size-mb is at least 8', file=sys.stderr)
        return 1
    out = os.path.abspath(args.out)
    work = tempfile.mkdtemp(prefix='lk-make-image-')
    try:
        total = args.size_mb * MIB
        volume_start = {'gpt': 2 * MIB, 'mbr': MIB, 'none': 0}[args.table]
        volume_size = total - volume_start - (MIB if args.table != 'none' else 0)
        volume = os.path.join(work, 'volume')
        make_volume(args, work, volume, volume_start // SECTOR, volume_size)
        raw = os.path.join(work, 'disk.raw')
        if args.table == 'none':
            os.rename(volume, raw)
        else:
            with open(raw, 'wb') as disk:
                disk.truncate(total)
            write_table(args, raw, total, volume_start, volume_size)
            copy_sparse(volume, raw, volume_start)
        written = convert(args, raw, out)
        if args.damage == 'truncate':
            with open(written, 'r+b') as cut:
                cut.truncate(os.path.getsize(written) // 2)
        print(written)
        return 0
    except (Failure, OSError) as failure:
        print('make_image.py: %s' % failure, file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
