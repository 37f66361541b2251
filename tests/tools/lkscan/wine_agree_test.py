#!/usr/bin/python3
"""The same infected PC examined two ways: live, lkscan.exe on a Wine prefix, and offline,
lkscan --root of the native build on an equivalent tree with hive files.

    wine_agree_test.py --program lkscan.exe --native-lkscan lkscan --make-hives lk_make_hives
                       --library mfc42ul.dll --driver winsys32.sys --wine-root DIR --work DIR

1. The simulated trojan is installed in a fresh prefix (library, driver, kernel driver service,
   AppInit_DLLs in both views on 64-bit Windows). The offline twin gets the same two files and
   hives made from the prefix's registry (the service key and the Windows keys, as regedit
   exports them).
2. lkscan --json --no-sweep, live and offline, give the same findings (what only a running
   system has, the device, left out; paths compared without regard to case).
3. lkscan --json --no-sweep --remove, live and offline: afterwards both report nothing, the files
   are gone in both, the service key is gone in both and the AppInit_DLLs values agree.

Exit 0 when all hold, 1 when not, 77 when this machine cannot run the program's architecture or
the native programs were not given.
"""

import argparse
import json
import shutil
import subprocess
import sys
from pathlib import Path

import hivex  # python3-hivex, for /usr/bin/python3

sys.path.insert(0, str(Path(__file__).resolve().parents[2]))
from wine_prefixes import ConsoleTest, registry_values  # noqa: E402

WINDOWS = 'Microsoft\\Windows NT\\CurrentVersion\\Windows'
SERVICE = 'winsys32'
def findings(records):
    """The findings as comparable tuples, without what only a running system has."""
    result = set()
    for record in records:
        if record.get('type') != 'finding' or record.get('check') == 'device':
            continue
        result.add(tuple(sorted((k, str(v).lower()) for k, v in record.items())))
    return result


def main():
    parser = argparse.ArgumentParser()
    for option in ('--program', '--native-lkscan', '--make-hives', '--library', '--driver',
                   '--wine-root', '--work'):
        parser.add_argument(option, default='')
    args = parser.parse_args()
    if not args.native_lkscan or not Path(args.native_lkscan).is_file() or \
            not args.make_hives or not Path(args.make_hives).is_file():
        print('wine_agree_test: the native lkscan and lk_make_hives were not given '
              '(LK_NATIVE_LKSCAN_EXECUTABLE, LK_MAKE_HIVES_EXECUTABLE); skipped')
        return 77
    test = ConsoleTest(args.program, args.work, 'wine_agree_test')
    if test.skip:
        print(test.skip)
        return 77
    arch, work, log, wine = test.arch, test.work, test.log, test.wine
    failures = []

    def records_of(output):
        return [json.loads(line) for line in Path(output).read_text().splitlines()
                if line.strip()]

    def live(name, arguments):
        output = work / f'live-{name}.jsonl'
        code = wine([f'C:\\lkscan\\{Path(args.program).name}', '--json', '--no-sweep'] +
                    arguments, output)
        return code, records_of(output)

    def offline(name, arguments):
        output = work / f'offline-{name}.jsonl'
        with open(output, 'w') as out:
            code = subprocess.run([args.native_lkscan, '--json', '--no-sweep', '--root',
                                   str(tree)] + arguments, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=log, timeout=600).returncode
        return code, records_of(output)

    export = test.export_registry

    def live_appinit():
        text = export('HKEY_LOCAL_MACHINE\\SOFTWARE\\' + WINDOWS)
        if arch == 'win64':
            text += export('HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\' + WINDOWS)
        return sorted((k.lower(), kind, d) for k, n, kind, d in registry_values(text)
                      if n.lower() == 'appinit_dlls')

    def offline_appinit():
        """The AppInit_DLLs values of the offline SOFTWARE hive, type and bytes as stored, read
        through hivex's Python binding, apart from lkscan's own code."""
        result = []
        software = hivex.Hivex(str(config / 'SOFTWARE'))
        keys = [WINDOWS] + (['Wow6432Node\\' + WINDOWS] if arch == 'win64' else [])
        for key in keys:
            node = software.root()
            for part in key.split('\\'):
                node = software.node_get_child(node, part) if node else None
            value = software.node_get_value(node, 'AppInit_DLLs') if node else None
            if value:
                kind, data = software.value_value(value)
                result.append(('hkey_local_machine\\software\\' + key.lower(), kind, data))
        return sorted(result)

    try:
        with test.prefix(args.wine_root) as prefix:
            system32 = prefix / 'drive_c' / 'windows' / 'system32'
            (prefix / 'drive_c' / 'lkscan').mkdir()
            shutil.copy(args.program, prefix / 'drive_c' / 'lkscan')
            shutil.copy(args.library, system32 / 'mfc42ul.dll')
            shutil.copy(args.driver, system32 / 'drivers' / 'winsys32.sys')
            reg_key = 'HKLM\\SOFTWARE\\' + WINDOWS
            wine(['reg', 'add', reg_key, '/v', 'AppInit_DLLs', '/t', 'REG_SZ', '/d',
                  'other.dll mfc42ul.dll', '/f'], work / 'reg.out')
            if arch == 'win64':
                wine(['reg', 'add', reg_key, '/v', 'AppInit_DLLs', '/t', 'REG_SZ', '/d',
                      'mfc42ul.dll', '/f', '/reg:32'], work / 'reg32.out')
            wine(['sc', 'create', SERVICE, 'binPath=',
                  'C:\\windows\\system32\\drivers\\winsys32.sys', 'type=', 'kernel', 'start=',
                  'demand'], work / 'sc.out')

            # The offline twin: the same files, and hives holding what the live registry holds
            # for the trojan's places.
            tree = work / 'tree'
            config = tree / 'Windows' / 'System32' / 'config'
            (tree / 'Windows' / 'System32' / 'drivers').mkdir(parents=True)
            config.mkdir()
            (tree / 'ProgramData').mkdir()
            if arch == 'win64':
                (tree / 'Windows' / 'SysWOW64').mkdir()
            shutil.copy(args.library, tree / 'Windows' / 'System32' / 'mfc42ul.dll')
            shutil.copy(args.driver, tree / 'Windows' / 'System32' / 'drivers' / 'winsys32.sys')
            lines = []
            service_export = export(
                f'HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\{SERVICE}')
            for key, name, kind, data in registry_values(service_export):
                rest = key.split('\\Services\\', 1)[1]
                lines.append(f'SYSTEM\tControlSet001\\Services\\{rest}\t{name}\t{kind}\t{data.hex()}')
            views = [('SOFTWARE\\', '')] + ([('SOFTWARE\\Wow6432Node\\', 'Wow6432Node\\')]
                                           if arch == 'win64' else [])
            for live_prefix, hive_prefix in views:
                for key, name, kind, data in registry_values(
                        export('HKEY_LOCAL_MACHINE\\' + live_prefix + WINDOWS)):
                    if key.lower() == ('hkey_local_machine\\' + live_prefix + WINDOWS).lower():
                        lines.append(f'SOFTWARE\t{hive_prefix}{WINDOWS}\t{name}\t{kind}\t{data.hex()}')
            made = subprocess.run([args.make_hives, str(config), '64' if arch == 'win64' else '32'],
                                  input='\n'.join(lines) + '\n', text=True, capture_output=True)
            if made.returncode != 0:
                failures.append(f'the hives could not be made: {made.stderr.strip()}')

            live_code, live_records = live('scan', [])
            offline_code, offline_records = offline('scan', [])
            if live_code != 1 or offline_code != 1:
                failures.append(f'scan: exit {live_code} live, {offline_code} offline')
            only_live = findings(live_records) - findings(offline_records)
            only_offline = findings(offline_records) - findings(live_records)
            if only_live or only_offline:
                failures.append(f'scan: only live {sorted(only_live)}, only offline '
                                f'{sorted(only_offline)}')
            if not findings(live_records):
                failures.append('scan: nothing found at all')

            live_code, _ = live('remove', ['--remove'])
            offline_code, _ = offline('remove', ['--remove'])
            if live_code != 1 or offline_code != 1:
                failures.append(f'remove: exit {live_code} live, {offline_code} offline')
            live_code, live_after = live('after', [])
            offline_code, offline_after = offline('after', [])
            if live_code != 0 or offline_code != 0:
                failures.append(f'after the removal: exit {live_code} live {findings(live_after)}, '
                                f'{offline_code} offline {findings(offline_after)}')
            for name, place in (('live', system32), ('offline', tree / 'Windows' / 'System32')):
                for left in (place / 'mfc42ul.dll', place / 'drivers' / 'winsys32.sys'):
                    if left.exists():
                        failures.append(f'remove ({name}): {left.name} is still there')
            if live_appinit() != offline_appinit():
                failures.append(f'remove: AppInit_DLLs live {live_appinit()}, offline '
                                f'{offline_appinit()}')

            for failure in failures:
                print(f'FAILED: {failure}')
            if not failures:
                print('lkscan: live and offline agree on the findings and on the state after the '
                      'removal')
            return 1 if failures else 0
    finally:
        log.close()


if __name__ == '__main__':
    sys.exit(main())
