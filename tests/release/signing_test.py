#!/usr/bin/python3
"""Signing a Windows program the way the release does (scripts/release/sign.sh).

    signing_test.py --program lkscan.exe --version V --wine-root DIR --work DIR

With a throw-away self-signed code-signing certificate whose key has a password:
1. sign.sh signs; `osslsigncode verify` with the certificate as the only CA accepts the result;
2. the unsigned program is rejected by the same check, and so is the signed one with one byte of
   its code changed (the check looks at the content, not only at the signature's presence);
3. the signed program differs from the unsigned one only by the signature: the signed data
   (`osslsigncode extract-data`) of both is the same, so a signed release can be compared with a
   reproducible unsigned build;
4. a wrong password: sign.sh fails and leaves no output;
5. the signed program still starts under Wine: `--version` exits 0 and names V.
Exit 0 when all hold, 1 when not, 77 when 1-4 hold but this machine cannot run the program's
architecture under Wine (the 64-bit build runs the whole test).
"""

import argparse
import os
import shutil
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
from wine_prefixes import can_run_32bit, fresh_prefix, loader, pe_machine  # noqa: E402

SIGN = Path(__file__).resolve().parents[2] / 'scripts' / 'release' / 'sign.sh'


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, **kwargs)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--program', required=True)
    parser.add_argument('--version', required=True)
    parser.add_argument('--wine-root', required=True)
    parser.add_argument('--work', required=True)
    args = parser.parse_args()
    work = Path(args.work)
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    failures = []

    def expect(condition, what):
        if not condition:
            failures.append(what)

    cert, key = work / 'cert.pem', work / 'key.pem'
    made = run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-days', '2',
                '-subj', '/CN=Anti-Lauschkobold Testsignatur', '-keyout', str(key),
                '-out', str(cert), '-passout', 'pass:geheim 1',
                '-addext', 'extendedKeyUsage=codeSigning',
                '-addext', 'keyUsage=critical,digitalSignature'])
    if made.returncode != 0:
        print('signing_test: openssl could not make a certificate:', made.stderr)
        return 1
    unsigned = work / 'unsigned.exe'
    shutil.copyfile(args.program, unsigned)
    signed = work / 'signed.exe'
    env = dict(os.environ, LK_SIGN_CERT=str(cert), LK_SIGN_KEY=str(key), LK_SIGN_PASS='geheim 1')
    env.pop('LK_SIGN_TIMESTAMP_URL', None)

    def verify(path):
        return run(['osslsigncode', 'verify', '-in', str(path), '-CAfile', str(cert)])

    signing = run(['bash', str(SIGN), str(unsigned), str(signed)], env=env)
    expect(signing.returncode == 0, 'sign.sh failed: %s' % signing.stderr)
    if signing.returncode == 0:
        checked = verify(signed)
        expect(checked.returncode == 0, 'the signed program does not verify: %s' % checked.stdout)
        expect(verify(unsigned).returncode != 0, 'the unsigned program verifies')
        tampered = work / 'tampered.exe'
        data = bytearray(signed.read_bytes())
        data[0x1000] ^= 0xFF  # inside the first section, covered by the signature's hash
        tampered.write_bytes(bytes(data))
        expect(verify(tampered).returncode != 0, 'a changed signed program still verifies')
        extracted = []
        for path in (unsigned, signed):
            out = work / (path.stem + '.data')
            run(['osslsigncode', 'extract-data', '-h', 'sha256', '-in', str(path),
                 '-out', str(out)])
            extracted.append(out.read_bytes() if out.exists() else None)
        expect(extracted[0] is not None and extracted[0] == extracted[1],
               'the signed data of the signed and the unsigned program differ')

    wrong = work / 'wrong.exe'
    refused = run(['bash', str(SIGN), str(unsigned), str(wrong)],
                  env=dict(env, LK_SIGN_PASS='falsch'))
    expect(refused.returncode != 0, 'sign.sh signed with a wrong password')
    expect(not wrong.exists(), 'sign.sh left an output behind after failing')

    machine = pe_machine(signed if signed.exists() else unsigned)
    skipped = False
    if not signed.exists():
        pass
    elif machine == 'i386' and not can_run_32bit():
        print('signing_test: this machine cannot run 32-bit programs under Wine; the start of the '
              'signed program is skipped (the mingw64 preset runs it)')
        skipped = True
    else:
        arch = 'win64' if machine == 'amd64' else 'win32'
        wine_env = dict(os.environ, WINEDEBUG='-all', WINEDLLOVERRIDES='mscoree,mshtml=')
        wine_env.pop('DISPLAY', None)
        with open(work / 'wine.log', 'w') as log, \
                fresh_prefix(Path(args.wine_root), arch, wine_env, log) as prefix:
            target = prefix / 'drive_c' / 'lkscan.exe'
            shutil.copyfile(signed, target)
            output = work / 'version.out'
            # Into a file, never a pipe: Wine's system processes inherit it and keep it open.
            with open(output, 'w') as out:
                code = subprocess.run([loader(arch), 'C:\\lkscan.exe', '--version'],
                                      env=wine_env, stdin=subprocess.DEVNULL, stdout=out,
                                      stderr=log, timeout=300).returncode
            said = output.read_text(errors='replace').strip()
            expect(code == 0, 'the signed program exits %d under Wine' % code)
            expect(args.version in said, 'the signed program says %r, not its version' % said)

    for failure in failures:
        print('FAILED:', failure)
    if failures:
        return 1
    return 77 if skipped else 0


if __name__ == '__main__':
    sys.exit(main())
