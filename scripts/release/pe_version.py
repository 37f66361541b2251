#!/usr/bin/python3
"""Reads the version block of a Windows executable back from the file, with no Windows tool.

    pe_version.py FILE...                   prints what each file says
    pe_version.py --expect VERSION FILE...  exit 1 unless each file says VERSION everywhere
                                            and carries no link time (--ignore-timestamp: a
                                            build that is not meant to be reproducible)

"Everywhere" is the fixed part's file and product version (four numbers), and the strings
FileVersion and ProductVersion of the first translation (the one Windows and the window show).
The header's link time must be 0 too: a time stamp would make two builds of one commit differ.
"""

import argparse
import struct
import sys

RT_VERSION = 16
RESOURCE_DIRECTORY = 2


class PeError(Exception):
    pass


class PeFile:
    """The headers and section table of one PE image, and reads at virtual addresses."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b'MZ':
            raise PeError('no MZ header')
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b'PE\0\0':
            raise PeError('no PE signature')
        self.machine, sections, self.timestamp, _, _, optional_size = struct.unpack_from(
            '<HHIIIH', data, pe + 4)
        optional = pe + 24
        magic = self.u16(optional)
        if magic == 0x10B:
            directories = optional + 96
        elif magic == 0x20B:
            directories = optional + 112
        else:
            raise PeError('unknown optional header 0x%x' % magic)
        self.resource_rva, self.resource_size = struct.unpack_from(
            '<II', data, directories + 8 * RESOURCE_DIRECTORY)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            virtual_size, rva, raw_size, raw_offset = struct.unpack_from(
                '<IIII', data, table + 40 * i + 8)
            self.sections.append((rva, max(virtual_size, raw_size), raw_offset))

    def u16(self, offset):
        return struct.unpack_from('<H', self.data, offset)[0]

    def u32(self, offset):
        return struct.unpack_from('<I', self.data, offset)[0]

    def offset_of(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise PeError('address 0x%x lies in no section' % rva)


def version_resource(pe):
    """The bytes of the first RT_VERSION resource (first name, first language), or None."""
    if pe.resource_rva == 0:
        return None
    root = pe.offset_of(pe.resource_rva)

    def entries(directory):
        named, numbered = struct.unpack_from('<HH', pe.data, directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from('<II', pe.data, directory + 16 + 8 * i)
            yield name, target

    def first_below(target):
        if not target & 0x80000000:
            raise PeError('resource tree too shallow')
        for _, below in entries(root + (target & 0x7FFFFFFF)):
            return below
        return None

    for name, target in entries(root):
        if name == RT_VERSION:
            language = first_below(target)
            leaf = language is not None and first_below(language)
            if leaf is None or leaf is False or leaf & 0x80000000:
                raise PeError('version resource without data')
            rva, size = struct.unpack_from('<II', pe.data, root + leaf)
            start = pe.offset_of(rva)
            return pe.data[start:start + size]
    return None


def read_block(data, offset):
    """One node of a version block: (key, value bytes, children (list), end offset)."""
    length, value_length, kind = struct.unpack_from('<HHH', data, offset)
    end = offset + length
    key_start = offset + 6
    key_end = key_start
    while data[key_end:key_end + 2] != b'\0\0':
        key_end += 2
    key = data[key_start:key_end].decode('utf-16-le')
    value_start = (key_end + 2 + 3) & ~3
    value_bytes = value_length * 2 if kind == 1 else value_length
    value = data[value_start:value_start + value_bytes]
    children = []
    child = (value_start + value_bytes + 3) & ~3
    while child < end:
        node = read_block(data, child)
        children.append(node)
        child = (node[3] + 3) & ~3
    return key, value, children, end


def describe(path):
    """What the file's header and version block say, as a dict."""
    with open(path, 'rb') as f:
        pe = PeFile(f.read())
    info = {'machine': {0x14C: 'i386', 0x8664: 'amd64'}.get(pe.machine, hex(pe.machine)),
            'timestamp': pe.timestamp}
    block = version_resource(pe)
    if block is None:
        return info
    key, fixed, children, _ = read_block(block, 0)
    if key != 'VS_VERSION_INFO' or len(fixed) < 52 or fixed[:4] != b'\xbd\x04\xef\xfe':
        raise PeError('malformed version block')
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from('<IIII', fixed, 8)

    def dotted(ms, ls):
        return '%d.%d.%d.%d' % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    info['fixed_file_version'] = dotted(file_ms, file_ls)
    info['fixed_product_version'] = dotted(product_ms, product_ls)
    for name, _, tables, _ in children:
        if name == 'StringFileInfo' and tables:
            translation, _, strings, _ = tables[0]
            info['translation'] = translation
            for string_name, value, _, _ in strings:
                info[string_name] = value.decode('utf-16-le').split('\0')[0]
    return info


def mismatches(info, expected, check_timestamp=True):
    """What in one file's description disagrees with the expected version."""
    wrong = []
    for field in ('fixed_file_version', 'fixed_product_version', 'FileVersion', 'ProductVersion'):
        if info.get(field) != expected:
            wrong.append('%s is %r, not %r' % (field, info.get(field), expected))
    if check_timestamp and info['timestamp'] != 0:
        wrong.append('the header carries a link time (0x%x)' % info['timestamp'])
    return wrong


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--expect')
    parser.add_argument('--ignore-timestamp', action='store_true')
    parser.add_argument('files', nargs='+')
    args = parser.parse_args()
    status = 0
    for path in args.files:
        try:
            info = describe(path)
        except (OSError, PeError, struct.error, UnicodeDecodeError) as e:
            print('%s: not a readable Windows executable: %s' % (path, e), file=sys.stderr)
            status = 1
            continue
        if args.expect is None:
            for field, value in info.items():
                print('%s: %s = %s' % (path, field, value))
            continue
        for problem in mismatches(info, args.expect, not args.ignore_timestamp):
            print('%s: %s' % (path, problem), file=sys.stderr)
            status = 1
    return status


if __name__ == '__main__':
    sys.exit(main())
