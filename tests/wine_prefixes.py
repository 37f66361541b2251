"""What the Wine-driven test scripts share: the machine of an executable, whether 32-bit Windows
programs can run here, the loader for a prefix architecture, a fresh prefix that is stopped and
removed again (a copy of the template of scripts/wine-prefix.sh, with its own server), the set-up
of a console program's test, and the values of a regedit export."""

import contextlib
import json
import os
import re
import shutil
import subprocess
from pathlib import Path

SCRIPTS = Path(__file__).resolve().parents[1] / 'scripts'


def pe_machine(exe):
    """'i386' or 'amd64'."""
    return subprocess.run([str(SCRIPTS / 'pe-machine.sh'), str(exe)], capture_output=True,
                          text=True, check=True).stdout.strip()


def can_run_32bit():
    return subprocess.run([str(SCRIPTS / 'wine32' / 'can-run.sh')], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def loader(arch):
    """Wine's loader for a prefix of arch ('win32' or 'win64'): the emulated 32-bit one that
    LK_WINE32_LOADER names, where there is one."""
    if arch == 'win64':
        return '/usr/lib/wine/wine64'
    emulated = os.environ.get('LK_WINE32_LOADER')
    return emulated + '/wine' if emulated else 'wine'


@contextlib.contextmanager
def fresh_prefix(root, arch, env, log):
    """A new private prefix of arch below root; env gets its WINEPREFIX. Its server and every
    process in it are ended, and the prefix removed, when the block ends."""
    prefix = Path(subprocess.run([str(SCRIPTS / 'wine-prefix.sh'), str(root), arch, 'fresh'],
                                 env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=log, text=True, check=True).stdout.strip())
    env['WINEPREFIX'] = str(prefix)
    try:
        yield prefix
    finally:
        subprocess.run([str(SCRIPTS / 'wine-prefix.sh'), str(root), 'stop', str(prefix)], env=env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        shutil.rmtree(prefix, ignore_errors=True)


class ConsoleTest:
    """What a test of a console program under Wine needs: the prefix architecture of the
    program, a work folder made anew, Wine's log in it, an environment without a display, and
    Wine programs run with their output in files (never a pipe: Wine's system processes inherit
    it and keep it open). skip is the reason this machine cannot run the program, or None."""

    def __init__(self, program, work, name):
        machine = pe_machine(program)
        self.skip = None
        if machine == 'i386' and not can_run_32bit():
            self.skip = (f'{name}: this machine cannot run 32-bit programs under Wine; skipped '
                         '(the mingw64 preset runs the same test)')
            return
        self.arch = 'win64' if machine == 'amd64' else 'win32'
        self.loader = loader(self.arch)
        self.work = Path(work)
        shutil.rmtree(self.work, ignore_errors=True)
        self.work.mkdir(parents=True)
        self.log = open(self.work / 'wine.log', 'w')
        self.env = dict(os.environ, WINEDEBUG=os.environ.get('WINEDEBUG', '-all'),
                        WINEDLLOVERRIDES='mscoree,mshtml=')
        self.env.pop('DISPLAY', None)  # a console program needs no display

    def wine(self, arguments, output):
        with open(output, 'w') as out:
            return subprocess.run([self.loader] + arguments, env=self.env,
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=self.log,
                                  timeout=600).returncode

    def export_registry(self, key):
        """regedit's export of key as text; empty when it could not be exported."""
        target = self.work / 'export.reg'
        target.unlink(missing_ok=True)
        self.wine(['regedit', '/E', 'Z:' + str(target).replace('/', '\\'), key],
                  self.work / 'regedit.out')
        raw = target.read_bytes() if target.exists() else b''
        return raw.decode('utf-16') if raw.startswith(b'\xff\xfe') else raw.decode('utf-8',
                                                                                  'replace')

    def prefix(self, root):
        return fresh_prefix(root, self.arch, self.env, self.log)


# The value types of regedit's hex(N) notation.
TYPES = {'hex(0)': 0, 'hex(2)': 2, 'hex(3)': 3, 'hex': 3, 'hex(4)': 4, 'hex(7)': 7, 'hex(b)': 11}


def registry_export(text):
    """A regedit export as {key: {value name: (type, data bytes)}}, every key of it (those without
    values too), strings as the registry stores them (UTF-16LE with their NUL)."""
    keys = {}
    values = None
    pending = ''
    for raw in text.splitlines():
        line = pending + raw.strip()
        pending = ''
        if line.endswith('\\'):
            pending = line[:-1]
            continue
        match = re.match(r'^\[(.*)\]$', line)
        if match:
            values = keys.setdefault(match.group(1), {})
            continue
        match = re.match(r'^(@|"(?:[^"\\]|\\.)*")=(.*)$', line)
        if values is None or not match:
            continue
        name = '' if match.group(1) == '@' else json.loads(match.group(1))
        data = match.group(2)
        if data.startswith('"'):
            values[name] = (1, (json.loads(data) + '\0').encode('utf-16-le'))
        elif data.startswith('dword:'):
            values[name] = (4, int(data[6:], 16).to_bytes(4, 'little'))
        else:
            kind, _, hexes = data.partition(':')
            values[name] = (TYPES.get(kind, 3), bytes(int(h, 16) for h in hexes.split(',') if h))
    return keys


def registry_values(text):
    """The values of a regedit export as [(key, name, type, data bytes)]."""
    return [(key, name, kind, data) for key, values in registry_export(text).items()
            for name, (kind, data) in values.items()]
