#!/usr/bin/python3
"""lkscan.exe on a Wine prefix, clean and then with the simulated trojan's library registered.

    wine_scan_test.py --program lkscan.exe --library mfc42ul.dll --wine-root DIR --work DIR

In a fresh prefix of the program's architecture (a copy of the template of
scripts/wine-prefix.sh):
1. the clean prefix: lkscan --json gives exit 0, a clean verdict and nothing skipped;
2. the library (the end-to-end tests' simulated one, which carries the trojan's characteristic
   text) is copied into the system folder and named in AppInit_DLLs; lkscan --json gives exit 1,
   the library with its size, SHA-256 (compared with Python's hashlib) and identified, the
   AppInit_DLLs entry, and the library again as a sweep hit;
3. neither scan changed anything: the registry export of HKLM and the SHA-256 of every file of
   drive_c are the same before and after each scan.

Exit 0 when all hold, 1 when not, 77 when this machine cannot run the program's architecture.
"""

import argparse
import hashlib
import json
import os
import shutil
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2]))
from wine_prefixes import ConsoleTest  # noqa: E402

WINDOWS_KEY = 'HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows'


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--program', required=True)
    parser.add_argument('--library', required=True)
    parser.add_argument('--wine-root', required=True)
    parser.add_argument('--work', required=True)
    args = parser.parse_args()

    test = ConsoleTest(args.program, args.work, 'wine_scan_test')
    if test.skip:
        print(test.skip)
        return 77
    arch, work, wine = test.arch, test.work, test.wine
    # Under emulation a sweep of all of Wine's system folder takes minutes: the known-version
    # checks alone there, the sweep where the program runs natively.
    sweep = not (arch == 'win32' and os.environ.get('LK_WINE32_LOADER'))
    failures = []

    def state():
        registry = test.export_registry('HKEY_LOCAL_MACHINE')
        if not registry:
            failures.append('the registry could not be exported, so no change could be seen')
        files = {}
        for path in sorted((prefix / 'drive_c').rglob('*')):
            if path.is_file() and not path.is_symlink():
                files[str(path.relative_to(prefix))] = hashlib.sha256(path.read_bytes()).hexdigest()
        return registry, files

    def scan(name):
        before = state()
        output = work / f'{name}.jsonl'
        code = wine([f'C:\\lkscan\\{Path(args.program).name}', '--json'] +
                    ([] if sweep else ['--no-sweep']), output)
        records = [json.loads(line) for line in output.read_text().splitlines() if line.strip()]
        after = state()
        if after[0] != before[0]:
            failures.append(f'{name}: the registry changed')
        changed = [p for p in set(before[1]) | set(after[1]) if before[1].get(p) != after[1].get(p)]
        if changed:
            failures.append(f'{name}: files changed: {sorted(changed)[:5]}')
        return code, records

    try:
        with test.prefix(args.wine_root) as prefix:
            (prefix / 'drive_c' / 'lkscan').mkdir()
            shutil.copy(args.program, prefix / 'drive_c' / 'lkscan')

            code, records = scan('clean')
            summary = records[-1] if records else {}
            if code != 0 or summary.get('verdict') != 'clean' or summary.get('skipped') != 0:
                failures.append(f'clean: exit {code}, summary {summary}')
            # Without the sweep a clean PC has nothing to examine: the known files are absent.
            if sweep and summary.get('files_examined', 0) == 0:
                failures.append('clean: no file was examined')

            library = Path(args.library).read_bytes()
            shutil.copy(args.library, prefix / 'drive_c' / 'windows' / 'system32' / 'mfc42ul.dll')
            wine(['reg', 'add', WINDOWS_KEY, '/v', 'AppInit_DLLs', '/t', 'REG_SZ', '/d',
                  'mfc42ul.dll', '/f'], work / 'reg.out')
            code, records = scan('infected')
            findings = {r['check']: r for r in records if r.get('type') == 'finding'}
            summary = records[-1] if records else {}
            if code != 1 or summary.get('verdict') != 'infected':
                failures.append(f'infected: exit {code}, summary {summary}')
            found = findings.get('library-file', {})
            if (found.get('size') != len(library) or
                    found.get('sha256') != hashlib.sha256(library).hexdigest() or
                    found.get('identified') is not True):
                failures.append(f'infected: the library finding is {found}')
            if findings.get('appinit', {}).get('data') != 'mfc42ul.dll':
                failures.append(f'infected: the AppInit_DLLs finding is {findings.get("appinit")}')
            if sweep and not findings.get('sweep-library', {}).get('path', '').lower().endswith(
                    'mfc42ul.dll'):
                failures.append('infected: the sweep did not report the library')

            for failure in failures:
                print(f'FAILED: {failure}')
            if not failures:
                print('lkscan: clean prefix clean (exit 0), the planted library and its registration '
                      'found (exit 1), nothing changed by either scan')
            return 1 if failures else 0
    finally:
        test.log.close()


if __name__ == '__main__':
    sys.exit(main())
