#!/usr/bin/python3
"""lkscan.exe --remove and --restore on a Wine prefix with the simulated trojan installed.

    wine_remove_test.py --program lkscan.exe --library mfc42ul.dll --driver winsys32.sys
                        --wine-root DIR --work DIR

In a fresh prefix of the program's architecture:
1. the simulated trojan is installed: the library in the system folder and named in AppInit_DLLs
   (in both registry views on 64-bit Windows), the driver in system32\\drivers, registered as the
   kernel driver service winsys32 and started (Wine loads it, so the device exists);
2. lkscan --json --no-sweep --remove exits 1 and reports the quarantine; afterwards the library,
   the driver, the service, its key and the AppInit_DLLs entries are gone; the quarantine run
   folder holds manifest.json, and no stored copy contains the trojan's texts;
3. lkscan --json --no-sweep then finds nothing (exit 0);
4. lkscan --json --restore QDIR exits 0; the registry (exported and parsed: every key with its
   values) and the SHA-256 of every file of drive_c are as they were before the removal, apart
   from the quarantine itself and the state that only a running system keeps.

Exit 0 when all hold, 1 when not, 77 when this machine cannot run the program's architecture.
"""

import argparse
import hashlib
import json
import shutil
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2]))
from wine_prefixes import ConsoleTest, registry_export  # noqa: E402

WINDOWS_KEY = 'HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows'
SERVICE_KEY = 'hkey_local_machine\\system\\currentcontrolset\\services\\winsys32'
QUARANTINE = Path('drive_c') / 'ProgramData' / 'Anti-Lauschkobold'
# The characteristic texts of the library and the driver, as the checks look for them (lower case,
# so that a copy is searched without regard to case).
TROJAN_TEXTS = [b'c3po-r2d2-poe', '\\dosdevices\\keyboardclassc'.encode('utf-16-le')]


def parse_export(text):
    """regedit's export as {key (lower case): {value name (lower case): (type, data)}}."""
    return {key.lower(): {name.lower(): value for name, value in values.items()}
            for key, values in registry_export(text).items()}


def volatile(key):
    # Keys that a running Wine rewrites on its own (the hardware tree, the services' run-time
    # Enum subkeys, the counter of service state changes).
    return (key.startswith('hkey_local_machine\\hardware') or key.endswith('\\enum') or
            key.endswith('\\control\\servicecurrent'))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--program', required=True)
    parser.add_argument('--library', required=True)
    parser.add_argument('--driver', required=True)
    parser.add_argument('--wine-root', required=True)
    parser.add_argument('--work', required=True)
    args = parser.parse_args()

    test = ConsoleTest(args.program, args.work, 'wine_remove_test')
    if test.skip:
        print(test.skip)
        return 77
    arch, work, wine = test.arch, test.work, test.wine
    failures = []

    def state(prefix):
        text = test.export_registry('HKEY_LOCAL_MACHINE')
        if not text:
            failures.append('the registry could not be exported, so no change could be seen')
        registry = {k: v for k, v in parse_export(text).items() if not volatile(k)}
        files = {}
        for path in sorted((prefix / 'drive_c').rglob('*')):
            relative = path.relative_to(prefix)
            if QUARANTINE in relative.parents or relative == QUARANTINE:
                continue
            if path.is_file() and not path.is_symlink():
                files[str(relative)] = hashlib.sha256(path.read_bytes()).hexdigest()
        return registry, files

    def lkscan(name, arguments):
        output = work / f'{name}.jsonl'
        code = wine([f'C:\\lkscan\\{Path(args.program).name}', '--json'] + arguments, output)
        records = []
        for line in output.read_text().splitlines():
            if line.strip():
                try:
                    records.append(json.loads(line))
                except ValueError:
                    failures.append(f'{name}: a line that is not JSON: {line[:120]}')
        return code, records

    def compare(name, before, after):
        registry_before, files_before = before
        registry_after, files_after = after
        for key in sorted(set(registry_before) | set(registry_after)):
            if registry_before.get(key) != registry_after.get(key):
                failures.append(f'{name}: registry key {key}: {registry_before.get(key)} '
                                f'then {registry_after.get(key)}')
        changed = sorted(p for p in set(files_before) | set(files_after)
                         if files_before.get(p) != files_after.get(p))
        if changed:
            failures.append(f'{name}: files differ: {changed[:5]}')

    try:
        with test.prefix(args.wine_root) as prefix:
            system32 = prefix / 'drive_c' / 'windows' / 'system32'
            (prefix / 'drive_c' / 'lkscan').mkdir()
            shutil.copy(args.program, prefix / 'drive_c' / 'lkscan')
            shutil.copy(args.library, system32 / 'mfc42ul.dll')
            shutil.copy(args.driver, system32 / 'drivers' / 'winsys32.sys')
            wine(['reg', 'add', WINDOWS_KEY, '/v', 'AppInit_DLLs', '/t', 'REG_SZ', '/d',
                  'other.dll mfc42ul.dll', '/f'], work / 'reg.out')
            if arch == 'win64':
                wine(['reg', 'add', WINDOWS_KEY, '/v', 'AppInit_DLLs', '/t', 'REG_SZ', '/d',
                      'mfc42ul.dll', '/f', '/reg:32'], work / 'reg32.out')
            if wine(['sc', 'create', 'winsys32', 'binPath=',
                     'C:\\windows\\system32\\drivers\\winsys32.sys', 'type=', 'kernel',
                     'start=', 'demand'], work / 'sc-create.out') != 0:
                failures.append('the driver service could not be created')
            before = state(prefix)
            if wine(['sc', 'start', 'winsys32'], work / 'sc-start.out') != 0:
                failures.append('the driver service could not be started')

            code, records = lkscan('remove', ['--no-sweep', '--remove'])
            summary = records[-1] if records else {}
            actions = [r for r in records if r.get('type') == 'action']
            failed = [a for a in actions if not a.get('ok')]
            if code != 1 or summary.get('verdict') != 'infected' or failed:
                failures.append(f'remove: exit {code}, summary {summary}, failed actions {failed}')
            kinds = {a.get('action') for a in actions}
            for kind in ('quarantine', 'registry-write', 'service-delete'):
                if kind not in kinds:
                    failures.append(f'remove: no {kind} action among {sorted(kinds)}')
            qdir = summary.get('quarantine')
            if not qdir:
                failures.append('remove: the summary names no quarantine')
            else:
                host_q = prefix / 'drive_c' / Path(*qdir.split('\\')[1:])
                if not (host_q / 'manifest.json').is_file():
                    failures.append(f'remove: no manifest.json in {host_q}')
                copies = [p for p in host_q.rglob('*') if p.is_file() and p.suffix != '.json']
                if len(copies) < 2:
                    failures.append(f'remove: copies of the library and the driver expected, '
                                    f'found {[p.name for p in copies]}')
                for stored in copies:
                    if stored.is_file():
                        data = stored.read_bytes().lower()
                        if any(text in data for text in TROJAN_TEXTS):
                            failures.append(f'remove: {stored.name} holds a trojan text as is')
            for leftover in (system32 / 'mfc42ul.dll', system32 / 'drivers' / 'winsys32.sys'):
                if leftover.exists():
                    failures.append(f'remove: {leftover.name} is still there')
            removed_registry, _ = state(prefix)
            if SERVICE_KEY in removed_registry:
                failures.append('remove: the service key is still there')

            code, records = lkscan('after', ['--no-sweep'])
            if code != 0:
                failures.append(f'after the removal: exit {code}, {records[-1:] }')

            if qdir:
                code, records = lkscan('restore', ['--restore', qdir])
                failed = [r for r in records if r.get('type') == 'action' and not r.get('ok')]
                if code != 0 or failed:
                    failures.append(f'restore: exit {code}, failed actions {failed}')
                compare('restore', before, state(prefix))

            for failure in failures:
                print(f'FAILED: {failure}')
            if not failures:
                print('lkscan: the installed trojan removed with a quarantine, nothing found after '
                      'it, and the restore brought back the registry and the files as they were')
            return 1 if failures else 0
    finally:
        test.log.close()


if __name__ == '__main__':
    sys.exit(main())
