#!/usr/bin/python3
"""The release's files, byte for byte the same from every build of one commit.

    pack.py text IN OUT --version V         a text for Windows: @VERSION@ filled in, CR LF line
                                            ends, UTF-8 with a byte-order mark (Notepad of
                                            every Windows version reads it)
    pack.py zip OUT --epoch SECONDS FILE... a zip of the files under their base names, in name
                                            order, each dated SECONDS (UTC), mode 0644
    pack.py sums OUT FILE...                SHA256SUMS in the format of `sha256sum -c`, in name
                                            order
    --base DIR (zip and sums)               name each file by its path below DIR instead
                                            (fleet/README.md), with forward slashes
"""

import argparse
import hashlib
import os
import sys
import time
import zipfile


def windows_text(source, version):
    text = source.replace('@VERSION@', version).replace('\r\n', '\n')
    return b'\xef\xbb\xbf' + text.replace('\n', '\r\n').encode('utf-8')


def member_name(path, base):
    if base is None:
        return os.path.basename(path)
    return os.path.relpath(path, base).replace(os.sep, '/')


def write_zip(out, epoch, files, base=None):
    # DOS times have no zone and start in 1980; the commit time in UTC is the same everywhere.
    date_time = time.gmtime(max(epoch, 315532800))[:6]
    with zipfile.ZipFile(out, 'w') as archive:
        for path in sorted(files, key=lambda p: member_name(p, base)):
            info = zipfile.ZipInfo(member_name(path, base), date_time)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3
            info.external_attr = 0o100644 << 16
            with open(path, 'rb') as f:
                archive.writestr(info, f.read(), compresslevel=9)


def write_sums(out, files, base=None):
    lines = []
    for path in sorted(files, key=lambda p: member_name(p, base)):
        with open(path, 'rb') as f:
            lines.append('%s  %s\n' % (hashlib.sha256(f.read()).hexdigest(),
                                       member_name(path, base)))
    with open(out, 'w', encoding='ascii', newline='\n') as f:
        f.writelines(lines)


def main():
    parser = argparse.ArgumentParser()
    commands = parser.add_subparsers(dest='command', required=True)
    text = commands.add_parser('text')
    text.add_argument('source')
    text.add_argument('out')
    text.add_argument('--version', required=True)
    zip_ = commands.add_parser('zip')
    zip_.add_argument('out')
    zip_.add_argument('--epoch', type=int, required=True)
    zip_.add_argument('--base')
    zip_.add_argument('files', nargs='+')
    sums = commands.add_parser('sums')
    sums.add_argument('out')
    sums.add_argument('--base')
    sums.add_argument('files', nargs='+')
    args = parser.parse_args()
    if args.command == 'text':
        with open(args.source, encoding='utf-8') as f:
            data = windows_text(f.read(), args.version)
        with open(args.out, 'wb') as f:
            f.write(data)
    elif args.command == 'zip':
        write_zip(args.out, args.epoch, args.files, args.base)
    else:
        write_sums(args.out, args.files, args.base)
    return 0


if __name__ == '__main__':
    sys.exit(main())
