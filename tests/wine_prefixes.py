"""What the Wine-driven test scripts share: the machine of an executable, whether 32-bit Windows
programs can run here, the loader for a prefix architecture, and a fresh prefix that is stopped
and removed again (a copy of the template of scripts/wine-prefix.sh, with its own server)."""

import contextlib
import os
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
