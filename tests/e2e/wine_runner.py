#!/usr/bin/python3
"""Plays one lksim scenario on the real program in a fresh 64-bit Wine prefix.

    wine_runner.py --scenario S.json --wine-root DIR --program AntiLauschkobold.exe
                   --helper lke2e.exe [--program32 EXE --helper32 EXE] --work DIR [--keep]

prints the transcript on stdout in lksim's format (testing/lksim/README.md). Exit 0 after a run,
2 when the scenario cannot be played on Wine (the message names why), 77 when this machine
cannot run it (a 64-bit-Windows scenario needs 32-bit code), 1 on a failure of the run or when
an input the scenario needs was not given (the message names it).

Which program plays which PC: a scenario of a 32-bit Windows ("is64" false) runs the given
program in a prefix of its own architecture (the 64-bit build in a 64-bit prefix is not a WOW64
process, so it behaves as the program on a 32-bit PC); a scenario of a 64-bit Windows runs the
32-bit program (--program, or --program32 beside a 64-bit build) in a 64-bit prefix, where it is
a WOW64 process, with the 32-bit helper (it reads the program's windows, whose memory layout is
32-bit). 32-bit programs start through the emulated loader that LK_WINE32_LOADER names, where
there is one (scripts/wine32/setup.sh); a machine that can run no 32-bit code cannot play those
scenarios (exit 77).

How the scenario becomes a prefix (a copy of the template of scripts/wine-prefix.sh, with its own
server and its own X display, so that runs in parallel share neither clipboard nor screen):
- files: written into drive_c; "inUse" files are held open by `lke2e hold` (read sharing only);
- services: created with the 64-bit sc. A service whose key in "registry" has Type 1 (kernel
  driver) is created as a kernel driver with that key's ImagePath, so the scenario's own driver
  file is loaded (tests/e2e/fixtures/winsys32.c). Any other service is an own-process service
  (`lke2e service accept|refuse|ignore|hang`, by "onStop" and by the last state of
  "statesAfterStop": 1 stops, 4 keeps running, 3 stays stop-pending; the states before the last
  one are not visible in a transcript and are not played). "state" 4 starts it, 1 leaves it stopped;
  afterwards the service's key is made exactly the scenario's (removed when the scenario has
  none), since Wine writes values of its own;
- registry: imported with regedit from a Unicode .reg file (all five value types);
- devices: a device that no started driver provides is a link to /dev/null in dosdevices;
- "cancelAt": the cancel button is pressed when the report shows the entry at which the model's
  pause or pump happens: pause 1 "Analysiere Windows Registrierungsdatenbank...", pause 3
  "Analysiere Systemdateien...", pause 5 "Analysiere Windows Dienstemanager...", pause 6
  "Analysiere Geräteverfügbarkeit..." (each entry is followed by its pause, so the press lands
  in it); pump 58 or 59 of a sweep (the library count entry and the start of the library
  content pass, before its first file) "Analysiere N Bibliotheken...". Other moments cannot be
  hit from outside and make the scenario unusable here.
- the restart: the program's restart ends every process of the prefix, the user (lke2e drive)
  included, and a canary process that only the restart ends, which is how the runner knows it
  happened (Wine restarts asynchronously: on a busy machine the user may finish first). The user
  has written everything it saw, and a snapshot of the state before it answered each dialog.
  The transcript then places the shutdown request after the last answered dialog and keeps the
  entries read before the end; the state is the snapshot (the state "before the restart", as
  the model reports it). Afterwards the runner checks the restart's work (pending deletions
  carried out) and writes it to WORK/restart.json.
"""

import argparse
import json
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

WINE64 = '/usr/lib/wine/wine64'
SCRIPTS = Path(__file__).resolve().parents[2] / 'scripts'
HELPER_DIR = 'lke2e'  # C:\lke2e in the prefix: outside the directories the program examines

PAUSE_ENTRIES = {
    1: 'Analysiere Windows Registrierungsdatenbank...',
    3: 'Analysiere Systemdateien...',
    5: 'Analysiere Windows Dienstemanager...',
    6: 'Analysiere Geräteverfügbarkeit...',
}
# The state a service stays in after an accepted stop, and the helper service that does that.
STOP_OUTCOMES = {1: 'accept', 3: 'hang', 4: 'ignore'}
TYPE_NAMES = {1: 'REG_SZ', 2: 'REG_EXPAND_SZ', 3: 'REG_BINARY', 4: 'REG_DWORD', 7: 'REG_MULTI_SZ'}
DEVICE = '\\\\.\\KeyboardClassC'


class Unusable(Exception):
    """The scenario asks for something the Wine runner cannot build."""


class CannotRun(Exception):
    """This machine cannot play the scenario."""


class MissingInput(Exception):
    """The scenario needs an input that the build was not given."""


def dump(obj):
    return json.dumps(obj, ensure_ascii=False, separators=(',', ':'))


def content_bytes(pieces, where):
    out = bytearray()
    for i, piece in enumerate(pieces):
        if 'text' in piece:
            out += piece['text'].encode('cp1252')
        elif 'utf16' in piece:
            out += piece['utf16'].encode('utf-16-le')
        elif 'hex' in piece:
            out += bytes.fromhex(re.sub(r'[\s,]', '', piece['hex']))
        elif 'repeat' in piece:
            out += bytes.fromhex(re.sub(r'[\s,]', '', piece['repeat']['hex'])) * \
                piece['repeat']['count']
        else:
            raise Unusable(f'{where}.content[{i}]: unknown piece')
    return bytes(out)


def host_path(prefix, windows_path, create_dirs=False):
    """The file of the prefix that a C: path names, matching existing names without case."""
    if not re.match(r'^[A-Za-z]:\\', windows_path) or windows_path[0].upper() != 'C':
        raise Unusable(f'{windows_path}: only paths on C: can be planted')
    current = Path(prefix) / 'drive_c'
    parts = [p for p in windows_path[3:].split('\\') if p]
    for n, part in enumerate(parts):
        match = None
        if current.is_dir():
            for entry in os.listdir(current):
                if entry.lower() == part.lower():
                    match = entry
                    break
        current = current / (match or part)
        if create_dirs and n < len(parts) - 1 and not current.exists():
            current.mkdir()
    return current


def windows_path_of(host):
    return 'Z:' + str(host).replace('/', '\\')


def can_run_32bit():
    return subprocess.run([str(SCRIPTS / 'wine32' / 'can-run.sh')], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def pe_machine(exe):
    return subprocess.run([str(SCRIPTS / 'pe-machine.sh'), str(exe)], capture_output=True,
                          text=True).stdout.strip()


def plan(scenario, program, helper, program32=None, helper32=None):
    """(prefix architecture, program, helper) for the scenario; CannotRun when this machine cannot
    play it, MissingInput when it could but the 32-bit program or helper was not given."""
    bits64 = pe_machine(program) == 'amd64'
    if not scenario.get('system', {}).get('is64', False):
        arch, exe, user = ('win64' if bits64 else 'win32'), program, helper
    else:
        arch = 'win64'
        exe, user = (program32, helper32) if bits64 else (program, helper)
    from_32bit_build = exe is not program
    if (from_32bit_build or not bits64) and not can_run_32bit():
        raise CannotRun('the 32-bit program cannot run: this machine cannot execute 32-bit code')
    # Wine's 64-bit loader cannot start an emulated 32-bit one, so there a 64-bit prefix has no
    # 32-bit side (syswow64) for a 32-bit program.
    if arch == 'win64' and (from_32bit_build or not bits64) and os.environ.get('LK_WINE32_LOADER'):
        raise CannotRun('the 32-bit program cannot run in a 64-bit prefix: 32-bit code runs only '
                        'under emulation here, and the 64-bit prefix has no 32-bit side')
    if from_32bit_build:
        for path, variable in ((exe, 'LK_PROGRAM32_EXECUTABLE'), (user, 'LK_HELPER32_EXECUTABLE')):
            if not path or not Path(path).exists():
                raise MissingInput(f'a 64-bit Windows needs the 32-bit program and helper: '
                                   f'{variable} is {"not set" if not path else path + ", missing"}'
                                   f' (configure with -D{variable}=PATH from the mingw preset\'s '
                                   f'build; scripts/test-all.sh does)')
    return arch, exe, user


def wine32_loader():
    """Wine's 32-bit loader: the emulated one of scripts/wine32/qemu-loader.sh where there is one."""
    emulated = os.environ.get('LK_WINE32_LOADER')
    return str(Path(emulated) / 'wine') if emulated else 'wine'


def loader_for(exe):
    return WINE64 if pe_machine(exe) == 'amd64' else wine32_loader()


def ensure_template(root, arch='win64'):
    template = Path(root) / f'template-{arch}'
    if (template / '.ready').exists():
        return template
    log = Path(root) / 'e2e-template.log'
    Path(root).mkdir(parents=True, exist_ok=True)
    with open(log, 'w') as out:
        fresh = subprocess.run([str(SCRIPTS / 'wine-prefix.sh'), str(root), arch, 'fresh'],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=out,
                               text=True, check=True).stdout.strip()
    subprocess.run([str(SCRIPTS / 'wine-prefix.sh'), str(root), 'stop', fresh],
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    shutil.rmtree(fresh, ignore_errors=True)
    return template


def template_system_files(root, arch='win64'):
    """The libraries and drivers that a fresh prefix already has (names as on disk)."""
    system32 = ensure_template(root, arch) / 'drive_c' / 'windows' / 'system32'
    libraries = sorted(e for e in os.listdir(system32)
                       if e.lower().endswith('.dll') and (system32 / e).is_file())
    drivers_dir = system32 / 'drivers'
    drivers = sorted(e for e in os.listdir(drivers_dir)
                     if e.lower().endswith('.sys') and (drivers_dir / e).is_file())
    return libraries, drivers


class Prefix:
    """A private copy of the template with its own server and X display."""

    def __init__(self, root, work, arch='win64'):
        self.arch = arch
        self.loader = WINE64 if arch == 'win64' else wine32_loader()
        self.root = Path(root)
        self.work = Path(work)
        self.path = None
        self.server = None
        self.xvfb = None
        self.display = None
        self.log = open(self.work / 'wine.log', 'a')

    def env(self):
        env = dict(os.environ)
        env.update(WINEPREFIX=str(self.path), WINEDEBUG=os.environ.get('WINEDEBUG', '-all'),
                   WINEDLLOVERRIDES='mscoree,mshtml=', DISPLAY=self.display)
        return env

    def start(self):
        template = ensure_template(self.root, self.arch)
        self.path = Path(tempfile.mkdtemp(prefix='e2e-', dir=self.root))
        self.path.rmdir()
        # The big system folders are hard links (Wine never writes into those files, and a file
        # is only ever replaced or deleted there); the rest is copied.
        self.path.mkdir()
        for entry in os.listdir(template):
            if entry == 'drive_c':
                continue
            subprocess.run(['cp', '-a', str(template / entry), str(self.path / entry)], check=True)
        (self.path / 'drive_c').mkdir()
        for entry in os.listdir(template / 'drive_c'):
            if entry == 'windows':
                continue
            subprocess.run(['cp', '-a', str(template / 'drive_c' / entry),
                            str(self.path / 'drive_c' / entry)], check=True)
        windows = self.path / 'drive_c' / 'windows'
        windows.mkdir()
        for entry in os.listdir(template / 'drive_c' / 'windows'):
            link = entry.lower() in ('system32', 'syswow64')
            subprocess.run(['cp', '-al' if link else '-a',
                            str(template / 'drive_c' / 'windows' / entry), str(windows / entry)],
                           check=True)
        for stale in ('.server', '.session.log', '.ready'):
            (self.path / stale).unlink(missing_ok=True)
        self.start_display()
        self.server = subprocess.Popen(['setsid', 'wineserver', '-f', '-p'], env=self.env(),
                                       stdin=subprocess.DEVNULL, stdout=self.log,
                                       stderr=subprocess.STDOUT)
        # The first command brings up the system processes; they inherit its output: a file.
        self.wine(['cmd', '/c', 'exit'])

    def start_display(self):
        # Xvfb picks a free display itself and tells its number: no race between runners.
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(['Xvfb', '-displayfd', str(write_end), '-screen', '0',
                                      '1280x1024x24', '-nolisten', 'tcp'],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, pass_fds=(write_end,))
        os.close(write_end)
        number = b''
        deadline = time.monotonic() + 30
        while not number.endswith(b'\n') and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], 1)
            if ready:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        if not number.strip().isdigit():
            raise RuntimeError('Xvfb did not start')
        self.display = ':' + number.strip().decode()

    def wine(self, args, timeout=120, check=False, loader=None):
        return subprocess.run([loader or self.loader] + args, env=self.env(), stdin=subprocess.DEVNULL,
                              stdout=self.log, stderr=subprocess.STDOUT, timeout=timeout,
                              check=check).returncode

    def spawn(self, args, loader=None):
        return subprocess.Popen([loader or self.loader] + args, env=self.env(), stdin=subprocess.DEVNULL,
                                stdout=self.log, stderr=subprocess.STDOUT)

    def stop(self, keep=False):
        if self.path is not None:
            subprocess.run(['wineserver', '-k'], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        if self.server is not None:
            try:
                self.server.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.server.kill()
        if self.xvfb is not None:
            self.xvfb.terminate()
            self.xvfb.wait()
        if self.path is not None and not keep:
            shutil.rmtree(self.path, ignore_errors=True)
        self.log.close()


def reg_value_line(name, spec, where):
    kind, data = spec.get('type'), spec.get('data')
    head = '@' if name == '' else '"' + name.replace('\\', '\\\\').replace('"', '\\"') + '"'

    def hexbytes(raw):
        return ','.join(f'{b:02x}' for b in raw)

    if kind == 'REG_SZ':
        return head + '="' + data.replace('\\', '\\\\').replace('"', '\\"') + '"'
    if kind == 'REG_EXPAND_SZ':
        return head + '=hex(2):' + hexbytes((data + '\0').encode('utf-16-le'))
    if kind == 'REG_DWORD':
        return head + f'=dword:{int(data):08x}'
    if kind == 'REG_BINARY':
        return head + '=hex:' + hexbytes(bytes.fromhex(re.sub(r'[\s,]', '', data)))
    if kind == 'REG_MULTI_SZ':
        raw = b''.join((s + '\0').encode('utf-16-le') for s in data) + '\0'.encode('utf-16-le')
        return head + '=hex(7):' + hexbytes(raw)
    raise Unusable(f'{where}: unknown type {kind}')


def service_kind(name, spec, registry):
    """'kernel' with its image path, or 'own' with the stop behaviour."""
    key = registry.get('SYSTEM\\CurrentControlSet\\services\\' + name)
    if key is None:
        for path, values in registry.items():
            if path.lower() == ('SYSTEM\\CurrentControlSet\\services\\' + name).lower():
                key = values
    after = spec.get('statesAfterStop', [])
    if spec.get('onStop', 'accept') == 'refuse':
        return 'own', 'refuse'
    if after:
        return 'own', STOP_OUTCOMES[after[-1]]
    if key is not None:
        type_value = key.get('Type', {})
        image = key.get('ImagePath', {})
        if type_value.get('data') == 1 and image.get('data'):
            return 'kernel', image['data']
    return 'own', 'accept'


class Run:
    def __init__(self, args):
        self.args = args
        self.work = Path(args.work)
        self.work.mkdir(parents=True, exist_ok=True)
        with open(args.scenario, encoding='utf-8') as f:
            self.scenario = json.load(f)
        self.prefix = None
        self.holder = None
        self.canary = None

    # -- checks -------------------------------------------------------------------------------
    def check(self):
        s = self.scenario
        system = s.get('system', {})
        self.arch, self.program, self.helper_exe = plan(s, self.args.program, self.args.helper,
                                                        self.args.program32, self.args.helper32)
        self.user_loader = loader_for(self.helper_exe)
        if not system.get('ntFamily', True):
            raise Unusable('system.ntFamily false: Wine is always of the NT family')
        directory = system.get('systemDirectory', 'C:\\WINDOWS\\system32')
        if directory.lower() != 'c:\\windows\\system32':
            raise Unusable(f'system.systemDirectory {directory!r}: Wine has C:\\windows\\system32')
        if directory != 'C:\\windows\\system32':
            raise Unusable('system.systemDirectory: spell it "C:\\\\windows\\\\system32" as Wine '
                           'reports it, or the paths the program writes differ')
        if s.get('deniedKeys'):
            raise Unusable('deniedKeys: Wine grants an administrator every key')
        for name, spec in s.get('services', {}).items():
            after = spec.get('statesAfterStop', [])
            if after and after[-1] not in STOP_OUTCOMES:
                raise Unusable(f'services.{name}.statesAfterStop: a real service can end in '
                               'state 1, 3 or 4 after the stop')
            for unsupported in ('startPendingQueries', 'deleteError'):
                if spec.get(unsupported):
                    raise Unusable(f'services.{name}.{unsupported}: not reproducible with a real '
                                   'service')
            if spec.get('state', 4) not in (1, 4):
                raise Unusable(f'services.{name}.state: only 1 (stopped) and 4 (running)')
        cancel = s.get('cancelAt')
        if cancel is not None:
            self.cancel_entry()

    def cancel_entry(self):
        cancel = self.scenario.get('cancelAt')
        if cancel is None:
            return ''
        if 'pause' in cancel and cancel['pause'] in PAUSE_ENTRIES:
            return PAUSE_ENTRIES[cancel['pause']]
        if 'pump' in cancel and cancel['pump'] in (58, 59):
            return None  # the library count entry: known once the files are planted
        raise Unusable(f'cancelAt {cancel}: no entry marks that moment on screen')

    # -- building the machine -------------------------------------------------------------------
    def plant(self):
        p = self.prefix
        s = self.scenario
        helper_dir = p.path / 'drive_c' / HELPER_DIR
        helper_dir.mkdir(exist_ok=True)
        shutil.copy(self.helper_exe, helper_dir / 'lke2e.exe')
        self.helper = f'C:\\{HELPER_DIR}\\lke2e.exe'

        for path in s.get('directories', []):
            host_path(p.path, path + '\\x', create_dirs=True).parent.mkdir(exist_ok=True)
        for path, spec in s.get('files', {}).items():
            target = host_path(p.path, path, create_dirs=True)
            if target.exists():
                target.unlink()  # may be a hard link into the template
            target.write_bytes(content_bytes(spec.get('content', []), f'files[{path!r}]'))

        registry = s.get('registry', {})
        for name, spec in s.get('services', {}).items():
            kind, detail = service_kind(name, spec, registry)
            if kind == 'kernel':
                rc = p.wine(['sc', 'create', name, 'binPath=', detail, 'type=', 'kernel',
                             'start=', 'demand'])
            else:
                rc = p.wine(['sc', 'create', name, 'binPath=', f'{self.helper} service {detail}',
                             'type=', 'own', 'start=', 'demand'])
            if rc != 0:
                raise RuntimeError(f'sc create {name} failed ({rc})')
            if spec.get('state', 4) == 4:
                rc = p.wine(['sc', 'start', name])
                if rc != 0:
                    raise RuntimeError(f'sc start {name} failed ({rc})')

        lines = ['Windows Registry Editor Version 5.00', '']
        service_keys = {('SYSTEM\\CurrentControlSet\\services\\' + n).lower()
                        for n in s.get('services', {})}
        for key in sorted(service_keys):
            lines += [f'[-HKEY_LOCAL_MACHINE\\{key}]', '']
        for key, values in registry.items():
            lines.append(f'[HKEY_LOCAL_MACHINE\\{key}]')
            for name, spec in values.items():
                lines.append(reg_value_line(name, spec, f'registry[{key!r}][{name!r}]'))
            lines.append('')
        reg_file = self.work / 'plant.reg'
        reg_file.write_bytes(('\r\n'.join(lines) + '\r\n').encode('utf-16'))
        # regedit now and then fails at once on a loaded machine while the prefix's services
        # are still starting; a second try a moment later imports the same file.
        for attempt in range(3):
            if p.wine(['regedit', '/S', windows_path_of(reg_file)]) == 0:
                break
            print(f'regedit import failed (attempt {attempt + 1} of 3)', file=p.log, flush=True)
            time.sleep(2)
        else:
            raise RuntimeError('regedit could not import the registry')

        devices = s.get('devices', [])
        for device in devices:
            if p.wine([self.helper, 'probe', device], loader=self.user_loader) != 0:
                name = device.split('\\')[-1].lower()
                os.symlink('/dev/null', p.path / 'dosdevices' / name)
                if p.wine([self.helper, 'probe', device], loader=self.user_loader) != 0:
                    raise RuntimeError(f'the device {device} cannot be made to open')
        if DEVICE.lower() not in (d.lower() for d in devices):
            if p.wine([self.helper, 'probe', DEVICE], loader=self.user_loader) == 0:
                raise Unusable(f'{DEVICE} opens, but the scenario does not list it (a running '
                               'driver of the scenario makes it)')

        in_use = [path for path, spec in s.get('files', {}).items() if spec.get('inUse')]
        if in_use:
            self.holder = self.hold('holder', in_use)
        # A process of the prefix that only the restart ends: the sign that it happened.
        (helper_dir / 'canary').write_bytes(b'')
        self.canary = self.hold('canary', [f'C:\\{HELPER_DIR}\\canary'])

    def hold(self, name, paths):
        ready = self.work / f'{name}.ready'
        ready.unlink(missing_ok=True)
        process = self.prefix.spawn([self.helper, 'hold', windows_path_of(ready)] + paths,
                                    loader=self.user_loader)
        # Generous: an emulated 32-bit helper takes some seconds to start.
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if ready.exists() or process.poll() is not None:
                break
            time.sleep(0.05)
        if not ready.exists():
            raise RuntimeError(f'{name}: the files could not be held open')
        return process

    # -- playing --------------------------------------------------------------------------------
    def play(self):
        s = self.scenario
        spec = self.work / 'state.spec'
        keys = list(s.get('registry', {}).keys())
        files = list(s.get('files', {}).keys())
        services = list(s.get('services', {}).keys())
        spec.write_text(''.join([f'key\t{k}\n' for k in keys] + [f'file\t{f}\n' for f in files] +
                                [f'service\t{n}\n' for n in services]), encoding='utf-8')
        shots = Path(self.args.shots) if self.args.shots else self.work / 'screenshots'
        shutil.rmtree(shots, ignore_errors=True)
        shots.mkdir(parents=True)
        out = self.work / 'user.txt'
        snapshot = self.work / 'snapshot.txt'
        final = self.work / 'final.txt'
        for f in (out, snapshot, final, self.work / 'restart.json'):
            f.unlink(missing_ok=True)
        cancel = self.cancel_entry()
        if cancel is None:
            system32 = host_path(self.prefix.path, 'C:\\windows\\system32')
            count = sum(1 for e in os.listdir(system32)
                        if e.lower().endswith('.dll') and (system32 / e).is_file())
            cancel = f'Analysiere {count} Bibliotheken...'
        settings = [('program', windows_path_of(Path(self.program).resolve())),
                    ('out', windows_path_of(out)), ('shots', windows_path_of(shots)),
                    ('spec', windows_path_of(spec)), ('snapshot', windows_path_of(snapshot)),
                    ('final', windows_path_of(final)), ('timeout', '240')]
        settings += [('answer', a) for a in s.get('answers', [])]
        if cancel:
            settings.append(('cancelafter', cancel.encode('utf-8').hex()))
        settings_file = self.work / 'user.settings'
        settings_file.write_text(''.join(f'{k}\t{v}\n' for k, v in settings), encoding='utf-8')
        self.prefix.wine([self.helper, 'drive', windows_path_of(settings_file)], timeout=300,
                         loader=self.user_loader)
        lines = out.read_text(encoding='utf-8').splitlines() if out.exists() else []
        return lines, snapshot, final, shots

    def transcript(self, lines, snapshot, final):
        transcript = []
        last_dialog = -1
        ended = False
        for line in lines:
            f = line.split('\t')
            if f[0] == 'entry':
                transcript.append({'entry': bytes.fromhex(f[2]).decode('utf-8'),
                                   'image': int(f[1])})
            elif f[0] == 'dialog':
                transcript.append({'dialog': bytes.fromhex(f[4]).decode('utf-8'),
                                   'text': bytes.fromhex(f[5]).decode('utf-8'),
                                   'icon': int(f[1]), 'buttons': int(f[2]), 'result': int(f[3])})
                last_dialog = len(transcript) - 1
            elif f[0] == 'clipboard':
                transcript.append({'clipboard': bytes.fromhex(f[1]).decode('utf-8')})
            elif f[0] == 'fail':
                raise RuntimeError('the user gave up: ' + bytes.fromhex(f[1]).decode('utf-8'))
            elif f[0] == 'end':
                ended = True
        if 'started' not in lines:
            raise RuntimeError('the user did not start the run')
        # Wine restarts asynchronously: on a busy machine the user may finish first.
        deadline = time.monotonic() + (4 if ended else 20)
        while self.canary.poll() is None and time.monotonic() < deadline:
            time.sleep(0.1)
        restarted = self.canary.poll() is not None
        if not ended and not restarted:
            raise RuntimeError('the user ended without finishing, and no restart happened')
        if restarted:
            transcript.insert(last_dialog + 1, {'shutdown': '2', 'force': True})
            state = self.state(snapshot)
            self.check_restart(state)
        else:
            state = self.state(final)
        transcript.append({'state': state})
        return transcript

    def state(self, path):
        s = self.scenario
        if not path.exists():
            raise RuntimeError(f'no state was read ({path.name})')
        keys = list(s.get('registry', {}).keys())
        files = list(s.get('files', {}).keys())
        present_keys, values, present_files, pending, services = set(), {}, set(), [], {}
        for line in path.read_text(encoding='utf-8').splitlines():
            f = line.split('\t')
            if f[0] == 'key' and f[2] == '1':
                present_keys.add(int(f[1]))
            elif f[0] == 'value':
                name = bytes.fromhex(f[3]).decode('utf-8')
                values.setdefault(int(f[1]), []).append((name, value_form(int(f[2]),
                                                                          bytes.fromhex(f[4]))))
            elif f[0] == 'file' and f[2] == '1':
                present_files.add(int(f[1]))
            elif f[0] == 'pending':
                pending = pending_deletions(bytes.fromhex(f[1]))
            elif f[0] == 'service' and f[2] != 'absent':
                if f[2] == 'error':
                    raise RuntimeError('the service manager could not be read')
                services[bytes.fromhex(f[1]).decode('utf-8')] = {
                    'state': int(f[2]), 'markedForDeletion': f[3] == '1'}
        registry = {}
        for i, key in enumerate(keys):
            if i in present_keys:
                registry[key] = {n: v for n, v in sorted(values.get(i, []),
                                                         key=lambda nv: nv[0].lower())}
        return {'registry': registry,
                'files': sorted((f for i, f in enumerate(files) if i in present_files),
                                key=str.lower),
                'deleteAtRestart': pending,
                'services': services}

    def check_restart(self, state):
        """What the restart did: every file registered for deletion must be gone."""
        deadline = time.monotonic() + 20
        while True:
            left = [p for p in state['deleteAtRestart']
                    if host_path(self.prefix.path, p).exists()]
            if not left or time.monotonic() > deadline:
                break
            time.sleep(0.2)
        report = {'restarted': True, 'deleteAtRestart': state['deleteAtRestart'],
                  'stillPresent': left}
        (self.work / 'restart.json').write_text(dump(report) + '\n', encoding='utf-8')

    def run(self):
        self.check()
        self.prefix = Prefix(self.args.wine_root, self.work, self.arch)
        try:
            self.prefix.start()
            self.plant()
            lines, snapshot, final, shots = self.play()
            transcript = self.transcript(lines, snapshot, final)
        finally:
            for process in (self.holder, self.canary):
                if process is not None and process.poll() is None:
                    process.kill()
            self.prefix.stop(keep=self.args.keep)
        return transcript


def value_form(kind, raw):
    name = TYPE_NAMES.get(kind, f'REG_{kind}')
    if kind in (1, 2):
        text = raw.decode('utf-16-le', errors='replace')
        if text.endswith('\0'):
            text = text[:-1]
        return {'type': name, 'data': text}
    if kind == 4 and len(raw) == 4:
        return {'type': name, 'data': int.from_bytes(raw, 'little')}
    if kind == 7:
        parts = raw.decode('utf-16-le', errors='replace').split('\0')
        while parts and parts[-1] == '':
            parts.pop()
        return {'type': name, 'data': parts}
    return {'type': name, 'data': ' '.join(f'{b:02x}' for b in raw)}


def pending_deletions(raw):
    """Sources of the deletions (pairs with an empty target) in PendingFileRenameOperations."""
    strings = raw.decode('utf-16-le', errors='replace').split('\0')
    result = []
    i = 0
    while i + 1 < len(strings):
        source, target = strings[i], strings[i + 1]
        if source == '':
            break
        if target == '':
            result.append(source[4:] if source.startswith('\\??\\') else source)
        i += 2
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--scenario', required=True)
    parser.add_argument('--wine-root', required=True)
    parser.add_argument('--program', required=True)
    parser.add_argument('--helper', required=True)
    parser.add_argument('--program32')
    parser.add_argument('--helper32')
    parser.add_argument('--work', required=True)
    parser.add_argument('--shots')
    parser.add_argument('--keep', action='store_true')
    args = parser.parse_args()
    try:
        transcript = Run(args).run()
    except Unusable as e:
        print(f'wine_runner: {args.scenario}: {e}', file=sys.stderr)
        return 2
    except CannotRun as e:
        print(f'wine_runner: {args.scenario}: skipped: {e}', file=sys.stderr)
        return 77
    except MissingInput as e:
        print(f'wine_runner: {args.scenario}: {e}', file=sys.stderr)
        return 1
    for line in transcript:
        print(dump(line))
    return 0


if __name__ == '__main__':
    sys.exit(main())
