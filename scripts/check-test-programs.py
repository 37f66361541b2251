#!/usr/bin/python3
"""Every program that a test driver or a script of the project starts must be there on a fresh
machine: built by the project, shipped by a Debian package that scripts/install-deps.sh installs
(its packages= and optional= arrays, or one those depend on), or part of Debian's base system
(priority "required").

The rescue medium's scripts install more (install-deps.sh --rescue, its rescue= array): a file
that names that command may also start what those packages ship. The test command does not
install them, so where they are not installed here, what such a file starts and this machine
lacks cannot be checked; it is counted and told apart, and is no failure.

    check-test-programs.py [--top DIR] [--install-deps FILE] [--verbose]

It reads, without running anything:
- Python files under tests/ and scripts/: the programs of subprocess calls (also through a
  function of the same file that hands its argument on to subprocess), shutil.which() names;
- shell scripts under tests/ and scripts/ (and .ci/run): the first word of every simple command,
  also inside $(...), `...`, bash -c '...', after env/exec/timeout/setsid and the like, and after
  a function of the same file that runs "$@";
- CMakeLists.txt: the COMMAND of every add_test.

A program given by a variable ($x, args.x) is the caller's to check and is passed over; a path
into the repository is the project's own. Prints one line per program it cannot account for,
naming the file and line that starts it, and exits 1 then; exits 0 when every program is
accounted for. It asks dpkg, so the packages must be installed (it runs after install-deps.sh).
"""

import argparse
import ast
import os
import re
import subprocess
import sys
from pathlib import Path

SHELL_KEYWORDS = {
    'if', 'then', 'else', 'elif', 'fi', 'for', 'while', 'until', 'do', 'done', 'case', 'esac',
    'in', 'function', 'select', 'time', '!', '{', '}', '[[', ']]', 'coproc',
}
SHELL_BUILTINS = {
    '.', ':', '[', 'alias', 'bg', 'bind', 'break', 'builtin', 'caller', 'cd', 'command',
    'compgen', 'complete', 'continue', 'declare', 'dirs', 'disown', 'echo', 'enable', 'eval',
    'exec', 'exit', 'export', 'false', 'fc', 'fg', 'getopts', 'hash', 'help', 'history', 'jobs',
    'kill', 'let', 'local', 'logout', 'mapfile', 'popd', 'printf', 'pushd', 'pwd', 'read',
    'readarray', 'readonly', 'return', 'set', 'shift', 'shopt', 'source', 'suspend', 'test',
    'times', 'trap', 'true', 'type', 'typeset', 'ulimit', 'umask', 'unalias', 'unset', 'wait',
}
# Programs that run the next word as a program, and how many of their own arguments come first
# (options are skipped as well). chroot is not one of them: what it starts comes from the root it
# enters (the rescue medium's live system, whose packages rescue.sh lists), not from this machine.
WRAPPERS = {'env': 0, 'exec': 0, 'command': 0, 'nohup': 0, 'setsid': 0, 'nice': 0, 'sudo': 0,
            'timeout': 1, 'flock': 1, 'xargs': 0, 'stdbuf': 0, 'setpriv': 0}
SUBPROCESS_CALLS = {'run', 'Popen', 'call', 'check_call', 'check_output'}


class Start:
    """A program started by a file of the project: its name as written, and where."""

    def __init__(self, program, path, line):
        self.program, self.path, self.line = program, path, line


# --- Python ---------------------------------------------------------------------------------------

def _is_subprocess_call(node):
    func = node.func
    return (isinstance(func, ast.Attribute) and func.attr in SUBPROCESS_CALLS and
            isinstance(func.value, ast.Name) and func.value.id == 'subprocess')


def _first_of(expr):
    """The expression that names the program in a command expression: [prog, ...],
    [prog] + rest, or the command itself."""
    if isinstance(expr, (ast.List, ast.Tuple)) and expr.elts:
        return expr.elts[0]
    if isinstance(expr, ast.BinOp) and isinstance(expr.op, ast.Add):
        return _first_of(expr.left)
    return None


class _PythonFile:
    def __init__(self, path, text):
        self.path = path
        self.tree = ast.parse(text, filename=str(path))
        self.assignments = {}  # name -> [value expressions]
        self.forwarders = {}  # function name -> (parameter index, 'command' | 'program')
        for node in ast.walk(self.tree):
            if isinstance(node, ast.Assign):
                for target in node.targets:
                    if isinstance(target, ast.Name):
                        self.assignments.setdefault(target.id, []).append(node.value)
        for node in ast.walk(self.tree):
            if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef)):
                self._note_forwarder(node)

    def _note_forwarder(self, function):
        parameters = [a.arg for a in function.args.args]
        if parameters and parameters[0] == 'self':
            parameters = parameters[1:]
        for node in ast.walk(function):
            if not (isinstance(node, ast.Call) and _is_subprocess_call(node) and node.args):
                continue
            command = node.args[0]
            if isinstance(command, ast.Name) and command.id in parameters:
                self.forwarders[function.name] = (parameters.index(command.id), 'command')
            first = _first_of(command)
            if isinstance(first, ast.Name) and first.id in parameters:
                self.forwarders[function.name] = (parameters.index(first.id), 'program')

    def _programs_of(self, expr, seen=()):
        """The program names an expression may hold: string constants, directly or through a
        plain assignment in the file, or shutil.which('name')."""
        if isinstance(expr, ast.Constant) and isinstance(expr.value, str):
            return [expr.value]
        if isinstance(expr, ast.Call) and isinstance(expr.func, ast.Attribute) and \
                expr.func.attr == 'which' and expr.args:
            return self._programs_of(expr.args[0], seen)
        if isinstance(expr, ast.Name) and expr.id not in seen:
            result = []
            for value in self.assignments.get(expr.id, []):
                if isinstance(value, (ast.List, ast.Tuple, ast.BinOp)):
                    continue
                result += self._programs_of(value, seen + (expr.id,))
            return result
        return []

    def _commands_of(self, expr, seen=()):
        first = _first_of(expr)
        if first is not None:
            return self._programs_of(first, seen)
        if isinstance(expr, ast.Name) and expr.id not in seen:
            result = []
            for value in self.assignments.get(expr.id, []):
                result += self._commands_of(value, seen + (expr.id,))
            return result
        return []

    def starts(self):
        for node in ast.walk(self.tree):
            if not isinstance(node, ast.Call):
                continue
            names = []
            if _is_subprocess_call(node) and node.args:
                names = self._commands_of(node.args[0])
            elif isinstance(node.func, ast.Attribute) and node.func.attr == 'which' and \
                    isinstance(node.func.value, ast.Name) and node.func.value.id == 'shutil':
                names = self._programs_of(node.args[0]) if node.args else []
            else:
                called = node.func.id if isinstance(node.func, ast.Name) else \
                    node.func.attr if isinstance(node.func, ast.Attribute) else None
                if called in self.forwarders:
                    index, kind = self.forwarders[called]
                    if index < len(node.args):
                        argument = node.args[index]
                        names = self._commands_of(argument) if kind == 'command' else \
                            self._programs_of(argument)
            for name in names:
                yield Start(name, self.path, node.lineno)


# --- shell ----------------------------------------------------------------------------------------

class _ShellScanner:
    """Splits a shell script into simple commands (lists of words with their line), following
    quotes, command substitutions, here-documents and case patterns well enough to find each
    command's first word. Words that hold an expansion keep a '$' so they are passed over."""

    def __init__(self, text):
        self.text = text
        self.commands = []  # [(line, [words])]
        self.functions = set()

    def scan(self):
        self._list(0, None, 1)
        return self

    def _list(self, i, closer, line):
        text, words, word, start_line = self.text, [], None, line
        in_case = 0
        expect_pattern = False
        heredocs = []

        def end_word():
            nonlocal word
            if word is not None:
                words.append(word)
                word = None

        def end_command():
            nonlocal words, expect_pattern, in_case
            end_word()
            if words:
                if words[0] == 'case' and words[-1] == 'in':
                    in_case += 1
                    expect_pattern = True
                else:
                    self._command(start_line, words)
            words = []

        while i < len(text):
            c = text[i]
            if expect_pattern and c not in ' \t\n' and word is None and not words:
                # A case clause's pattern ("a | b)"), or the esac that ends the case.
                if re.match(r'esac\b', text[i:]):
                    in_case -= 1
                    expect_pattern = False
                    i += 4
                    continue
                close = text.find(')', i + 1 if c == '(' else i)
                close = len(text) if close < 0 else close
                line += text.count('\n', i, close)
                i = close + 1
                expect_pattern = False
                continue
            if closer and c == closer:
                end_command()
                return i + 1, line
            if c == '\n':
                end_command()
                line += 1
                i += 1
                for delimiter in heredocs:
                    while i < len(text):
                        end = text.find('\n', i)
                        end = len(text) if end < 0 else end
                        body = text[i:end].lstrip('\t')
                        i = end + 1
                        line += 1
                        if body == delimiter:
                            break
                heredocs = []
                start_line = line
                continue
            if c in ' \t':
                end_word()
                i += 1
                continue
            if c == '\\' and i + 1 < len(text):
                if text[i + 1] == '\n':
                    line += 1
                else:
                    word = (word or '') + text[i + 1]
                i += 2
                continue
            if c == '#' and word is None:
                end = text.find('\n', i)
                i = len(text) if end < 0 else end
                continue
            if c == "'":
                end = text.find("'", i + 1)
                end = len(text) if end < 0 else end
                word = (word or '') + text[i + 1:end]
                line += text.count('\n', i, end)
                i = end + 1
                continue
            if c == '"':
                i, line, part = self._double_quoted(i + 1, line)
                word = (word or '') + part
                continue
            if c == '`':
                end = text.find('`', i + 1)
                end = len(text) if end < 0 else end
                inner = _ShellScanner(text[i + 1:end])
                inner.scan()
                self.commands += [(line + n - 1, w) for n, w in inner.commands]
                line += text.count('\n', i, end)
                word = (word or '') + '$'
                i = end + 1
                continue
            if c == '$' and text.startswith('$((', i):
                end = text.find('))', i)
                end = len(text) if end < 0 else end
                word = (word or '') + '$'
                i = end + 2
                continue
            if c == '$' and text.startswith('$(', i):
                i, line = self._list(i + 2, ')', line)
                word = (word or '') + '$'
                continue
            if c == '$' and text.startswith('${', i):
                end = text.find('}', i)
                end = len(text) if end < 0 else end
                word = (word or '') + '$'
                i = end + 1
                continue
            if c == '<' and text.startswith('<<', i) and not text.startswith('<<<', i):
                match = re.match(r"<<-?\s*(['\"]?)([A-Za-z_][A-Za-z0-9_]*)\1", text[i:])
                if match:
                    heredocs.append(match.group(2))
                    end_word()
                    i += match.end()
                    continue
            if c in '<>':
                # A redirection: its target is no command word.
                end_word()
                j = i + 1
                while j < len(text) and text[j] in '<>&|':
                    j += 1
                while j < len(text) and text[j] in ' \t':
                    j += 1
                k = j
                while k < len(text) and text[k] not in ' \t\n;|&)':
                    k += 1
                if words and re.fullmatch(r'\d+', words[-1] or ''):
                    words.pop()
                i = k
                continue
            if c == '(' and text.startswith('((', i) and word is None and not words:
                end = text.find('))', i)
                end = len(text) if end < 0 else end
                i = end + 2
                continue
            if c == '(' and word is not None and word.endswith('='):
                # An array assignment: its elements are no commands.
                depth, j = 1, i + 1
                while j < len(text) and depth:
                    depth += {'(': 1, ')': -1}.get(text[j], 0)
                    j += 1
                line += text.count('\n', i, j)
                word += '()'
                i = j
                continue
            if c in ';&|()':
                if c == '(' and word is not None and not words and text.startswith(')', i + 1):
                    self.functions.add(word)
                    word = None
                    i += 2
                    continue
                end_command()
                if text.startswith(';;', i):
                    expect_pattern = in_case > 0
                    i += 2
                    continue
                i += 1
                continue
            word = (word or '') + c
            i += 1
        end_command()
        return i, line

    def _double_quoted(self, i, line):
        text, part = self.text, ''
        while i < len(text) and text[i] != '"':
            if text[i] == '\\' and i + 1 < len(text):
                part += text[i + 1]
                i += 2
                continue
            if text.startswith('$(', i) and not text.startswith('$((', i):
                i, line = self._list(i + 2, ')', line)
                part += '$'
                continue
            if text[i] == '`':
                end = text.find('`', i + 1)
                end = len(text) if end < 0 else end
                inner = _ShellScanner(text[i + 1:end])
                inner.scan()
                self.commands += [(line + n - 1, w) for n, w in inner.commands]
                i = end + 1
                part += '$'
                continue
            if text[i] == '$':
                part += '$'
            if text[i] == '\n':
                line += 1
            part += text[i]
            i += 1
        return i + 1, line, part

    def _command(self, line, words):
        while words and words[0] in ('!', 'then', 'do', 'else', 'elif', 'if', 'while', 'until',
                                     'time', '{', '}'):
            words = words[1:]
        if len(words) >= 2 and words[0] == 'function':
            self.functions.add(words[1].rstrip('()'))
            return
        if words and words[0].endswith('()'):
            self.functions.add(words[0][:-2])
            return
        if words:
            self.commands.append((line, words))


def _assignment(word):
    return re.match(r'^[A-Za-z_][A-Za-z0-9_]*(\[[^]]*\])?\+?=', word) is not None


def _runners(text):
    """The functions of a shell script that run their arguments ("$@") as a command, with how
    many leading arguments they shift off first."""
    runners = {}
    for name, body in re.findall(r'(?m)^\s*([A-Za-z_][A-Za-z0-9_-]*)\s*\(\)\s*\{(.*?)^\}',
                                 text, re.S):
        if re.search(r'(^|[\s;])(if\s+|!\s*)?"\$@"', body):
            runners[name] = len(re.findall(r'\bshift\b', body.split('"$@"')[0]))
    one_liners = re.findall(r'(?m)^\s*([A-Za-z_][A-Za-z0-9_-]*)\s*\(\)\s*\{([^\n]*)\}', text)
    for name, body in one_liners:
        if '"$@"' in body:
            runners.setdefault(name, len(re.findall(r'\bshift\b', body.split('"$@"')[0])))
    return runners


def _shell_programs(text, project_functions=frozenset(), project_runners=None):
    """[(line, program)] of a shell script; project_functions and project_runners are the
    functions that the project's scripts define (a script may call one of a file it sources)."""
    scanner = _ShellScanner(text).scan()
    runners = dict(project_runners or {})
    runners.update(_runners(text))
    result = []
    for line, words in scanner.commands:
        result += _programs_of_words(words, line, scanner.functions | project_functions, runners)
    return result


def _programs_of_words(words, line, functions, runners):
    i = 0
    while i < len(words) and _assignment(words[i]):
        i += 1
    while i < len(words):
        word = words[i]
        if word in runners:
            i += 1 + runners[word]
            continue
        if word in WRAPPERS:
            skip = WRAPPERS[word]
            i += 1
            while i < len(words) and (words[i].startswith('-') or _assignment(words[i])):
                i += 1
            i += skip
            continue
        break
    if i >= len(words):
        return []
    program = words[i]
    if program in ('bash', 'sh') and i + 2 < len(words) and words[i + 1] == '-c':
        inner = []
        for inner_line, program_of_inner in _shell_programs(words[i + 2], frozenset(functions),
                                                            runners):
            inner.append((line, program_of_inner))
        return [(line, program)] + inner
    if '$' in program or program in SHELL_KEYWORDS or program in SHELL_BUILTINS or \
            program in functions or program in runners or not program:
        return []
    if program.startswith('-') or '=' in program:
        return []
    return [(line, program)]


# --- CMake ----------------------------------------------------------------------------------------

def _cmake_programs(text):
    result = []
    for match in re.finditer(r'add_test\s*\((.*?)\)', text, re.S):
        words = match.group(1).split()
        if 'COMMAND' in words:
            index = words.index('COMMAND') + 1
            if index < len(words):
                line = text.count('\n', 0, match.start()) + 1
                result.append((line, words[index]))
    return result


def _built_targets(top):
    names = set()
    for cmake in top.rglob('CMakeLists.txt'):
        if 'build' in cmake.relative_to(top).parts[:1]:
            continue
        for match in re.finditer(r'(?:add_executable|lk_add_test)\s*\(\s*([A-Za-z0-9_.${}-]+)',
                                 cmake.read_text(errors='replace')):
            names.add(match.group(1))
    return names


# --- packages -------------------------------------------------------------------------------------

def _installed_packages():
    """{name: (priority, essential, [dependency groups], [provided names])} of every installed
    package; a group is a list of alternatives."""
    out = subprocess.run(['dpkg-query', '-W', '-f',
                          '${Package}\\t${Status}\\t${Priority}\\t${Essential}\\t${Depends}\\t'
                          '${Pre-Depends}\\t${Provides}\\n'],
                         capture_output=True, text=True).stdout
    packages = {}
    for row in out.splitlines():
        fields = row.split('\t')
        if len(fields) < 7 or 'install ok installed' not in fields[1]:
            continue
        name, _, priority, essential, depends, pre_depends, provides = fields[:7]
        groups = []
        for group in filter(None, (g.strip() for g in (depends + ',' + pre_depends).split(','))):
            groups.append([re.split(r'[\s(:]', alt.strip())[0] for alt in group.split('|')])
        provided = [re.split(r'[\s(:]', p.strip())[0] for p in provides.split(',') if p.strip()]
        packages[name] = (priority, essential == 'yes', groups, provided)
    return packages


def _closure(roots, packages):
    providers = {}
    for name, (_, _, _, provided) in packages.items():
        for p in provided:
            providers.setdefault(p, []).append(name)
    seen, todo = set(), list(roots)
    while todo:
        name = todo.pop()
        candidates = [name] if name in packages else providers.get(name, [])
        for candidate in candidates:
            if candidate in seen:
                continue
            seen.add(candidate)
            for group in packages[candidate][2]:
                todo += [alt for alt in group if alt in packages or alt in providers]
    return seen


def _install_list(install_deps, arrays):
    text = install_deps.read_text()
    names = []
    for array in arrays:
        match = re.search(array + r'=\((.*?)\)', text, re.S)
        if match:
            names += [n.split(':')[0] for n in match.group(1).split() if not n.startswith('#')]
    return names


SEARCH_PATH = ['/usr/local/sbin', '/usr/local/bin', '/usr/sbin', '/usr/bin', '/sbin', '/bin']


def _owner(path):
    """The package that ships path (as dpkg knows it, with or without the /usr merge)."""
    candidates = [path]
    real = os.path.realpath(path)
    if real != path:
        candidates.append(real)
    if path.startswith('/usr/'):
        candidates.append(path[4:])
    elif path.startswith('/'):
        candidates.append('/usr' + path)
    for candidate in candidates:
        got = subprocess.run(['dpkg', '-S', candidate], capture_output=True, text=True)
        if got.returncode == 0 and got.stdout:
            line = got.stdout.splitlines()[0]
            if not line.startswith('diversion'):
                return line.split(':')[0].split(',')[0].strip()
    return None


RESCUE_INSTALL = re.compile(r'install-deps\.sh[^\n]*--rescue')
UNCHECKED = 'unchecked'


def _account(program, top, source, built, allowed, base, packages, rescue_missing=False):
    """None when the program is accounted for, UNCHECKED when it may come from a rescue package
    that is not installed here (rescue_missing), else why not."""
    if program in built or Path(program).name in built:
        return None
    if '/' in program and not program.startswith('/'):
        for folder in (source.parent, top):
            if (folder / program).exists():
                return None
        return f'{program} is not in the repository'
    if program.startswith('/'):
        if Path(program).is_relative_to(top) if hasattr(Path, 'is_relative_to') else False:
            return None
        paths = [program] if os.path.exists(program) else []
    else:
        paths = [d + '/' + program for d in SEARCH_PATH if os.path.exists(d + '/' + program)]
    if not paths:
        if rescue_missing:
            return UNCHECKED
        return f'{program} is not installed here, and nothing the project installs ships it'
    owners = [o for o in (_owner(p) for p in paths) if o]
    if not owners:
        return f'{program} ({paths[0]}) comes from no Debian package and is not built here'
    for owner in owners:
        if owner in allowed or owner in base:
            return None
    return (f'{program} comes from the package {owners[0]}, which scripts/install-deps.sh does '
            f'not install (add it there)')


def _sources(top):
    for folder in ('tests', 'scripts'):
        for path in sorted((top / folder).rglob('*')):
            if path.is_file() and '__pycache__' not in path.parts:
                yield path
    ci = top / '.ci' / 'run'
    if ci.is_file():
        yield ci
    for cmake in sorted(top.rglob('CMakeLists.txt')):
        if not cmake.relative_to(top).parts[0] in ('build', 'dist', '.git'):
            yield cmake


def _kind(path):
    if path.name == 'CMakeLists.txt':
        return 'cmake'
    if path.suffix == '.py':
        return 'python'
    if path.suffix == '.sh':
        return 'shell'
    try:
        first = path.open('rb').readline()
    except OSError:
        return None
    if first.startswith(b'#!'):
        if b'python' in first:
            return 'python'
        if re.search(rb'\b(ba|da)?sh\b', first):
            return 'shell'
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--top', default=str(Path(__file__).resolve().parents[1]))
    parser.add_argument('--install-deps', default='')
    parser.add_argument('--verbose', action='store_true', help='print every program start')
    args = parser.parse_args()
    top = Path(args.top).resolve()
    install_deps = Path(args.install_deps or top / 'scripts' / 'install-deps.sh')

    packages = _installed_packages()
    allowed = _closure(_install_list(install_deps, ('packages', 'optional')), packages)
    rescue_list = _install_list(install_deps, ('rescue',))
    allowed_rescue = allowed | _closure(rescue_list, packages)
    rescue_missing = [n for n in rescue_list if n not in packages]
    base_roots = [n for n, (priority, essential, _, _) in packages.items()
                  if priority == 'required' or essential]
    base = _closure(base_roots, packages)
    built = _built_targets(top)

    # A test may source a shell library of the product (the rescue medium's) and call its
    # functions, so every project shell file names functions, not only the checked ones.
    sources = [(path, _kind(path)) for path in _sources(top)]
    texts = {path: path.read_text(errors='replace') for path, kind in sources if kind}
    project_functions, project_runners = set(), {}
    libraries = sorted((top / 'rescue').rglob('*.sh')) if (top / 'rescue').is_dir() else []
    shell_texts = [texts[path] for path, kind in sources if kind == 'shell']
    shell_texts += [path.read_text(errors='replace') for path in libraries]
    for text in shell_texts:
        project_functions |= _ShellScanner(text).scan().functions
        project_runners.update(_runners(text))

    problems, checked, unchecked = [], 0, 0
    cache = {}
    for path, kind in sources:
        if kind is None:
            continue
        text = texts[path]
        rescue = bool(RESCUE_INSTALL.search(text)) and path.name != 'install-deps.sh'
        try:
            if kind == 'python':
                found = [(s.line, s.program) for s in _PythonFile(path, text).starts()]
            elif kind == 'shell':
                found = _shell_programs(text, frozenset(project_functions), project_runners)
            else:
                found = _cmake_programs(text)
        except SyntaxError as error:
            problems.append(f'{path.relative_to(top)}: cannot be read: {error}')
            continue
        for line, program in found:
            program = program.strip()
            if not program or program.startswith('${') or '$' in program:
                continue
            checked += 1
            key = (program, path.parent if '/' in program else None, rescue)
            if key not in cache:
                cache[key] = _account(program, top, path, built,
                                      allowed_rescue if rescue else allowed, base, packages,
                                      rescue and bool(rescue_missing))
            if args.verbose:
                print(f'{path.relative_to(top)}:{line}: {program}: {cache[key] or "ok"}')
            if cache[key] == UNCHECKED:
                unchecked += 1
            elif cache[key]:
                problems.append(f'{path.relative_to(top)}:{line}: {cache[key]}')
    for problem in problems:
        print(f'check-test-programs: {problem}')
    if unchecked:
        print(f'check-test-programs: {unchecked} program starts of the rescue scripts are not '
              f'checked: {", ".join(rescue_missing)} not installed here '
              f'(scripts/install-deps.sh --rescue installs them)')
    if problems:
        print(f'check-test-programs: {len(problems)} of {checked} program starts cannot be '
              f'accounted for on a fresh machine')
        return 1
    print(f'check-test-programs: all {checked - unchecked} checked program starts are built by '
          f'the project, installed by scripts/install-deps.sh or part of the base system')
    return 0


if __name__ == '__main__':
    sys.exit(main())
