#!/usr/bin/python3
"""The release's bill of materials (scripts/release/sbom.py) on a small program built here.

    sbom_test.py --work DIR         build the program, write its document, check it
    sbom_test.py --document FILE    check the shape of an existing document (the release's)

The program is laid out as CMake lays out a build (objects below CMakeFiles/<target>.dir, a
static library of ours, ninja's header record) and linked statically with -Wl,-Map:
- main.cpp calls libcrypto; util.cpp, in our static library, compiles in nlohmann-json;
- unused.cpp, in the same library, includes hivex.h, and libhivex.a is on the link line, but
  nothing calls either: hivex must not be listed.
The document must have SPDX 2.3's required fields, list what was linked with the versions dpkg
reports for the packages that own the files, relate the program to each (STATIC_LINK for an
archive, CONTAINS for a header-only library), and be the same bytes when written twice.
Exit 0 when all hold, 1 when not.
"""

import argparse
import hashlib
import json
import os
import re
import subprocess
import sys
import textwrap
from pathlib import Path

SBOM = Path(__file__).resolve().parents[2] / 'scripts' / 'release' / 'sbom.py'
SPDX_ID = re.compile(r'^SPDXRef-[A-Za-z0-9.-]+$')
CREATED = re.compile(r'^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$')
RELATIONSHIPS = {'DESCRIBES', 'CONTAINS', 'STATIC_LINK', 'DYNAMIC_LINK', 'GENERATED_FROM'}


def shape_problems(doc):
    """What keeps a document from being well-formed SPDX 2.3 JSON (the fields this release uses
    and those the format requires)."""
    problems = []

    def need(where, obj, field, check=lambda v: v not in (None, '', [])):
        if field not in obj or not check(obj[field]):
            problems.append('%s: %s missing or wrong (%r)' % (where, field, obj.get(field)))

    need('document', doc, 'spdxVersion', lambda v: v == 'SPDX-2.3')
    need('document', doc, 'dataLicense', lambda v: v == 'CC0-1.0')
    need('document', doc, 'SPDXID', lambda v: v == 'SPDXRef-DOCUMENT')
    need('document', doc, 'name')
    need('document', doc, 'documentNamespace',
         lambda v: isinstance(v, str) and re.match(r'^https?://\S+$', v) and '#' not in v)
    need('document', doc, 'creationInfo', lambda v: isinstance(v, dict))
    info = doc.get('creationInfo') or {}
    need('creationInfo', info, 'created', lambda v: isinstance(v, str) and CREATED.match(v))
    need('creationInfo', info, 'creators', lambda v: isinstance(v, list) and v and all(
        isinstance(c, str) and c.split(': ', 1)[0] in ('Tool', 'Organization', 'Person')
        for c in v))
    need('document', doc, 'packages', lambda v: isinstance(v, list) and v)
    ids = {'SPDXRef-DOCUMENT'}
    for package in doc.get('packages', []):
        where = 'package %s' % package.get('name')
        need(where, package, 'SPDXID', lambda v: isinstance(v, str) and SPDX_ID.match(v))
        for field in ('name', 'versionInfo', 'downloadLocation', 'licenseConcluded',
                      'licenseDeclared', 'copyrightText'):
            need(where, package, field)
        need(where, package, 'filesAnalyzed', lambda v: v is False)  # no verification code
        if package.get('SPDXID') in ids:
            problems.append('%s: SPDXID %s used twice' % (where, package.get('SPDXID')))
        ids.add(package.get('SPDXID'))
    for file in doc.get('files', []):
        where = 'file %s' % file.get('fileName')
        need(where, file, 'SPDXID', lambda v: isinstance(v, str) and SPDX_ID.match(v))
        need(where, file, 'fileName', lambda v: isinstance(v, str) and v.startswith('./'))
        need(where, file, 'checksums', lambda v: any(c.get('algorithm') == 'SHA1' for c in v))
        ids.add(file.get('SPDXID'))
    need('document', doc, 'relationships', lambda v: isinstance(v, list) and v)
    for relation in doc.get('relationships', []):
        for end in ('spdxElementId', 'relatedSpdxElement'):
            if relation.get(end) not in ids:
                problems.append('relationship %r names an unknown element' % relation)
        if relation.get('relationshipType') not in RELATIONSHIPS:
            problems.append('relationship %r has an unknown type' % relation)
    if not any(r.get('spdxElementId') == 'SPDXRef-DOCUMENT' and
               r.get('relationshipType') == 'DESCRIBES' for r in doc.get('relationships', [])):
        problems.append('the document DESCRIBES nothing')
    return problems


def run(command, cwd=None):
    return subprocess.run(command, cwd=cwd, capture_output=True, text=True, check=True).stdout


def installed_version(path):
    """The version dpkg reports for the package that owns path."""
    package = run(['dpkg', '-S', os.path.realpath(path)]).split(':')[0].split(',')[0]
    return run(['dpkg-query', '-W', '-f=${Version}', package])


def build_program(work):
    src, build = work / 'src', work / 'build'
    src.mkdir(parents=True)
    (build / 'link-maps').mkdir(parents=True)
    (src / 'main.cpp').write_text(textwrap.dedent('''\
        #include <openssl/sha.h>
        int Util();
        int main() {
          unsigned char digest[SHA256_DIGEST_LENGTH];
          SHA256(reinterpret_cast<const unsigned char*>("x"), 1, digest);
          return Util() + (digest[0] == 0x2d ? 0 : 1);
        }
        '''))
    (src / 'util.cpp').write_text(textwrap.dedent('''\
        #include <nlohmann/json.hpp>
        int Util() { return nlohmann::json::parse("[1]").size() == 1 ? 0 : 1; }
        '''))
    (src / 'unused.cpp').write_text(textwrap.dedent('''\
        #include <hivex.h>
        int Unused() { return hivex_open("x", 0) == nullptr; }
        '''))
    (build / 'build.ninja').write_text(textwrap.dedent('''\
        rule cxx
          command = g++ -std=c++20 -O1 -MD -MF $out.d -c $in -o $out
          depfile = $out.d
          deps = gcc
        rule ar
          command = ar qc $out $in
        rule link
          command = g++ -static -o $out $in -Wl,-Map=link-maps/prog.map -l:libhivex.a -l:libcrypto.a -pthread
        build CMakeFiles/prog.dir/main.cpp.o: cxx ../src/main.cpp
        build util/CMakeFiles/util.dir/util.cpp.o: cxx ../src/util.cpp
        build util/CMakeFiles/util.dir/unused.cpp.o: cxx ../src/unused.cpp
        build util/libutil.a: ar util/CMakeFiles/util.dir/util.cpp.o util/CMakeFiles/util.dir/unused.cpp.o
        build prog: link CMakeFiles/prog.dir/main.cpp.o util/libutil.a
        '''))
    run(['ninja', '-C', str(build)])
    return src, build


def write_document(src, build, out):
    run([sys.executable, str(SBOM), '--version', '9.8.7.6', '--commit', 'f' * 40,
         '--created', '1700000000', '--source', str(src), '--artifact', 'kit', str(build / 'prog'),
         '--program', 'kit', 'prog', str(build / 'prog'), str(build / 'link-maps' / 'prog.map'),
         str(build), '--out', str(out)])
    return out.read_bytes()


def content_problems(doc, build):
    problems = []
    packages = {p['name']: p for p in doc['packages']}
    expected = {
        'OpenSSL libcrypto': '/usr/lib/x86_64-linux-gnu/libcrypto.a',
        'nlohmann-json': '/usr/include/nlohmann/json.hpp',
        'libstdc++': run(['g++', '-print-file-name=libstdc++.a']).strip(),
        'libgcc': run(['g++', '-print-file-name=libgcc.a']).strip(),
        'GNU C Library': run(['g++', '-print-file-name=libc.a']).strip(),
    }
    for name, path in expected.items():
        if name not in packages:
            problems.append('%s is linked but not listed' % name)
        elif packages[name]['versionInfo'] != installed_version(path):
            problems.append('%s: version %s, dpkg says %s' % (
                name, packages[name]['versionInfo'], installed_version(path)))
    if 'hivex' in packages:
        problems.append('hivex is listed although the linker took nothing from it')
    program = [f for f in doc.get('files', []) if f['fileName'] == './prog']
    if len(program) != 1:
        return problems + ['the program is not listed once as a file']
    sha256 = hashlib.sha256((build / 'prog').read_bytes()).hexdigest()
    if {'algorithm': 'SHA256', 'checksumValue': sha256} not in program[0]['checksums']:
        problems.append('the program\'s SHA-256 is not the file\'s')
    relation = {(r['spdxElementId'], r['relatedSpdxElement']): r['relationshipType']
                for r in doc['relationships']}
    for name, kind in (('OpenSSL libcrypto', 'STATIC_LINK'), ('nlohmann-json', 'CONTAINS')):
        if name in packages:
            got = relation.get((program[0]['SPDXID'], packages[name]['SPDXID']))
            if got != kind:
                problems.append('program to %s is %s, not %s' % (name, got, kind))
    if doc['creationInfo']['created'] != '2023-11-14T22:13:20Z':
        problems.append('created is %s, not the given time' % doc['creationInfo']['created'])
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--work')
    parser.add_argument('--document')
    args = parser.parse_args()
    if args.document:
        problems = shape_problems(json.loads(Path(args.document).read_text(encoding='utf-8')))
    else:
        work = Path(args.work)
        subprocess.run(['rm', '-rf', str(work)], check=True)
        src, build = build_program(work)
        first = write_document(src, build, work / 'first.spdx.json')
        second = write_document(src, build, work / 'second.spdx.json')
        doc = json.loads(first)
        problems = shape_problems(doc) + content_problems(doc, build)
        if first != second:
            problems.append('two runs on the same build wrote different documents')
    for problem in problems:
        print('FAILED:', problem)
    print('%d problems' % len(problems))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
