#!/usr/bin/python3
"""Writes the release's bill of materials as an SPDX 2.3 JSON document.

    sbom.py --version V --commit HASH --created EPOCH --out FILE.spdx.json
            --artifact NAME PATH                      (once per downloadable file)
            --program ARTIFACT FILE_NAME PATH MAP BUILD_DIR   (once per program in an artifact)

What a program contains is read from the build, not from a list: the link map (-Wl,-Map) names
every archive member and object file the linker took, and `ninja -t deps` names the headers each
of our objects was compiled from (header-only libraries leave no archive behind). Each file
outside the build and source folders is traced to its Debian package (dpkg -S) and that package's
installed version (dpkg-query). An archive named on the command line from which the linker took
nothing is not listed.

The document is deterministic: the same build gives the same bytes (its time is the commit's).
"""

import argparse
import hashlib
import json
import os
import re
import subprocess
import sys
import time
import uuid
from urllib.parse import quote

PRODUCT = 'Anti-Lauschkobold'
SUPPLIER = 'Organization: Quandrel Software GmbH'
MEMBER = re.compile(r'^(\S+\.a)\(([^)]+)\)(?:\s|$)')
LOAD = re.compile(r'^LOAD (\S+)$')
# Kernel headers only declare the system-call interface: nothing of them is compiled in.
DECLARATIONS_ONLY = ('linux-libc-dev',)


def linked_files(map_path, build_dir):
    """From a GNU ld map: (files of the system taken into the program, our objects taken in)."""
    system, ours = set(), set()
    archives_used = {}
    loaded = []
    with open(map_path, encoding='utf-8', errors='replace') as f:
        for line in f:
            line = line.rstrip('\n')
            member = MEMBER.match(line)
            if member:
                archives_used.setdefault(member.group(1), set()).add(member.group(2))
                continue
            load = LOAD.match(line)
            if load:
                loaded.append(load.group(1))
    for archive, members in archives_used.items():
        path = os.path.realpath(os.path.join(build_dir, archive))
        if is_inside(path, build_dir):
            ours.update(objects_of_archive(path, members, build_dir))
        else:
            system.add(path)
    for item in loaded:
        if item.endswith('.a') or item.startswith('-'):
            continue  # archives count only when a member was taken (above)
        path = os.path.realpath(os.path.join(build_dir, item))
        (ours if is_inside(path, build_dir) else system).add(path)
    return system, ours


def objects_of_archive(archive, members, build_dir):
    """The object files of one of our static libraries that the linker took. CMake keeps a
    library's objects below CMakeFiles/<name>.dir next to it; the archive knows only base names."""
    stem = os.path.basename(archive)[3:-2]  # lib<name>.a
    folder = os.path.join(os.path.dirname(archive), 'CMakeFiles', stem + '.dir')
    found = set()
    for root, _, files in os.walk(folder):
        for name in files:
            if name in members:
                found.add(os.path.realpath(os.path.join(root, name)))
    return found


def is_inside(path, folder):
    folder = os.path.realpath(folder)
    return path == folder or path.startswith(folder + os.sep)


def header_deps(build_dir):
    """{object path: [header paths]} from ninja's record of the last build."""
    out = subprocess.run(['ninja', '-C', build_dir, '-t', 'deps'], capture_output=True, text=True,
                         check=True).stdout
    deps, current = {}, None
    for line in out.splitlines():
        if line.startswith('    ') and current is not None:
            deps[current].append(line.strip())
        elif line and not line.startswith(' ') and ':' in line:
            current = os.path.realpath(os.path.join(build_dir, line.split(':', 1)[0]))
            deps[current] = []
    return deps


def headers_of(objects, build_dir, source_dir):
    """The headers from outside our own folders that the given objects were compiled from."""
    deps = header_deps(build_dir)
    headers = set()
    for obj in objects:
        for dep in deps.get(obj, []):
            path = os.path.realpath(os.path.join(build_dir, dep))
            if not is_inside(path, source_dir) and not is_inside(path, build_dir):
                headers.add(path)
    return headers


def owners(paths):
    """{path: Debian package} for the paths dpkg knows; one dpkg call for all of them."""
    if not paths:
        return {}
    result = subprocess.run(['dpkg', '-S'] + sorted(paths), capture_output=True, text=True)
    owner = {}
    for line in result.stdout.splitlines():
        package, _, path = line.partition(': ')
        # "pkg1, pkg2: path" when several packages share a folder; files have one owner.
        owner[path.strip()] = package.split(',')[0].strip()
    return owner


def package_facts(package):
    fields = '${Package}\t${Version}\t${Architecture}\t${source:Package}\t${source:Version}'
    out = subprocess.run(['dpkg-query', '-W', '-f=' + fields, package], capture_output=True,
                         text=True, check=True).stdout
    name, version, arch, source, source_version = out.split('\t')
    return {'package': name, 'version': version, 'arch': arch, 'source': source,
            'source_version': source_version}


def component(package, path):
    """The library a file belongs to, by the name people know it under."""
    base = os.path.basename(path)
    if base.startswith(('libstdc++', 'libsupc++')) or '/include/c++/' in path:
        return 'libstdc++'
    if base == 'libwinpthread.a' or ('mingw32' in path and base == 'libpthread.a'):
        return 'winpthreads'
    if base.startswith(('libgcc', 'crtbegin', 'crtend', 'crtfastmath')) or '/lib/gcc/' in path:
        return 'libgcc'
    if package.startswith('mingw-w64'):
        return 'MinGW-w64 runtime'
    if package.startswith('libc6'):
        return 'GNU C Library'
    if base.startswith('libcrypto') or package.startswith('libssl'):
        return 'OpenSSL libcrypto'
    if base.startswith('libhivex') or package.startswith('libhivex'):
        return 'hivex'
    if package.startswith('nlohmann-json'):
        return 'nlohmann-json'
    return package.split(':')[0]


def contents(map_path, build_dir, source_dir):
    """{(component, Debian package): {'files': set, 'linked': bool}} of one program."""
    build_dir = os.path.realpath(build_dir)
    system, ours = linked_files(map_path, build_dir)
    headers = headers_of(ours, build_dir, os.path.realpath(source_dir))
    owner = owners(system | headers)
    found = {}
    for path in sorted(system):
        if path not in owner:
            sys.exit('sbom: %s was linked but belongs to no Debian package' % path)
        key = (component(owner[path], path), owner[path])
        entry = found.setdefault(key, {'files': set(), 'linked': True})
        entry['files'].add(path)
    linked_packages = {package for _, package in found}
    linked_names = {name for name, _ in found}
    for path in sorted(headers):
        package = owner.get(path)
        if package is None:
            sys.exit('sbom: %s was compiled in but belongs to no Debian package' % path)
        name = component(package, path)
        # A linked library's own headers (the MinGW-w64 runtime's come in a package of their
        # own) add nothing to the list.
        if package.split(':')[0] in DECLARATIONS_ONLY or package in linked_packages or \
                name in linked_names:
            continue
        key = (name, package)
        entry = found.setdefault(key, {'files': set(), 'linked': False})
        entry['files'].add(path)
    return found


def describe_files(entry):
    if entry['linked']:
        return 'linked from ' + ', '.join(sorted({os.path.basename(f) for f in entry['files']}))
    return 'compiled in from %d of its headers' % len(entry['files'])


def spdx_id(*parts):
    return 'SPDXRef-' + '-'.join(
        re.sub(r'[^A-Za-z0-9.]+', '-', p.replace('+', 'x')).strip('-') for p in parts)


def digests(path):
    with open(path, 'rb') as f:
        data = f.read()
    return [{'algorithm': 'SHA1', 'checksumValue': hashlib.sha1(data).hexdigest()},
            {'algorithm': 'SHA256', 'checksumValue': hashlib.sha256(data).hexdigest()}]


def document(args):
    created = time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime(int(args.created)))
    name = '%s-%s' % (PRODUCT, args.version)
    namespace_id = uuid.uuid5(uuid.NAMESPACE_URL, '%s@%s' % (name, args.commit))
    doc = {
        'spdxVersion': 'SPDX-2.3',
        'dataLicense': 'CC0-1.0',
        'SPDXID': 'SPDXRef-DOCUMENT',
        'name': name,
        'documentNamespace': 'https://spdx.org/spdxdocs/%s-%s' % (name, namespace_id),
        'creationInfo': {'created': created,
                         'creators': ['Tool: scripts/release/sbom.py', SUPPLIER],
                         'comment': 'Built from commit %s.' % args.commit},
        'packages': [], 'files': [], 'relationships': []}
    packages, files, relationships = doc['packages'], doc['files'], doc['relationships']
    components = {}
    for artifact, path in args.artifact:
        artifact_id = spdx_id('Package', artifact)
        packages.append({
            'SPDXID': artifact_id, 'name': artifact, 'versionInfo': args.version,
            'packageFileName': os.path.basename(path), 'supplier': SUPPLIER,
            'downloadLocation': 'NOASSERTION', 'filesAnalyzed': False,
            'checksums': digests(path)[1:], 'licenseConcluded': 'NOASSERTION',
            'licenseDeclared': 'NOASSERTION', 'copyrightText': 'NOASSERTION',
            'primaryPackagePurpose': 'ARCHIVE'})
        relationships.append({'spdxElementId': 'SPDXRef-DOCUMENT',
                              'relationshipType': 'DESCRIBES', 'relatedSpdxElement': artifact_id})
    for artifact, file_name, path, map_path, build_dir in args.program:
        file_id = spdx_id('File', artifact, file_name)
        files.append({'SPDXID': file_id, 'fileName': './' + file_name, 'fileTypes': ['BINARY'],
                      'checksums': digests(path), 'licenseConcluded': 'NOASSERTION',
                      'copyrightText': 'NOASSERTION'})
        relationships.append({'spdxElementId': spdx_id('Package', artifact),
                              'relationshipType': 'CONTAINS', 'relatedSpdxElement': file_id})
        for (name, package), entry in sorted(contents(map_path, build_dir, args.source).items()):
            package_id = spdx_id('Package', name, package.split(':')[0])
            if package_id not in components:
                facts = package_facts(package)
                components[package_id] = {
                    'SPDXID': package_id, 'name': name, 'versionInfo': facts['version'],
                    'supplier': 'Organization: Debian',
                    'downloadLocation': 'https://snapshot.debian.org/package/%s/%s/' % (
                        facts['source'], quote(facts['source_version'], safe='.-~+:')),
                    'filesAnalyzed': False, 'licenseConcluded': 'NOASSERTION',
                    'licenseDeclared': 'NOASSERTION', 'copyrightText': 'NOASSERTION',
                    'externalRefs': [{
                        'referenceCategory': 'PACKAGE-MANAGER', 'referenceType': 'purl',
                        'referenceLocator': 'pkg:deb/debian/%s@%s?arch=%s' % (
                            facts['package'], quote(facts['version'], safe='.-~'),
                            facts['arch'])}],
                    'comment': 'From the Debian package %s %s.' % (facts['package'],
                                                                   facts['version'])}
            relationships.append({
                'spdxElementId': file_id,
                'relationshipType': 'STATIC_LINK' if entry['linked'] else 'CONTAINS',
                'relatedSpdxElement': package_id,
                'comment': describe_files(entry)})
    packages.extend(components[key] for key in sorted(components))
    return doc


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--version', required=True)
    parser.add_argument('--commit', required=True)
    parser.add_argument('--created', required=True, help='seconds since 1970 (UTC)')
    parser.add_argument('--source', required=True, help='the source folder')
    parser.add_argument('--artifact', nargs=2, action='append', default=[],
                        metavar=('NAME', 'PATH'))
    parser.add_argument('--program', nargs=5, action='append', default=[],
                        metavar=('ARTIFACT', 'FILE_NAME', 'PATH', 'MAP', 'BUILD_DIR'))
    parser.add_argument('--out', required=True)
    args = parser.parse_args()
    with open(args.out, 'w', encoding='utf-8') as f:
        json.dump(document(args), f, indent=2, ensure_ascii=False)
        f.write('\n')
    return 0


if __name__ == '__main__':
    sys.exit(main())
