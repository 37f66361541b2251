#!/usr/bin/python3
"""Boots the rescue medium in qemu (UEFI with Secure Boot enforced, or BIOS; the medium as a USB
stick; Windows installations on NVMe disks), drives the guide with key presses through qemu's
monitor and saves a PNG of the screen at each step, for a person to look at.

    rescue-screenshots.py --iso ISO --disk INFECTED [--disk BITLOCKER --disk HIBERNATED]
                          --out DIR [--firmware uefi|bios] [--timeout SECONDS]

The disks are attached in the order given, so the guide lists them in that order: the first is
an infected installation, which is examined, repaired and restored; the optional second one a
BitLocker volume and the optional third a hibernated clean installation, whose explanations are
shown first.

A step's picture is taken once the guide has named the dialog on the serial line and the screen
has settled: two screen dumps a few seconds apart that are the same, and differ from the last
picture saved. Needs qemu-system-x86_64, OVMF and
ImageMagick's convert (scripts/install-deps.sh --rescue and the ordinary packages).
"""

import argparse
import hashlib
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

# The guide names each of its dialogs on the serial line ("LK-DIALOG <n> <title>"). Step n's
# picture is taken once dialog n is named and the screen has settled; then its keys are pressed.
# The first picture is GRUB's menu, taken before the medium boots.
GRUB = ('01-grub-menue', ['ret'])
DOWN = 'down'
# A scrolling text box (a result, a report) keeps the focus on its text: Tab reaches its button.
TEXT = ['tab', 'ret']


def steps(installations):
    """The dialogs in the order the guide shows them, with the keys that answer each. The main
    menu lists the installations, then S(uchen), R(ückgängig), B(erichte), N(eu starten),
    A(usschalten); its first line is chosen at every visit."""
    def menu(line):
        return [DOWN] * line + ['ret']
    rest = {'R': installations + 1, 'B': installations + 2, 'A': installations + 4}
    out = [('02-willkommen', ['ret'])]
    if installations >= 2:
        out += [('03-hauptmenue-bitlocker', menu(1)), ('04-bitlocker-erklaerung', ['ret'])]
    if installations >= 3:
        out += [('05-hauptmenue-ruhezustand', menu(2)), ('06-ruhezustand-erklaerung', ['ret']),
                ('07-ergebnis-ruhezustand', TEXT)]
    out += [
        ('08-hauptmenue', menu(0)),
        ('09-ergebnis-befallen', TEXT),
        ('10-reparieren-frage', ['tab', 'ret']),           # "Ja"
        ('11-reparatur-ergebnis', TEXT),
        ('12-nachpruefung-hinweis', ['ret']),
        ('13-ergebnis-sauber', TEXT),
        ('14-hauptmenue-rueckgaengig', menu(rest['R'])),
        ('15-rueckgaengig-installation', ['ret']),
        ('16-rueckgaengig-lauf', ['ret']),
        ('17-rueckgaengig-frage', ['tab', 'ret']),
        ('18-wiederherstellung-ergebnis', TEXT),
        ('19-hauptmenue-berichte', menu(rest['B'])),
        ('20-berichte', ['ret']),
        ('21-bericht', TEXT),
        ('22-hauptmenue-ausschalten', menu(rest['A'])),
        ('23-ausschalten-frage', ['tab', 'ret']),
    ]
    return out


def accel():
    """kvm when qemu can use it for a Secure Boot machine (that needs SMM), else tcg. (Where KVM
    starts but crawls, scripts/test-rescue.sh's timing decides; here SMM decides first.)"""
    if os.access('/dev/kvm', os.W_OK):
        try:
            subprocess.run(['qemu-system-x86_64', '-accel', 'kvm', '-machine', 'q35,smm=on',
                            '-nodefaults', '-display', 'none', '-monitor', 'none', '-S'],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=5)
        except subprocess.TimeoutExpired:
            return 'kvm'
    return 'tcg'


def blue_share(path):
    """The share of clearly blue pixels in a PPM (P6) screen dump: GRUB's menu and the guide
    are drawn on blue, the firmware and the kernel on black."""
    with open(path, 'rb') as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pixels = data[pos + 1:]
    total = blue = 0
    for i in range(0, len(pixels) - 2, 3 * 97):
        r, g, b = pixels[i], pixels[i + 1], pixels[i + 2]
        total += 1
        blue += b > 120 and r < 90 and g < 90
    return blue / max(total, 1)


def serial_dialogs(path):
    try:
        with open(path, 'rb') as f:
            text = f.read().decode('utf-8', 'replace')
    except OSError:
        return 0
    # Each dialog is one line; counting them does not rely on the guide's own numbers. Under
    # UEFI the firmware mirrors GRUB's screen to the serial line without a final line break, so
    # the first marker can follow GRUB's escape sequences on the same line.
    return sum(1 for line in text.splitlines() if 'LK-DIALOG ' in line)


class Monitor:
    def __init__(self, path, deadline):
        while True:
            try:
                self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                self.sock.connect(path)
                break
            except OSError:
                if time.time() > deadline:
                    raise
                time.sleep(0.5)
        self.sock.settimeout(30)
        self._read_prompt()

    def _read_prompt(self):
        data = b''
        while not data.endswith(b'(qemu) '):
            chunk = self.sock.recv(4096)
            if not chunk:
                raise EOFError('qemu closed its monitor')
            data += chunk
        return data

    def command(self, text):
        self.sock.sendall(text.encode() + b'\n')
        return self._read_prompt()


def settled(monitor, work, last_digest, deadline):
    """The path of a screen dump that has settled and differs from last_digest."""
    previous = None
    n = 0
    while time.time() < deadline:
        n += 1
        path = os.path.join(work, 'dump%d.ppm' % n)
        monitor.command('screendump ' + path)
        time.sleep(0.5)
        with open(path, 'rb') as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        if digest == previous and digest != last_digest:
            return path, digest
        previous = digest
        time.sleep(4)
    raise TimeoutError('the screen did not settle on a new picture')


def save(dump, out, name):
    png = os.path.join(out, name + '.png')
    subprocess.run(['convert', dump, png], check=True)
    print('rescue-screenshots: %s' % png, flush=True)


def press(monitor, keys):
    for key in keys:
        monitor.command('sendkey ' + key)
        time.sleep(1.5)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--iso', required=True)
    parser.add_argument('--disk', required=True, action='append')
    parser.add_argument('--out', required=True)
    parser.add_argument('--firmware', choices=('uefi', 'bios'), default='uefi')
    parser.add_argument('--timeout', type=int, default=1200, help='seconds per step')
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    work = tempfile.mkdtemp(prefix='lk-shots.')
    stick = os.path.join(work, 'stick.img')
    shutil.copyfile(args.iso, stick)
    vars_fd = os.path.join(work, 'vars.fd')
    shutil.copyfile('/usr/share/OVMF/OVMF_VARS_4M.ms.fd', vars_fd)
    sock = os.path.join(work, 'monitor.sock')
    serial = os.path.join(work, 'serial.log')
    how = accel() if args.firmware == 'uefi' else 'tcg'
    print('rescue-screenshots: qemu with %s' % how, flush=True)
    disks = []
    for number, disk in enumerate(args.disk):
        disks += ['-drive', 'file=%s,format=raw,if=none,id=win%d,cache=unsafe' % (disk, number),
                  '-device', 'nvme,drive=win%d,serial=LKWIN%d' % (number, number)]
    if args.firmware == 'uefi':
        firmware = [
            '-machine', 'q35,smm=on', '-global', 'driver=cfi.pflash01,property=secure,value=on',
            '-drive', 'if=pflash,format=raw,unit=0,readonly=on,file=/usr/share/OVMF/OVMF_CODE_4M.secboot.fd',
            '-drive', 'if=pflash,format=raw,unit=1,file=' + vars_fd]
    else:
        firmware = ['-machine', 'q35']
    qemu = subprocess.Popen([
        'qemu-system-x86_64', '-m', '2048', '-smp', '2', '-accel', how] + firmware + disks + [
        '-drive', 'file=%s,format=raw,if=none,id=stick,cache=unsafe' % stick,
        '-device', 'qemu-xhci', '-device', 'usb-storage,drive=stick,bootindex=0',
        '-vga', 'std', '-display', 'none', '-no-reboot',
        '-monitor', 'unix:%s,server=on,wait=off' % sock, '-serial', 'file:' + serial])
    try:
        monitor = Monitor(sock, time.time() + 60)
        # GRUB's menu: the first screen that is mostly blue.
        deadline = time.time() + args.timeout
        n = 0
        while True:
            n += 1
            dump = os.path.join(work, 'grub%d.ppm' % n)
            monitor.command('screendump ' + dump)
            time.sleep(0.3)
            if blue_share(dump) > 0.05:
                break
            if time.time() > deadline:
                raise TimeoutError('no GRUB menu')
            time.sleep(0.7)
        save(dump, args.out, GRUB[0])
        press(monitor, GRUB[1])
        last = None
        for number, (name, keys) in enumerate(steps(len(args.disk)), 1):
            deadline = time.time() + args.timeout
            while serial_dialogs(serial) < number:
                if time.time() > deadline or qemu.poll() is not None:
                    raise TimeoutError('the guide did not reach dialog %d (%s)' % (number, name))
                time.sleep(2)
            time.sleep(2)
            dump, last = settled(monitor, work, last, time.time() + args.timeout)
            save(dump, args.out, name)
            press(monitor, keys)
        qemu.wait(timeout=args.timeout)
    finally:
        if qemu.poll() is None:
            qemu.kill()
        qemu.wait()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == '__main__':
    sys.exit(main())
