#!/usr/bin/python3
"""The fleet recipes of the release: the templates of scripts/release/fleet/ with the SHA-256 of
the release's own lkscan.exe and its version filled in.

    fleet.py --lkscan lkscan.exe --version V --out DIR

Writes into DIR every template of the fleet folder, @LKSCAN_SHA256@ and @VERSION@ replaced,
as UTF-8 without a byte-order mark and with LF line ends (what Intune asks of its scripts; the
scripts are ASCII only, so Windows PowerShell 5.1, which reads a file without a byte-order mark
in the ANSI code page, reads them the same). Fails (exit 1) when a placeholder is left or a
PowerShell script is not ASCII.
"""

import argparse
import hashlib
import re
import sys
from pathlib import Path

TEMPLATES = Path(__file__).resolve().parent / 'fleet'


def fill(text, sha256, version):
    return text.replace('@LKSCAN_SHA256@', sha256).replace('@VERSION@', version)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--lkscan', required=True, help="the release's lkscan.exe")
    parser.add_argument('--version', required=True)
    parser.add_argument('--out', required=True)
    args = parser.parse_args()

    sha256 = hashlib.sha256(Path(args.lkscan).read_bytes()).hexdigest()
    out = Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    for template in sorted(TEMPLATES.iterdir()):
        if not template.is_file():
            continue
        text = fill(template.read_text(encoding='utf-8'), sha256, args.version)
        left = re.findall(r'@[A-Z0-9_]+@', text)
        if left:
            print(f'fleet: {template.name}: placeholders left: {left}', file=sys.stderr)
            return 1
        if template.suffix == '.ps1' and not text.isascii():
            print(f'fleet: {template.name} is not ASCII', file=sys.stderr)
            return 1
        (out / template.name).write_bytes(text.replace('\r\n', '\n').encode('utf-8'))
    return 0


if __name__ == '__main__':
    sys.exit(main())
