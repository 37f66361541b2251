#!/usr/bin/python3
"""The release's packing (scripts/release/pack.py): the same bytes from the same content.

    pack_test.py --work DIR

- text: the LIESMICH for Windows has the version filled in, a UTF-8 byte-order mark and CR LF
  after every line, whether its source ends lines with LF or with CR LF;
- zip: the same files, written at different times, in different folders and named in a
  different order, give byte-identical archives; the archive lists them by name, dated to the
  given time (UTC), and unzip reads it without error;
- sums: SHA256SUMS checks with `sha256sum -c`, and fails when a file changed.
Exit 0 when all hold, 1 when not.
"""

import argparse
import os
import shutil
import subprocess
import sys
import zipfile
from pathlib import Path

PACK = Path(__file__).resolve().parents[2] / 'scripts' / 'release' / 'pack.py'
LIESMICH = PACK.parent / 'LIESMICH.txt'
EPOCH = 1700000000  # 2023-11-14 22:13:20 UTC


def pack(*args, cwd=None):
    return subprocess.run([sys.executable, str(PACK)] + [str(a) for a in args], cwd=cwd,
                          capture_output=True, text=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--work', required=True)
    work = Path(parser.parse_args().work)
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    problems = []

    def expect(condition, what):
        if not condition:
            problems.append(what)

    # text
    pack('text', LIESMICH, work / 'LIESMICH.txt', '--version', '9.8.7.6')
    text = (work / 'LIESMICH.txt').read_bytes()
    expect(text.startswith(b'\xef\xbb\xbf'), 'the LIESMICH has no byte-order mark')
    expect(text.endswith(b'\r\n'), 'the LIESMICH does not end with CR LF')
    expect(text.count(b'\n') == text.count(b'\r\n'), 'the LIESMICH has a line without CR LF')
    expect(b'9.8.7.6' in text and b'@VERSION@' not in text, 'the version is not filled in')
    text.decode('utf-8')  # raises on anything but UTF-8
    crlf_source = work / 'crlf.txt'
    crlf_source.write_bytes(LIESMICH.read_bytes().replace(b'\n', b'\r\n'))
    pack('text', crlf_source, work / 'from-crlf.txt', '--version', '9.8.7.6')
    expect((work / 'from-crlf.txt').read_bytes() == text,
           'a source with CR LF gives another text (CR CR LF?)')

    # zip: the same content at two places and times
    names = ['lkscan.exe', 'AntiLauschkobold.exe', 'LIESMICH.txt']
    for folder, mtime in (('one', 1_600_000_000), ('two/deeper', 1_800_000_000)):
        (work / folder).mkdir(parents=True)
        for name in names:
            path = work / folder / name
            path.write_bytes(name.encode() * 1000)
            os.utime(path, (mtime, mtime))
            path.chmod(0o755 if folder == 'one' else 0o600)
    first = pack('zip', work / 'one.zip', '--epoch', EPOCH, *[work / 'one' / n for n in names])
    second = pack('zip', work / 'two.zip', '--epoch', EPOCH,
                  *[work / 'two/deeper' / n for n in reversed(names)])
    expect(first.returncode == 0 and second.returncode == 0, 'pack.py zip failed: %s %s' % (
        first.stderr, second.stderr))
    expect((work / 'one.zip').read_bytes() == (work / 'two.zip').read_bytes(),
           'the same files gave different archives')
    with zipfile.ZipFile(work / 'one.zip') as archive:
        infos = archive.infolist()
        expect([i.filename for i in infos] == sorted(names), 'members not in name order: %s' % [
            i.filename for i in infos])
        expect(all(i.date_time == (2023, 11, 14, 22, 13, 20) for i in infos),
               'members not dated to the given time: %s' % [i.date_time for i in infos])
        expect(archive.read('lkscan.exe') == b'lkscan.exe' * 1000, 'a member lost its content')
    tested = subprocess.run(['unzip', '-tq', str(work / 'one.zip')], capture_output=True)
    expect(tested.returncode == 0, 'unzip -t fails: %s' % tested.stdout)

    # sums
    files = [work / 'one' / n for n in names]
    pack('sums', work / 'one' / 'SHA256SUMS', *files)
    checked = subprocess.run(['sha256sum', '-c', 'SHA256SUMS'], cwd=work / 'one',
                             capture_output=True, text=True)
    expect(checked.returncode == 0, 'sha256sum -c fails: %s' % checked.stdout)
    lines = (work / 'one' / 'SHA256SUMS').read_text().splitlines()
    expect([line.split('  ')[1] for line in lines] == sorted(names), 'sums not in name order')
    (work / 'one' / 'lkscan.exe').write_bytes(b'changed')
    checked = subprocess.run(['sha256sum', '-c', 'SHA256SUMS'], cwd=work / 'one',
                             capture_output=True, text=True)
    expect(checked.returncode != 0, 'sha256sum -c accepts a changed file')

    # --base: files in a subfolder keep it in their member names and in the sums
    based = work / 'based'
    (based / 'fleet').mkdir(parents=True)
    (based / 'lkscan.exe').write_bytes(b'MZ')
    (based / 'fleet' / 'README.md').write_bytes(b'recipes')
    members = [based / 'fleet' / 'README.md', based / 'lkscan.exe']
    pack('sums', based / 'SHA256SUMS', '--base', based, *members)
    checked = subprocess.run(['sha256sum', '-c', 'SHA256SUMS'], cwd=based, capture_output=True,
                             text=True)
    expect(checked.returncode == 0 and 'fleet/README.md: OK' in checked.stdout,
           'sums with --base do not check: %s' % checked.stdout)
    pack('zip', work / 'based.zip', '--epoch', EPOCH, '--base', based, *members)
    with zipfile.ZipFile(work / 'based.zip') as archive:
        expect(archive.namelist() == ['fleet/README.md', 'lkscan.exe'],
               'members with --base: %s' % archive.namelist())
        expect(archive.read('fleet/README.md') == b'recipes', 'a member below a folder lost it')

    for problem in problems:
        print('FAILED:', problem)
    print('%d problems' % len(problems))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
