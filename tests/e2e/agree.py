#!/usr/bin/python3
"""One agreement test: the model (lksim) and the real program on Wine play the same scenario and
must write the same transcript and reach the same final state.

    agree.py --scenario S.json --lksim LKSIM --wine-root DIR --program EXE --helper EXE
             [--program32 EXE --helper32 EXE] --fixtures DIR --work DIR

Scenario files of tests/e2e/scenarios may use one piece more than lksim knows,
{"fixture": "winsys32.sys"}: the bytes of a file of the simulated trojan (tests/e2e/fixtures, as
built). Both runners get the scenario with those pieces written out as hex.

What the two sides cannot share, and how it is compared:
- The prefix's own system files: a fresh Wine prefix has hundreds of libraries in system32 and
  some drivers, which the sweep counts and reads. lksim gets them too, as empty files under the
  same names (their content matches no expression: a match would show up as a difference), and
  they are left out of the state's file list.
- The text of a system error message (the uninstall error dialog): the model cannot know the
  system's wording, so both sides compare it as "<system error text>".
- The restart: Wine ends every process of the prefix within about 0.1 s of the request, so
  entries written after it may be missed by the user; after the shutdown line the Wine
  transcript must be a beginning of the model's (see wine_runner.py for the state).
Exit 0 when they agree, 1 when not (both transcripts and a diff are printed) or when an input is
missing (lksim, or the 32-bit program of a 64-bit Windows: the message names the cache variable
to set), 77 when this machine cannot run the scenario.
"""

import argparse
import difflib
import json
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import wine_runner  # noqa: E402

ERROR_HEAD = 'Die Deinstallation des Lauschkbolds ist fehlgechlagen!<br><br>'


def materialise(scenario, fixtures):
    for spec in scenario.get('files', {}).values():
        pieces = []
        for piece in spec.get('content', []):
            if 'fixture' in piece:
                pieces.append({'hex': (Path(fixtures) / piece['fixture']).read_bytes().hex()})
            else:
                pieces.append(piece)
        spec['content'] = pieces
    return scenario


def with_prefix_files(scenario, root, arch):
    """The scenario as lksim must see it: with the prefix's own libraries and drivers."""
    libraries, drivers = wine_runner.template_system_files(root, arch)
    model = json.loads(json.dumps(scenario))
    files = model.setdefault('files', {})
    known = {p.lower() for p in files}
    for name in libraries:
        path = 'C:\\windows\\system32\\' + name
        if path.lower() not in known:
            files[path] = {'content': []}
    for name in drivers:
        path = 'C:\\windows\\system32\\drivers\\' + name
        if path.lower() not in known:
            files[path] = {'content': []}
    return model


def normalise(lines, scenario_files):
    result = []
    wanted = {p.lower() for p in scenario_files}
    for line in lines:
        if 'dialog' in line and line['text'].startswith(ERROR_HEAD):
            line = dict(line, text=ERROR_HEAD + '<system error text>')
        if 'state' in line:
            state = dict(line['state'])
            # "Without regard to case" leaves the order of letters outside ASCII open.
            state['files'] = sorted((f for f in state['files'] if f.lower() in wanted),
                                    key=str.lower)
            line = {'state': state}
        result.append(line)
    return result


def compare(model, wine):
    """Differences as text, or an empty list."""
    shutdown_wine = next((i for i, line in enumerate(wine) if 'shutdown' in line), None)
    shutdown_model = next((i for i, line in enumerate(model) if 'shutdown' in line), None)
    if shutdown_wine is None or shutdown_model is None:
        return diff(model, wine)
    # Up to the request everything must agree; after it, Wine may have missed the tail of the
    # entries (the restart ends the processes); the final state must agree.
    problems = diff(model[:shutdown_model + 1], wine[:shutdown_wine + 1])
    tail_model = [x for x in model[shutdown_model + 1:] if 'state' not in x]
    tail_wine = [x for x in wine[shutdown_wine + 1:] if 'state' not in x]
    if tail_wine != tail_model[:len(tail_wine)]:
        problems += ['after the shutdown request:'] + diff(tail_model, tail_wine)
    problems += diff([x for x in model if 'state' in x], [x for x in wine if 'state' in x])
    return problems


# Known differences between the model and Windows, each a function that gives the transcript
# Windows would produce (or None where it does not apply). A test accepts the model's transcript
# or the corrected one, and says when it needed the correction. None at present: the program
# used to keep the last signature-checked file open, so its deletion failed on Windows; it now
# lets go of the file after the check, and the model marks files the program holds open.
KNOWN_DIFFERENCES = []


def diff(model, wine):
    a = [wine_runner.dump(x) for x in model]
    b = [wine_runner.dump(x) for x in wine]
    if a == b:
        return []
    return list(difflib.unified_diff(a, b, 'lksim', 'wine', lineterm='', n=2))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ('scenario', 'lksim', 'wine-root', 'program', 'helper', 'fixtures', 'work'):
        parser.add_argument('--' + name, required=True)
    parser.add_argument('--program32')
    parser.add_argument('--helper32')
    args = parser.parse_args()
    work = Path(args.work)
    work.mkdir(parents=True, exist_ok=True)
    with open(args.scenario, encoding='utf-8') as f:
        scenario = materialise(json.load(f), args.fixtures)
    try:
        arch, _, _ = wine_runner.plan(scenario, args.program, args.helper, args.program32,
                                      args.helper32)
    except wine_runner.CannotRun as e:
        print(f'agree: skipped: {e}', file=sys.stderr)
        return 77
    except wine_runner.MissingInput as e:
        print(f'agree: {e}', file=sys.stderr)
        return 1
    if not args.lksim or not Path(args.lksim).exists():
        where = f'{args.lksim} is missing' if args.lksim else 'is not set'
        print(f'agree: needs lksim of a native build: LK_LKSIM_EXECUTABLE {where} (configure with '
              '-DLK_LKSIM_EXECUTABLE=PATH; scripts/test-all.sh passes the native preset\'s)',
              file=sys.stderr)
        return 1

    wine_scenario = work / 'scenario.json'
    wine_scenario.write_text(json.dumps(scenario, ensure_ascii=False, indent=1), encoding='utf-8')
    model_scenario = work / 'scenario-lksim.json'
    model_scenario.write_text(json.dumps(with_prefix_files(scenario, args.wine_root, arch),
                                         ensure_ascii=False, indent=1), encoding='utf-8')

    model_run = subprocess.run([args.lksim, str(model_scenario)], capture_output=True, text=True)
    if model_run.returncode != 0:
        print(f'agree: lksim failed ({model_run.returncode}):\n{model_run.stderr}', file=sys.stderr)
        return 1
    (work / 'lksim.jsonl').write_text(model_run.stdout, encoding='utf-8')

    wine_run = subprocess.run([sys.executable, str(Path(__file__).resolve().parent /
                                                   'wine_runner.py'),
                               '--scenario', str(wine_scenario), '--wine-root', args.wine_root,
                               '--program', args.program, '--helper', args.helper,
                               *(['--program32', args.program32] if args.program32 else []),
                               *(['--helper32', args.helper32] if args.helper32 else []),
                               '--work', str(work), '--shots', str(work / 'screenshots')],
                              capture_output=True, text=True)
    (work / 'wine.jsonl').write_text(wine_run.stdout, encoding='utf-8')
    if wine_run.returncode == 77:
        print(wine_run.stderr, file=sys.stderr)
        return 77
    if wine_run.returncode != 0:
        print(f'agree: the Wine run failed ({wine_run.returncode}):\n{wine_run.stderr}',
              file=sys.stderr)
        return 1

    files = scenario.get('files', {}).keys()
    model = normalise([json.loads(x) for x in model_run.stdout.splitlines() if x], files)
    wine = normalise([json.loads(x) for x in wine_run.stdout.splitlines() if x], files)
    problems = compare(model, wine)
    notes = []
    if problems:
        for known in KNOWN_DIFFERENCES:
            corrected = known(model, scenario)
            if corrected is not None and not compare(corrected, wine):
                problems = []
                notes.append('known difference, the model is wrong here: ' +
                             ' '.join(known.__doc__.split()))
                break
    restart = work / 'restart.json'
    if restart.exists():
        report = json.loads(restart.read_text(encoding='utf-8'))
        if report['stillPresent']:
            problems.append('the restart left files that were registered for deletion: ' +
                            ', '.join(report['stillPresent']))
    report = ['--- wine transcript (screenshots in %s)' % (work / 'screenshots'),
              wine_run.stdout.rstrip('\n')]
    if problems:
        report += ['--- differences (lksim -> wine)'] + problems
    else:
        report += ['--- ' + note for note in notes] + ['--- lksim agrees']
    (work / 'agree.txt').write_text('\n'.join(report) + '\n', encoding='utf-8')
    print('\n'.join(report))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
