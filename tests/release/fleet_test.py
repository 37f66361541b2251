#!/usr/bin/python3
"""The fleet recipes (scripts/release/fleet.py over scripts/release/fleet/), made from a fake
lkscan.exe, as far as they can be checked without the engines:

- the Velociraptor artifact parses as YAML, has only the fields of Velociraptor's artifact
  format, the documented name, a Remove parameter, the tool with expected_hash equal to the
  program's SHA-256, and a query that fetches, runs, uploads and parses as documented;
- the Ansible playbook passes `ansible-playbook --syntax-check` and checks the same hash;
- the Intune scripts are UTF-8 without a byte-order mark (ASCII) and do nothing but start
  lkscan and pass on its exit code and last line;
- the README names the hash and the ConfigMgr and Group Policy command lines;
- a template with a placeholder left makes the generator fail.

    fleet_test.py --work DIR [--lkscan lkscan.exe]

Exit 0 when all hold, 1 when not.
"""

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import yaml

TOP = Path(__file__).resolve().parents[2]
GENERATOR = TOP / 'scripts' / 'release' / 'fleet.py'

# Velociraptor's artifact format: the fields an artifact definition may have.
ARTIFACT_FIELDS = {'name', 'description', 'author', 'reference', 'references', 'type',
                   'precondition', 'parameters', 'tools', 'sources', 'export', 'imports',
                   'column_types', 'required_permissions', 'implied_permissions', 'resources',
                   'aliases', 'level'}
TOOL_FIELDS = {'name', 'url', 'github_project', 'github_asset_regex', 'serve_locally',
               'expected_hash', 'version', 'filename', 'serve_url'}
PARAMETER_FIELDS = {'name', 'type', 'default', 'description', 'friendly_name', 'choices',
                    'validating_regex'}
SOURCE_FIELDS = {'name', 'description', 'precondition', 'query', 'notebook'}

# Every statement an Intune script may hold: the console's encoding for lkscan's UTF-8, the
# program's path, one start of lkscan, its exit code, its last line, the exit.
PS_STATEMENTS = [
    r"\[Console\]::OutputEncoding = \[System\.Text\.Encoding\]::UTF8",
    r"\$lkscan = Join-Path \$env:ProgramFiles 'Anti-Lauschkobold\\lkscan\.exe'",
    r"\$output = & \$lkscan(?P<args>( --[a-z-]+)*)",
    r"\$code = \$LASTEXITCODE",
    r"if \(\$output\) \{ Write-Output @\(\$output\)\[-1\] \}",
    r"exit \$code",
]

failures = []


def expect(condition, message):
    if not condition:
        failures.append(message)


def check_artifact(path, sha256):
    artifact = yaml.safe_load(path.read_text(encoding='utf-8'))
    expect(isinstance(artifact, dict), 'the artifact is no mapping')
    if not isinstance(artifact, dict):
        return
    expect(set(artifact) <= ARTIFACT_FIELDS,
           f'artifact fields outside the format: {set(artifact) - ARTIFACT_FIELDS}')
    expect(artifact.get('name') == 'Windows.Detection.AntiLauschkobold',
           f'artifact name {artifact.get("name")}')
    expect(artifact.get('type') == 'CLIENT', 'the artifact is not a CLIENT artifact')
    tools = artifact.get('tools') or []
    expect(len(tools) == 1, f'tools: {tools}')
    tool = tools[0] if tools else {}
    expect(set(tool) <= TOOL_FIELDS, f'tool fields outside the format: {set(tool) - TOOL_FIELDS}')
    expect(tool.get('expected_hash') == sha256,
           f'expected_hash {tool.get("expected_hash")!r} is not the program\'s {sha256}')
    parameters = {p.get('name'): p for p in artifact.get('parameters') or []}
    for parameter in parameters.values():
        expect(set(parameter) <= PARAMETER_FIELDS, f'parameter fields: {set(parameter)}')
    expect(parameters.get('Remove', {}).get('type') == 'bool', 'no bool parameter Remove')
    expect(parameters.get('Remove', {}).get('default') in ('N', False),
           'Remove is not off by default')
    sources = artifact.get('sources') or []
    expect(len(sources) >= 1, 'no source')
    for source in sources:
        expect(set(source) <= SOURCE_FIELDS, f'source fields: {set(source)}')
    query = '\n'.join(s.get('query', '') for s in sources)
    for needed in ['Artifact.Generic.Utils.FetchBinary', f'ToolName="{tool.get("name")}"',
                   'execve(', 'upload(', 'parse_jsonl(', 'condition=Remove']:
        expect(needed in query, f'the query lacks {needed}')
    scan, remove = artifact_argv(query)
    expect(scan == ['TOOL', '--output', 'REPORT'], f'the scan runs {scan}')
    expect(remove == ['TOOL', '--remove', '--output', 'REPORT'], f'the removal runs {remove}')


def artifact_argv(query):
    """The two command lines of the query, the tool's path as TOOL and the report as REPORT."""
    found = {}
    for name in ('ScanArgv', 'RemoveArgv'):
        match = re.search(name + r' <= \((.*?)\)\n', query)
        if not match:
            found[name] = None
            continue
        words = []
        for word in match.group(1).split(','):
            word = word.strip()
            words.append({'Tool[0].OSPath': 'TOOL', 'Report': 'REPORT'}.get(
                word, word[1:-1] if word.startswith('"') else '?' + word))
        found[name] = words
    return found['ScanArgv'], found['RemoveArgv']


def check_powershell(path, sha256, arguments):
    raw = path.read_bytes()
    expect(not raw.startswith(b'\xef\xbb\xbf'), f'{path.name} starts with a byte-order mark')
    expect(raw.isascii(), f'{path.name} is not ASCII (PowerShell 5.1 would misread it)')
    expect(sha256.encode() in raw, f'{path.name} does not name the release\'s hash')
    statements = [line.strip() for line in raw.decode('ascii', 'replace').splitlines()
                  if line.strip() and not line.strip().startswith('#')]
    expect(len(statements) == len(PS_STATEMENTS),
           f'{path.name} has {len(statements)} statements, not {len(PS_STATEMENTS)}')
    for statement, pattern in zip(statements, PS_STATEMENTS):
        match = re.fullmatch(pattern, statement)
        expect(match is not None, f'{path.name}: "{statement}" is not "{pattern}"')
        if match and 'args' in match.groupdict():
            expect(match.group('args').split() == arguments,
                   f'{path.name} starts lkscan with {match.group("args")!r}')


def check_playbook(path, sha256, work):
    playbook = yaml.safe_load(path.read_text(encoding='utf-8'))
    expect(playbook[0]['vars']['lkscan_sha256'] == sha256, 'the playbook checks another hash')
    modules = []

    def collect(tasks):
        for task in tasks:
            modules.extend(k for k in task if k.startswith('ansible.'))
            for part in ('block', 'always', 'rescue'):
                collect(task.get(part, []))

    collect(playbook[0]['tasks'])
    # Copies, checks, runs (with an argv) and fetches.
    for needed in ['ansible.windows.win_copy', 'ansible.windows.win_stat',
                   'ansible.windows.win_command', 'ansible.builtin.fetch']:
        expect(needed in modules, f'the playbook does not use {needed}')
    expect('argv:' in path.read_text(encoding='utf-8'), 'win_command is not given an argv')
    home = work / 'ansible-home'
    home.mkdir(exist_ok=True)
    env = dict(os.environ, HOME=str(home), ANSIBLE_HOME=str(home),
               ANSIBLE_LOCAL_TEMP=str(home / 'tmp'), ANSIBLE_NOCOLOR='1')
    checked = subprocess.run(['ansible-playbook', '--syntax-check', '-i', 'localhost,',
                              str(path)], env=env, capture_output=True, text=True, timeout=300)
    expect(checked.returncode == 0,
           f'ansible-playbook --syntax-check: exit {checked.returncode}\n{checked.stdout}'
           f'{checked.stderr}')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--work', required=True)
    parser.add_argument('--lkscan', help='the program (a fake one by default)')
    args = parser.parse_args()
    work = Path(args.work)
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)

    program = Path(args.lkscan) if args.lkscan else work / 'lkscan.exe'
    if not args.lkscan:
        program.write_bytes(b'MZ fake lkscan for the recipes\x00' * 7)
    sha256 = hashlib.sha256(program.read_bytes()).hexdigest()
    out = work / 'fleet'
    made = subprocess.run([sys.executable, str(GENERATOR), '--lkscan', str(program),
                           '--version', '9.8.7', '--out', str(out)], capture_output=True, text=True)
    expect(made.returncode == 0, f'fleet.py failed: {made.stderr}')
    names = sorted(p.name for p in out.iterdir()) if out.exists() else []
    expect(names == ['Detect-AntiLauschkobold.ps1', 'README.md',
                     'Remediate-AntiLauschkobold.ps1', 'Windows.Detection.AntiLauschkobold.yaml',
                     'lkscan-playbook.yml'], f'the recipes are {names}')
    for name in names:
        text = (out / name).read_text(encoding='utf-8')
        expect('@' + 'VERSION@' not in text and '9.8.7' in text, f'{name}: no version filled in')

    if not failures:
        check_artifact(out / 'Windows.Detection.AntiLauschkobold.yaml', sha256)
        check_powershell(out / 'Detect-AntiLauschkobold.ps1', sha256, [])
        check_powershell(out / 'Remediate-AntiLauschkobold.ps1', sha256, ['--remove'])
        check_playbook(out / 'lkscan-playbook.yml', sha256, work)
        readme = (out / 'README.md').read_text(encoding='utf-8')
        expect(sha256 in readme, 'the README does not name the hash')
        for line in ['lkscan.exe --eventlog --output "%ProgramData%\\Anti-Lauschkobold\\befund.jsonl"',
                     '--eventlog --output %ProgramData%\\Anti-Lauschkobold\\befund.jsonl']:
            expect(line in readme, f'the README lacks the command line {line}')
        expect('not run' in readme.lower(), 'the README does not say what was not run')

    # A placeholder the generator does not know is refused, not shipped.
    templates = work / 'templates'
    shutil.copytree(GENERATOR.parent, templates / 'release')
    (templates / 'release' / 'fleet' / 'extra.ps1').write_text('# @UNKNOWN@\n')
    refused = subprocess.run([sys.executable, str(templates / 'release' / 'fleet.py'), '--lkscan',
                              str(program), '--version', '1', '--out', str(work / 'refused')],
                             capture_output=True, text=True)
    expect(refused.returncode == 1, 'a template with an unknown placeholder was filled in')

    for failure in failures:
        print(f'FAILED: {failure}')
    if not failures:
        print('fleet recipes: artifact, playbook, Intune scripts and README as documented')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
