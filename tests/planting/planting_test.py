#!/usr/bin/python3
"""Plants libraries next to a program under Wine and checks that none of them runs in it.

    planting_test.py --program EXE (--window | --run=ARGS ...) --planted planted.dll
                     --names version,msimg32,... --probe lkplant.exe --vulnerable EXE
                     --wine-root DIR --work DIR

The program runs with administrator rights from the folder it was saved in, usually the download
folder. In a fresh prefix of the program's architecture (a copy of the template of
scripts/wine-prefix.sh, on an X display of its own), the runner copies the program into
C:\\Downloads together with planted.dll under each of the names (tests/planting/fixtures), and
starts it there with those names set native-first (WINEDLLOVERRIDES "name,...=n,b"): that is how
Windows treats a library that is not one of its known system libraries, so a planted copy is
found first wherever the program's search reaches its own folder. The probe (lkplant.exe, kept
in another folder) lets the program reach its idle state: --window waits until the main window
exists, each --run starts it with those arguments (split at spaces; {downloads} stands for the
download folder) and waits for its end. A planted library that was loaded leaves a
"<name>.dll.ran" file next to itself, naming the process and whether it was loaded with the
process (an import) or later (a load at run time).

None may have run in the program, with one exception that no program can prevent: a library
loaded with the process that the program does not import itself. Wine's own system libraries
import some of the names (Wine's user32 imports version.dll, Windows' does not), and with the
name set native-first Wine resolves that import from the program's folder too. Those are
reported as notes; whether the program imports a name is read from its import table (objdump).

The control: the vulnerable program (tests/planting/VulnerableProgram.cpp) is run in the same
folder under the same settings; it imports version.dll and loads the other names by bare name,
and the same judgement must catch every planted library in it. Without that the check above
would prove nothing.

Exit 0 when both hold, 1 when not, 77 when this machine cannot run the program's architecture.
"""

import argparse
import os
import select
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
from wine_prefixes import can_run_32bit, fresh_prefix, loader, pe_machine  # noqa: E402

DOWNLOADS = 'Downloads'
PROBE_DIR = 'lkplant'


def start_xvfb():
    """Xvfb on a display it picks itself; (process, ':N')."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(['Xvfb', '-displayfd', str(write_end), '-screen', '0', '1280x1024x24',
                             '-nolisten', 'tcp'], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            pass_fds=(write_end,))
    os.close(write_end)
    number = b''
    deadline = time.monotonic() + 30
    while not number.endswith(b'\n') and time.monotonic() < deadline:
        ready, _, _ = select.select([read_end], [], [], 1)
        if not ready:
            continue
        chunk = os.read(read_end, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_end)
    if not number.strip().isdigit():
        xvfb.terminate()
        raise RuntimeError('Xvfb did not start')
    return xvfb, ':' + number.strip().decode()


def markers(folder):
    """[(library file name, 'static' or 'dynamic', process path)] of every planted library that
    ran, from the files it leaves next to itself."""
    found = []
    for entry in sorted(folder.iterdir()):
        if not entry.name.lower().endswith('.dll.ran'):
            continue
        library = entry.name[:-len('.ran')].lower()
        for line in entry.read_text(encoding='utf-8', errors='replace').splitlines():
            kind, _, process = line.strip().partition(' ')
            found.append((library, kind, process))
    return found


def imports(objdump, exe):
    """The lower-case names of the libraries the executable imports."""
    headers = subprocess.run([objdump, '-p', str(exe)], capture_output=True, text=True,
                             check=True).stdout
    return {line.split(':', 1)[1].strip().lower() for line in headers.splitlines()
            if line.strip().startswith('DLL Name:')}


def judge(ran, exe_name, exe_imports):
    """(faults, notes) for the planted libraries that ran while the program ran.

    A fault: a planted library loaded at run time (the program asked for it by a name that
    reached its own folder), or loaded with the process because the program imports it, or one
    that ran in any other process. A note: one loaded with the program's process that the
    program does not import: a system library of Wine imports it (Wine's user32 imports
    version.dll; Windows' does not), which no program can prevent."""
    faults, notes = [], []
    for library, kind, process in ran:
        where = f'{library} ran inside {process} ({kind})'
        if Path(process.replace('\\', '/')).name.lower() != exe_name.lower():
            faults.append(where)
        elif kind == 'static' and library not in exe_imports:
            notes.append(f'{where}: imported by a system library of Wine, not by the program')
        else:
            faults.append(where)
    return faults, notes


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--program', required=True)
    parser.add_argument('--window', action='store_true')
    parser.add_argument('--run', action='append', default=[])
    parser.add_argument('--planted', required=True)
    parser.add_argument('--names', required=True)
    parser.add_argument('--probe', required=True)
    parser.add_argument('--vulnerable', required=True)
    parser.add_argument('--objdump', required=True)
    parser.add_argument('--wine-root', required=True)
    parser.add_argument('--work', required=True)
    args = parser.parse_args()

    machine = pe_machine(args.program)
    if machine == 'i386' and not can_run_32bit():
        print('planting_test: this machine cannot run 32-bit programs under Wine; skipped '
              '(the mingw64 preset runs the same test)')
        return 77
    arch = 'win64' if machine == 'amd64' else 'win32'
    wine = loader(arch)
    names = [n.strip().lower() for n in args.names.split(',') if n.strip()]
    program_name = Path(args.program).name
    work = Path(args.work)
    work.mkdir(parents=True, exist_ok=True)
    log = open(work / 'wine.log', 'w')

    xvfb, display = start_xvfb()
    env = dict(os.environ, DISPLAY=display, WINEDEBUG=os.environ.get('WINEDEBUG', '-all'),
               WINEDLLOVERRIDES='mscoree,mshtml=')
    try:
        with fresh_prefix(args.wine_root, arch, env, log) as prefix:
            downloads = prefix / 'drive_c' / DOWNLOADS
            downloads.mkdir()
            (prefix / 'drive_c' / PROBE_DIR).mkdir()
            shutil.copy(args.probe, prefix / 'drive_c' / PROBE_DIR / 'lkplant.exe')
            shutil.copy(args.program, downloads / program_name)
            for name in names:
                shutil.copy(args.planted, downloads / f'{name}.dll')
            run_env = dict(env, WINEDLLOVERRIDES='mscoree,mshtml=;' + ','.join(names) + '=n,b')
            probe = f'C:\\{PROBE_DIR}\\lkplant.exe'
            target = f'C:\\{DOWNLOADS}\\{program_name}'

            failures = []

            def probe_run(probe_args, what):
                # Into a file, never a pipe: Wine processes started on the way (the desktop process
                # comes with the first window) inherit the output and would keep a pipe open.
                output = work / 'probe.out'
                with open(output, 'w') as out:
                    code = subprocess.run([wine, probe] + probe_args, env=run_env,
                                          stdin=subprocess.DEVNULL, stdout=out,
                                          stderr=subprocess.STDOUT, timeout=180).returncode
                text = output.read_text(errors='replace').strip()
                log.write(f'--- {what}: {probe_args} -> {code}\n{text}\n')
                log.flush()
                if code != 0:
                    failures.append(f'{what} did not get there ({code}): {text}')
                return text

            if args.window:
                print(f'{program_name}: {probe_run(["window", target], program_name)}')
            for run in args.run:
                run_args = [a.replace('{downloads}', f'C:\\{DOWNLOADS}') for a in run.split(' ') if a]
                print(f'{program_name} {" ".join(run_args)}: '
                      f'{probe_run(["run", target] + run_args, program_name)}')
            faults, notes = judge(markers(downloads), program_name,
                                  imports(args.objdump, args.program))
            for note in notes:
                print(f'note: {note}')
            failures += faults
            if not faults:
                print(f'{program_name}: none of {", ".join(n + ".dll" for n in names)} ran in it')

            # The control, with the same folder, libraries and settings: each planted library must
            # be caught in the vulnerable program.
            for entry in downloads.glob('*.ran'):
                entry.unlink()
            shutil.copy(args.vulnerable, downloads / 'vulnerable.exe')
            control = probe_run(['run', f'C:\\{DOWNLOADS}\\vulnerable.exe'] +
                                [f'{n}.dll' for n in names if n != 'version'], 'the control')
            caught, _ = judge(markers(downloads), 'vulnerable.exe',
                              imports(args.objdump, args.vulnerable))
            missed = [f'{n}.dll' for n in names if not any(c.startswith(f'{n}.dll ') for c in caught)]
            if missed:
                failures.append(f'the control ({control}): {", ".join(missed)} not caught even in '
                                'the vulnerable program, so this test cannot see a planted library')
            else:
                print(f'control: every planted library was caught in the vulnerable program '
                      f'({"; ".join(caught)})')

            for failure in failures:
                print(f'FAILED: {failure}')
            return 1 if failures else 0
    finally:
        xvfb.terminate()
        xvfb.wait()
        log.close()


if __name__ == '__main__':
    sys.exit(main())
