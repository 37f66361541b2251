#!/usr/bin/python3
"""lkscan.exe under Wine as fleet engines run it.

    wine_fleet_test.py --program lkscan.exe --wine-root DIR --work DIR

In a fresh prefix of the program's architecture, with a library in the system folder that the
sweep reports (it carries the device's name) and, where the sweep is too slow under emulation,
the known-version checks alone:
1. the Velociraptor artifact made by scripts/release/fleet.py for this very program: its
   expected_hash is the program's SHA-256, and the command line its query runs
   (lkscan --output REPORT) starts and writes a complete JSON Lines file, no temporary file left;
2. --output: standard output keeps the text, its last line the verdict (at most 2,048
   characters), nothing on stderr; the file ends with the summary and agrees with the exit code,
   no temporary file is left; a file that cannot be made exits 2 before anything is examined;
3. --allow: with the library's hash listed its hit is a note "allowed" and the scan clean
   (exit 0); a malformed list exits 2;
4. --eventlog: under WINEDEBUG=+eventlog Wine traces every ReportEventW, its type, ID and
   strings: one event per finding with its text line and JSON record, one summary event with
   the verdict's ID;
5. --register-eventlog registers the source, with the program as its message file; nothing
   before it did.

Exit 0 when all hold, 1 when not, 77 when this machine cannot run the program's architecture.
"""

import argparse
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import yaml

sys.path.insert(0, str(Path(__file__).resolve().parents[2]))
from wine_prefixes import ConsoleTest, registry_export  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / 'release'))
from fleet_test import artifact_argv  # noqa: E402

TOP = Path(__file__).resolve().parents[3]
SWEEP_HIT = b'MZ..KeyBoardClassC..'
EVENT_IDS = {'clean': 1000, 'infected': 1001, 'suspicious': 1002, 'incomplete': 1003}


def wine_string(escaped):
    """The text of Wine's debugstr_w form L"..." (backslash escapes, \\XXXX for other code
    units)."""
    out = []
    i = 0
    while i < len(escaped):
        c = escaped[i]
        if c != '\\':
            out.append(c)
            i += 1
            continue
        nxt = escaped[i + 1]
        if nxt in 'nrt':
            out.append({'n': '\n', 'r': '\r', 't': '\t'}[nxt])
            i += 2
        elif re.match(r'[0-9a-fA-F]{4}', escaped[i + 1:i + 5]):
            out.append(chr(int(escaped[i + 1:i + 5], 16)))
            i += 5
        else:
            out.append(nxt)
            i += 2
    return ''.join(out)


def traced_events(log):
    """[(type, id, [strings])] of every ReportEventW in a +eventlog trace."""
    events = []
    for line in log.splitlines():
        call = re.search(r'ReportEventW \([0-9A-Fa-f]+,0x([0-9a-f]{4}),0x[0-9a-f]{4},'
                         r'0x([0-9a-f]{8}),[0-9A-Fa-f]+,0x([0-9a-f]{4})', line)
        if call:
            events.append((int(call.group(1), 16), int(call.group(2), 16), []))
            continue
        text = re.search(r':eventlog:ReportEventW L"(.*)"$', line)
        if text and events:
            events[-1][2].append(wine_string(text.group(1)))
    return events


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--program', required=True)
    parser.add_argument('--wine-root', required=True)
    parser.add_argument('--work', required=True)
    args = parser.parse_args()

    test = ConsoleTest(args.program, args.work, 'wine_fleet_test')
    if test.skip:
        print(test.skip)
        return 77
    work = test.work
    sweep = not (test.arch == 'win32' and os.environ.get('LK_WINE32_LOADER'))
    limit = [] if sweep else ['--no-sweep']
    failures = []

    def expect(condition, message):
        if not condition:
            failures.append(message)

    def run(argv, name, debug=None):
        """Exit code, standard output and standard error of lkscan, each in its own file."""
        env = dict(test.env, WINEDEBUG=debug or '-all')
        with open(work / f'{name}.out', 'wb') as out, open(work / f'{name}.err', 'wb') as err:
            code = subprocess.run([test.loader] + argv, env=env, stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=err, timeout=600).returncode
        return (code, (work / f'{name}.out').read_bytes().decode('utf-8', 'replace'),
                (work / f'{name}.err').read_bytes().decode('utf-8', 'replace'))

    program = Path(args.program)
    made = subprocess.run([sys.executable, str(TOP / 'scripts' / 'release' / 'fleet.py'),
                           '--lkscan', str(program), '--version', 'test',
                           '--out', str(work / 'fleet')], capture_output=True, text=True)
    if made.returncode != 0:
        print(f'FAILED: fleet.py: {made.stderr}')
        return 1
    artifact = yaml.safe_load(
        (work / 'fleet' / 'Windows.Detection.AntiLauschkobold.yaml').read_text(encoding='utf-8'))
    expect(artifact['tools'][0]['expected_hash'] == hashlib.sha256(program.read_bytes()).hexdigest(),
           'the artifact expects another program')
    scan_argv, _ = artifact_argv('\n'.join(s['query'] for s in artifact['sources']))

    try:
        with test.prefix(args.wine_root) as prefix:
            (prefix / 'drive_c' / 'lkscan').mkdir()
            (prefix / 'drive_c' / 'out').mkdir()
            shutil.copy(program, prefix / 'drive_c' / 'lkscan' / 'lkscan.exe')
            library = prefix / 'drive_c' / 'windows' / 'system32' / 'lkfleet.dll'
            library.write_bytes(SWEEP_HIT)
            exe = 'C:\\lkscan\\lkscan.exe'
            out = prefix / 'drive_c' / 'out'

            # 1. The artifact's command line, the tool and the report put in.
            argv = [{'TOOL': exe, 'REPORT': 'C:\\out\\artifact.jsonl'}.get(w, w)
                    for w in scan_argv or []]
            code, _, _ = run(argv + limit, 'artifact')
            records = [json.loads(line) for line in
                       (out / 'artifact.jsonl').read_text().splitlines()] if (
                out / 'artifact.jsonl').exists() else []
            expect(records and records[-1].get('type') == 'summary' and
                   records[-1].get('exit_code') == code,
                   f'the artifact\'s command line {argv}: exit {code}, records {records[-1:]}')

            # 2. --output with the text on standard output.
            code, stdout, stderr = run([exe, '--output', 'C:\\out\\befund.jsonl'] + limit, 'output')
            expected = 1 if sweep else 0
            expect(code == expected, f'--output: exit {code}, not {expected}')
            expect(stderr == '', f'--output: stderr {stderr!r}')
            last = stdout.rstrip('\r\n').splitlines()[-1] if stdout.strip() else ''
            verdict = 'verdächtig' if sweep else 'sauber'
            expect(last.startswith(f'Ergebnis: {verdict}. ') and len(last) <= 2048,
                   f'--output: the last line is {last!r}')
            records = [json.loads(line) for line in
                       (out / 'befund.jsonl').read_text(encoding='utf-8').splitlines()]
            expect(records[-1].get('exit_code') == code, f'--output: summary {records[-1]}')
            hits = [r for r in records if r.get('check') == 'sweep-library']
            expect(not sweep or (hits and hits[0]['path'].lower().endswith('lkfleet.dll')),
                   f'--output: the sweep hit is missing: {hits}')
            code, stdout, _ = run([exe, '--output', 'C:\\out\\missing\\befund.jsonl'], 'unwritable')
            expect(code == 2 and stdout == '', f'--output into a missing folder: exit {code}')
            left = sorted(p.name for p in out.iterdir())
            expect(left == ['artifact.jsonl', 'befund.jsonl'], f'--output left {left}')

            # 3. --allow.
            (out / 'allow.txt').write_text('# harmless\n' + hashlib.sha256(SWEEP_HIT).hexdigest()
                                           + '\n')
            code, stdout, stderr = run([exe, '--json', '--allow', 'C:\\out\\allow.txt'] + limit,
                                       'allow')
            records = [json.loads(line) for line in stdout.splitlines() if line.strip()]
            expect(code == 0 and records[-1].get('verdict') == 'clean',
                   f'--allow: exit {code}, summary {records[-1:]}')
            notes = [r for r in records if r.get('topic') == 'allowed']
            expect(not sweep or (len(notes) == 1 and hashlib.sha256(SWEEP_HIT).hexdigest() in
                                 notes[0]['text']), f'--allow: notes {notes}')
            (out / 'bad.txt').write_text('not a hash\n')
            code, stdout, _ = run([exe, '--allow', 'C:\\out\\bad.txt'], 'allow-bad')
            expect(code == 2 and stdout == '', f'a malformed list: exit {code}')

            # 4. --eventlog, read from Wine's trace.
            code, stdout, stderr = run([exe, '--eventlog'] + limit, 'eventlog',
                                       debug='+eventlog,fixme+advapi')
            events = traced_events(stderr)
            expect(len(events) >= 1, f'--eventlog: no ReportEventW traced: {stderr[-2000:]}')
            if events:
                kind, event_id, strings = events[-1]
                name = 'suspicious' if sweep else 'clean'
                expect(event_id == EVENT_IDS[name] and kind == (2 if sweep else 4),
                       f'--eventlog: the summary event is type {kind}, ID {event_id}')
                expect(len(strings) == 2 and strings[0] == last and
                       json.loads(strings[1]).get('type') == 'summary',
                       f'--eventlog: the summary event\'s strings {strings}')
                findings = events[:-1]
                expect(len(findings) == (1 if sweep else 0) and
                       all(e[1] == 1100 and json.loads(e[2][1])['check'] == 'sweep-library'
                           for e in findings), f'--eventlog: the finding events {findings}')

            # 5. The source is registered only when asked, with this program as its messages.
            key = 'HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application'
            expect('Anti-Lauschkobold' not in test.export_registry(key),
                   'the event source was registered without being asked')
            code, stdout, stderr = run([exe, '--register-eventlog'], 'register')
            exported = registry_export(test.export_registry(key))
            values = exported.get(key + '\\Anti-Lauschkobold', {})
            message_file = values.get('EventMessageFile', (0, b''))
            expect(code == 0 and message_file[0] == 2 and message_file[1].decode(
                'utf-16-le').rstrip('\0').lower() == exe.lower(),
                f'--register-eventlog: exit {code}, {stderr!r}, values {values}')

            for failure in failures:
                print(f'FAILED: {failure}')
            if not failures:
                print('lkscan under Wine: the artifact\'s command line, --output, --allow and '
                      '--eventlog as documented')
            return 1 if failures else 0
    finally:
        test.log.close()


if __name__ == '__main__':
    sys.exit(main())
