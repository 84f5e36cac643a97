#!/usr/bin/env python3
"""Plants mistakes systematically, one at a time, in a copy of each program's
source, and runs the tests that judge that file (TARGETS): a mutant is
killed when a test fails, and survives when they all pass.
C and C++ (src/image.h, src/decoder.h, src/check.cpp, src/launch_preload.c):
each comparison flipped or made strict or not strict, each integer and
character constant changed by one either way, each && swapped with || and
back, each if and while condition negated, each early return removed. The
launcher's shell (packaging/viewer.in): each test flipped ([ ... ] negated,
-eq and -ne, -lt and -ge, -gt and -le, = and !=, -n and -z), each && and ||
swapped, each exit and return removed, each case branch dropped.
The image step's mutants are built into its driver (tests/image_step.cpp,
-O0 with AddressSanitizer, the headers it includes precompiled and the
decoder's body built once unless decoder.h is mutated) and run on every row
of tests/test_image_step.py. The others are built in a copy of the tree
(one a job, made on first use, kept with --work DIR) at -O0 and judged by the CTest
tests, or the test methods (-k), that TARGETS names for the function the
mutant is in. Prints the survivors and those that did not compile, with
file:line, and the figures for each file; exits 1 if any survived.
Not mutated, as said in the output: comments, strings and preprocessor
lines (stb's configuration), and uploadImage, which needs GL (the `images`
test's probe checks it).
Usage: mutate.py [FILE ...] [--build DIR] [--work DIR] [--jobs N] [--rows PREFIX] [--only FILE:LINE ...]
                 [--functions NAME ...] [--sample N] [--list]
"""
import argparse
import concurrent.futures
import json
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SOURCE = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(SOURCE / "tests"))
import test_image_step  # noqa: E402

FILES = ["src/image.h", "src/decoder.h"]  # the image step's, judged by its rows
# The other programs: the build target a mutant is built into, and, by the
# function it is in ("" for the rest of the file), the CTest tests that judge
# it, quickest first, each with the test methods to run (-k patterns; none:
# all of them). The quickest tests that can tell each part's mistakes: the
# check's table runs without a display; the library's and the launcher's
# parts each have their methods in the shots, install and authoring tests.
SHOT = [("shots", "-k", "shot_is")]
WATCH = [("authoring", "-k", "watch_reloads")]
ADVICE = [("faults", "-k", "start_up_failures")]
OPTIONS = [("shots", "-k", "bad_input"), ("shots", "-k", "sequence_lengths")]
FPS = [("shots", "-k", "fps")]
LAUNCHER_OPTIONS = [("install", "-k", "answers"), ("shots", "-k", "bad_input"),
                    ("authoring", "-k", "misuse", "-k", "check_misuse")]
TARGETS = {
    "src/check.cpp": ("viewer-check", {"": [("authoring", "-k", "test_check")]}),
    "src/launch_preload.c": ("launch", {
        "": OPTIONS + SHOT + [("shots", "-k", "sequence_frames")] + FPS + WATCH,
        "bad": OPTIONS, "seconds": OPTIONS, "one_number": OPTIONS, "name_of": OPTIONS, "writable": OPTIONS,
        "glfwGetTime": [("shots", "-k", "sequence_frames"), ("shots", "-k", "at_holds")],
        # A shot that cannot be written: the bad input table's FILE that is a directory.
        "chunk": SHOT, "write_png": SHOT + [("shots", "-k", "bad_input")],
        "shoot": SHOT + [("shots", "-k", "sequence_frames"), ("shots", "-k", "bad_input")],
        "now": FPS, "earlier": FPS, "count_frame": FPS,
        "glfwSwapBuffers": SHOT + [("shots", "-k", "sequence")] + FPS,
        "glfwTerminate": [("shots", "-k", "bad_input")],
        "interrupted": [("authoring", "-k", "watch_keeps")], "watch_scene": WATCH, "take_event": WATCH,
        "ready": WATCH, "rebuilt": WATCH, "reload": WATCH}),
    "src/launch_rebuild.cpp": ("launch", {"": WATCH}),
    "packaging/viewer.in": ("viewer_install_files", {
        "": LAUNCHER_OPTIONS + [("install",), ("shots", "-k", "shot_is", "-k", "at_holds", "-k", "fps", "-k", "menu"),
                                ("authoring", "-k", "check", "-k", "new")] + ADVICE + WATCH,
        "usage": LAUNCHER_OPTIONS, "misuse": LAUNCHER_OPTIONS, "operand": LAUNCHER_OPTIONS,
        "say": [("shots", "-k", "menu_entry"), ("authoring", "-k", "misuse")],
        "notify": [("shots", "-k", "menu_entry")],
        "scene": [("install", "-k", "command_shows"), ("authoring", "-k", "check", "-k", "new")],
        "become_viewer": [("install", "-k", "command_shows"), ("shots", "-k", "at_holds", "-k", "fps")],
        "run_viewer": [("install", "-k", "command_shows"), ("shots", "-k", "at_holds", "-k", "fps", "-k", "menu")]
        + ADVICE + [("shots", "-k", "bad_input")],
        "shoot": [("shots", "-k", "shot", "-k", "sequence", "-k", "bad_input")],
        "advise": ADVICE, "become_advised": [("install", "-k", "command_shows")] + ADVICE,
        "new": [("authoring", "-k", "new")]}),
}
SKIPPED_FUNCTIONS = {"uploadImage": "needs GL: the images test's probe uploads every file"}
TOKEN = re.compile(r"""(?P<skip>//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\])*"|^[ \t]*\#[^\n]*)
    |(?P<char>'(?:\\.|[^'\\])')
    |(?P<number>0[xX][0-9a-fA-F]+[uUlL]*|\d+[uUlL]*)
    |(?P<word>[A-Za-z_]\w*)
    |(?P<op><<=|>>=|<=|>=|==|!=|&&|\|\||<<|>>|->|::|\+\+|--|[-+*/%&|^!~<>=?:;,.(){}\[\]])
    |(?P<space>\s+)""", re.S | re.M | re.X)
TEMPLATES = {"static_cast", "reinterpret_cast", "const_cast", "max", "min", "optional", "vector", "array", "pair",
             "unique_ptr", "numeric_limits"}
FLIP = {"<": ">=", ">=": "<", ">": "<=", "<=": ">", "==": "!=", "!=": "=="}
STRICTNESS = {"<": "<=", "<=": "<", ">": ">=", ">=": ">"}
CHARS = {"\\t": 9, "\\n": 10, "\\r": 13, "\\0": 0}


def tokens(text):
    """(kind, text, start) of every token but blanks; comments, strings and
    preprocessor lines as "skip"."""
    found = []
    for m in TOKEN.finditer(text):
        if m.lastgroup != "space":
            found.append((m.lastgroup, m.group(), m.start()))
    return found


def matching(toks, i, opening, closing, step=1):
    depth = 0
    while True:
        if toks[i][1] == opening:
            depth += 1
        elif toks[i][1] == closing:
            depth -= 1
            if depth == 0:
                return i
        i += step


def char_value(literal):
    body = literal[1:-1]
    return CHARS.get(body, ord(body[-1]))


def mutants(path, text):
    """(start, end, replacement, description) for every mutant of the file."""
    toks = [t for t in tokens(text) if t[0] != "skip"]
    out, skipped_braces, template_closers = [], set(), set()
    # Function bodies: a brace after a parameter list or a lambda's capture.
    bodies = set()
    for i, (kind, tok, at) in enumerate(toks):
        if tok == "{" and i and toks[i - 1][1] in (")", "]"):
            if toks[i - 1][1] == ")":
                opener = matching(toks, i - 1, ")", "(", -1)
                if toks[opener - 1][1] in ("if", "while", "for", "switch"):
                    continue
                if toks[opener - 1][1] in SKIPPED_FUNCTIONS:
                    skipped_braces.add(i)
            bodies.add(i)
    skip_until = -1
    for i, (kind, tok, at) in enumerate(toks):
        if i in skipped_braces:
            skip_until = matching(toks, i, "{", "}")
        if i <= skip_until:
            continue
        end = at + len(tok)
        if tok == "<" and toks[i - 1][1] in TEMPLATES:
            template_closers.add(matching(toks, i, "<", ">"))
            continue
        if i in template_closers:
            continue
        if tok in FLIP:
            out.append((at, end, FLIP[tok], "%s flipped to %s" % (tok, FLIP[tok])))
        if tok in STRICTNESS:
            out.append((at, end, STRICTNESS[tok], "%s made %s" % (tok, STRICTNESS[tok])))
        if tok in ("&&", "||"):
            other = "||" if tok == "&&" else "&&"
            out.append((at, end, other, "%s swapped for %s" % (tok, other)))
        if kind == "number":
            digits = re.match(r"0[xX][0-9a-fA-F]+|\d+", tok).group()
            value, suffix = int(digits, 0), tok[len(digits):]
            for new in (value - 1, value + 1):
                if new >= 0:
                    text_new = (hex(new) if digits[:2].lower() == "0x" else str(new)) + suffix
                    out.append((at, end, text_new, "%s changed to %s" % (tok, text_new)))
        if kind == "char":
            value = char_value(tok)
            for new in (value - 1, value + 1):
                if new >= 0:
                    out.append((at, end, str(new), "%s changed to %d" % (tok, new)))
        if tok in ("if", "while") and toks[i + 1][1] == "(":
            close = matching(toks, i + 1, "(", ")")
            start, stop = toks[i + 1][2] + 1, toks[close][2]
            out.append((start, stop, "!(%s)" % text[start:stop], "%s condition negated" % tok))
        if tok == "return":
            semicolon = i
            while toks[semicolon][1] != ";":
                semicolon += 1
            after = semicolon + 1
            final = toks[after][1] == "}" and matching(toks, after, "}", "{", -1) in bodies
            if not final:
                out.append((at, toks[semicolon][2] + 1, ";", "return removed"))
    return out


def c_functions(text):
    """(start, end, name) of each named function's body in a C or C++ file."""
    toks = [t for t in tokens(text) if t[0] != "skip"]
    spans = []
    for i, (kind, tok, at) in enumerate(toks):
        if tok == "{" and i and toks[i - 1][1] == ")":
            opener = matching(toks, i - 1, ")", "(", -1)
            name = toks[opener - 1][1]
            if name not in ("if", "while", "for", "switch") and toks[opener - 1][0] == "word":
                spans.append((at, toks[matching(toks, i, "{", "}")][2], name))
    return spans


SHELL_TESTS = {"-eq": "-ne", "-ne": "-eq", "-lt": "-ge", "-ge": "-lt", "-gt": "-le", "-le": "-gt", "-n": "-z",
               "-z": "-n", "=": "!=", "!=": "="}
SHELL_WORD = re.compile(r"""(?P<skip>'[^']*'|"(?:\\.|[^"\\])*"|\$\{[^}]*\}|\$\([^()]*\)|(?<![\w$])\#[^\n]*)
    |(?P<op>&&|\|\||;;|[;|()\n])|(?P<word>[^\s;|&()'"]+)|(?P<space>\s+)""", re.X | re.S)


def shell_words(text):
    """(kind, text, start) of the script's words and operators; here-documents' bodies left out."""
    for m in re.finditer(r"<<-?\s*'?(\w+)'?[^\n]*\n", text):
        end = re.compile(r"^\s*%s$" % m.group(1), re.M).search(text, m.end()).start()
        text = text[:m.end()] + re.sub(r"[^\n]", " ", text[m.end():end]) + text[end:]
    return [(m.lastgroup, m.group(), m.start()) for m in SHELL_WORD.finditer(text) if m.lastgroup != "space"]


def shell_functions(text):
    """(start, end, name) of each `name() {` ... `}` function of the launcher."""
    return [(m.start(), text.index("\n}\n", m.start()), m.group(1))
            for m in re.finditer(r"^(\w+)\(\) \{$", text, re.M)]


def shell_mutants(text):
    """(start, end, replacement, description) for every mutant of a shell script."""
    words, out = shell_words(text), []
    command_start = True  # whether the word begins a command
    for i, (kind, word, at) in enumerate(words):
        end = at + len(word)
        if kind == "op" and word in ("&&", "||"):
            other = "||" if word == "&&" else "&&"
            out.append((at, end, other, "%s swapped for %s" % (word, other)))
        if kind == "word" and word == "[" and command_start:
            close = next(j for j in range(i, len(words)) if words[j][1] == "]")
            out.append((at, at, "! ", "[ ... ] negated"))
            for j in range(i + 1, close):
                if words[j][1] in SHELL_TESTS:
                    new = SHELL_TESTS[words[j][1]]
                    out.append((words[j][2], words[j][2] + len(words[j][1]), new,
                                "%s flipped to %s" % (words[j][1], new)))
        if kind == "word" and word in ("exit", "return") and command_start:
            out.append((at, end, ":", "%s removed" % word))
        command_start = kind == "op" or word in ("then", "do", "else", "{", "!", "elif", "if", "while", "until")
    out.extend(case_branches(text))
    return out


def case_branches(text):
    """A mutant for each branch of each case written a line or more a branch:
    the branch dropped, from its pattern to its ;; (or to esac)."""
    out, at = [], 0
    branches = []  # for each case being read, where its open branch starts, or None

    def drop(start, end):
        return (start, end, "", "case branch dropped: %s" % text[start:text.index(")", start) + 1])
    for line in text.split("\n"):
        stripped = line.strip()
        starts = at + len(line) - len(line.lstrip())
        if stripped.startswith("esac") and branches:
            if branches[-1] is not None:
                out.append(drop(branches[-1], starts))
            branches.pop()
        elif branches and branches[-1] is None and re.match(r"[^\s(#][^()]*\)", stripped):
            branches[-1] = starts
        if re.match(r"case\b.*\bin$", stripped):
            branches.append(None)
        elif branches and branches[-1] is not None and re.search(r";;\s*(#.*)?$", stripped):
            out.append(drop(branches[-1], at + len(line)))
            branches[-1] = None
        at += len(line) + 1
    return out


# A mistake that reads or writes past a block shows only to AddressSanitizer.
SANITIZER = ["-fsanitize=address"]
PRECOMPILED = ["algorithm", "cerrno", "cstdint", "cstdio", "cstdlib", "cstring", "filesystem", "string",
               "glad/gl.h", "zlib.h"]


def compile_(work, *arguments):
    return subprocess.run(["g++", "-std=c++17", "-O0", "-w", "-I", str(work), *arguments], cwd=work,
                          capture_output=True).returncode == 0


def prepare_job(work, glad):
    """A job's directory: the headers image.h includes, precompiled; the
    driver without the decoder's body; the decoder's body built once from
    the committed decoder.h (-O1: it is not mutated there)."""
    for name in FILES:
        shutil.copy(SOURCE / name, work / pathlib.Path(name).name)
    (work / "pch.h").write_text("".join("#include <%s>\n" % h for h in PRECOMPILED))
    driver = (SOURCE / "tests" / "image_step.cpp").read_text().replace("#define STB_IMAGE_IMPLEMENTATION\n", "")
    (work / "driver.cpp").write_text(driver)
    (work / "stb.cpp").write_text('#define STB_IMAGE_IMPLEMENTATION\n#include "decoder.h"\n')
    if not (compile_(work, "-I", glad, *SANITIZER, "-x", "c++-header", "pch.h", "-o", "pch.h.gch")
            and compile_(work, "-O1", "-c", "stb.cpp", "-o", "stb.o")):
        sys.exit("mutate.py: cannot build the unmutated driver in %s" % work)
    shutil.copy(work / "stb.o", work / "committed-stb.o")


def build(work, path, text, glad):
    """Builds the driver with path's text in place of the committed file;
    the binary, or None. The decoder's body is rebuilt only when decoder.h
    is the file mutated."""
    name = pathlib.Path(path).name
    (work / name).write_text(text)
    try:
        if name == "decoder.h" and not compile_(work, "-O1", "-c", "stb.cpp", "-o", "stb.o"):
            return None
        if not (compile_(work, "-I", glad, *SANITIZER, "-include", "pch.h", "-c", "driver.cpp", "-o", "driver.o")
                and compile_(work, *SANITIZER, "driver.o", "stb.o", "-o", "image_step", "-lz")):
            return None
        return work / "image_step"
    finally:
        shutil.copy(SOURCE / path, work / name)
        shutil.copy(work / "committed-stb.o", work / "stb.o")


def verdict(work, path, text, glad, prepared):
    binary = build(work, path, text, glad)
    if binary is None:
        return "did not compile"
    try:
        return "killed" if test_image_step.wrong(str(binary), prepared) else "SURVIVED"
    except (subprocess.SubprocessError, AssertionError, ValueError, KeyError, IndexError):
        return "killed"


def work_tree(work):
    """A copy of the working tree's files in WORK/src, built at -O0 in
    WORK/build with the tests, and CTest's command and environment for each
    test there; made once, then brought up to date."""
    src, tree = work / "src", work / "build"
    listed = subprocess.run(["git", "ls-files", "-z"], cwd=SOURCE, capture_output=True, check=True).stdout
    for name in filter(None, listed.decode().split("\0")):
        there, here = SOURCE / name, src / name
        here.parent.mkdir(parents=True, exist_ok=True)
        if there.is_symlink():
            if not os.path.lexists(here):
                os.symlink(os.readlink(there), here)
        elif there.exists() and (not here.exists() or here.read_bytes() != there.read_bytes()):
            shutil.copy(there, here)
    subprocess.run(["cmake", "-S", src, "-B", tree, "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=ON",
                    "-DCMAKE_C_FLAGS_RELEASE=-O0", "-DCMAKE_CXX_FLAGS_RELEASE=-O0",
                    "-DPython3_EXECUTABLE=/usr/bin/python3"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", tree, "-j2", "--target", "viewer", "launch", "viewer-check",
                    "viewer_install_files", "preload", "wm_close"], check=True, stdout=subprocess.DEVNULL)
    shown = json.loads(subprocess.run(["ctest", "--test-dir", tree, "--show-only=json-v1"], capture_output=True,
                                      check=True).stdout)
    tests = {}
    for test in (t for t in shown["tests"] if "command" in t):  # those whose program is built
        properties = {p["name"]: p["value"] for p in test.get("properties", [])}
        env = dict(os.environ, **dict(v.split("=", 1) for v in properties.get("ENVIRONMENT", [])))
        tests[test["name"]] = (test["command"], env, float(properties.get("TIMEOUT", 300)))
    return src, tree, tests


def judge(tests, chosen, limits=None):
    """Runs the chosen tests, each (CTest name, -k patterns...), quickest
    first; the first that fails kills the mutant. Each ends within its limit
    (limits, or its CTest timeout), its processes with it (its own session,
    and the harness's reaper); one that does not end by then kills it."""
    for name, *patterns in chosen:
        command, env, timeout = tests[name]
        timeout = (limits or {}).get((name, *patterns), timeout)
        started = time.time()
        with tempfile.TemporaryFile() as err:
            proc = subprocess.Popen([*command, *patterns], env=env, stdout=subprocess.DEVNULL, stderr=err,
                                    start_new_session=True)
            try:
                status = proc.wait(timeout)
            except subprocess.TimeoutExpired:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
                return "killed"
            err.seek(0)
            ran = re.search(rb"^Ran (\d+) tests?", err.read(), re.M)
        if status == 77 or (status == 0 and not (ran and int(ran.group(1)))):
            sys.exit("mutate.py: %s ran no test here (status %d)" % (" ".join((name, *patterns)), status))
        if status != 0:
            return "killed"
        if limits is not None and (name, *patterns) not in limits:
            # A mutant's run may take three times the committed one's, and 30 s more.
            limits[(name, *patterns)] = min(timeout, 3 * (time.time() - started) + 30)
    return "SURVIVED"


def plan_for(path, only, sample, functions=()):
    """(where, path, mutated text, what, the line as written, function) for each chosen mutant of path."""
    text = (SOURCE / path).read_text()
    shell = path.endswith(".in")
    found = shell_mutants(text) if shell else mutants(path, text)
    spans = shell_functions(text) if shell else c_functions(text)
    plan = []
    for start, end, new, what in found:
        line = text.count("\n", 0, start) + 1
        column = start - text.rfind("\n", 0, start)
        function = next((name for first, last, name in spans if first <= start <= last), "")
        if (not only or "%s:%d" % (path, line) in only) and (not functions or function in functions):
            plan.append(("%s:%d:%d" % (path, line, column), path, text[:start] + new + text[end:], what,
                         text.splitlines()[line - 1].strip(), function))
    step = max(1, len(plan) // sample) if sample else 1
    return plan[::step]


def run_programs(plan, work, jobs):
    """Each mutant of the programs outside the image step, built in a work
    tree and judged by its tests, `jobs` trees at once; yields (mutant, verdict)."""
    trees = [work_tree(work / ("job%d" % j)) for j in range(jobs)]
    src, tree, tests = trees[0]
    chosen, limits = {m[1]: TARGETS[m[1]] for m in plan}, {}
    for path, (target, by_function) in chosen.items():
        wanted = {tuple(t) for m in plan if m[1] == path for t in by_function.get(m[5], by_function[""])}
        for test in sorted(wanted):
            if judge(tests, [test], limits) != "SURVIVED":
                sys.exit("mutate.py: the committed %s fails %s; run that test" % (path, " ".join(test)))
    free = list(trees)
    yield None, "ready"

    def run(mutant):
        src, tree, tests = free.pop()
        path, (target, by_function) = mutant[1], TARGETS[mutant[1]]
        try:
            (src / path).write_text(mutant[2])
            if subprocess.run(["cmake", "--build", tree, "--target", target], capture_output=True).returncode:
                return "did not compile"
            return judge(tests, by_function.get(mutant[5], by_function[""]), limits)
        finally:
            shutil.copy(SOURCE / path, src / path)  # a new time, so that the target is built again
            free.append((src, tree, tests))
    try:
        with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
            yield from zip(plan, pool.map(run, plan))
    finally:
        for src, tree, _ in trees:
            for path in chosen:
                subprocess.run(["cmake", "--build", tree, "--target", TARGETS[path][0]], capture_output=True)


def run_image(plan, args, scratch):
    """Each mutant of the image step, on the driver's rows, --jobs at once; yields (mutant, verdict)."""
    glad = os.path.join(args.build, "glad", "include")
    if not os.path.isfile(os.path.join(glad, "glad", "gl.h")):
        sys.exit("mutate.py: no GL loader in %s: build the tree first (cmake --build %s --target glad)"
                 % (glad, args.build))
    prepared = [row for row in test_image_step.prepare(str(scratch)) if row[0].startswith(args.rows)]
    print("%d rows of the image step" % len(prepared), flush=True)
    works = [scratch / ("job%d" % j) for j in range(args.jobs)]
    for work in works:
        work.mkdir()
        prepare_job(work, glad)
    if verdict(works[0], FILES[0], (SOURCE / FILES[0]).read_text(), glad, prepared) != "SURVIVED":
        sys.exit("mutate.py: the committed image step fails its rows; run the image_step test")
    free = list(works)
    yield None, "ready"

    def run(mutant):
        work = free.pop()
        try:
            return verdict(work, mutant[1], mutant[2], glad, prepared)
        finally:
            free.append(work)
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        yield from zip(plan, pool.map(run, plan))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("files", nargs="*", default=FILES + list(TARGETS), help="default: every file")
    parser.add_argument("--build", default=str(SOURCE / "build"), help="a build tree holding the GL loader's headers")
    parser.add_argument("--work", help="where the programs' copies of the tree, one a job, are built and kept "
                        "(default: a temporary directory)")
    parser.add_argument("--jobs", type=int, default=2, help="mutants built and run at once")
    parser.add_argument("--only", nargs="*", default=[], help="FILE:LINE, e.g. src/image.h:120")
    parser.add_argument("--rows", default="", help="only the image step's rows whose name starts so, e.g. fuzz-")
    parser.add_argument("--functions", nargs="*", default=[], help="only the mutants in these functions")
    parser.add_argument("--sample", type=int, default=0, help="about N mutants a file, evenly spread")
    parser.add_argument("--list", action="store_true", help="print the mutants and their tests, and run none")
    args = parser.parse_args()
    unknown = [f for f in args.files if f not in FILES and f not in TARGETS]
    if unknown:
        sys.exit("mutate.py: no mutants for %s; files: %s" % (", ".join(unknown), " ".join(FILES + list(TARGETS))))
    print("not mutated: comments, strings, preprocessor lines (stb's configuration), here-documents; "
          + "; ".join("%s: %s" % item for item in SKIPPED_FUNCTIONS.items()))
    plans = {path: plan_for(path, args.only, args.sample, args.functions) for path in args.files}
    if args.list:
        for path, plan in plans.items():
            for mutant in plan:
                tests = TARGETS[path][1].get(mutant[5], TARGETS[path][1][""]) if path in TARGETS else [("image_step",)]
                print("%s %s (%s): %s | %s" % (mutant[0], mutant[3], mutant[5] or "-", mutant[4],
                                               "; ".join(" ".join(t) for t in tests)))
        return
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="viewer-mutate-"))
    work = pathlib.Path(args.work) if args.work else scratch / "work"
    image = [m for path in args.files if path in FILES for m in plans[path]]
    programs = [m for path in args.files if path in TARGETS for m in plans[path]]
    counts, spent = {}, {}
    runners = ((image, lambda: run_image(image, args, scratch)),
               (programs, lambda: run_programs(programs, work, args.jobs)))
    for part, runner in runners:
        if not part:
            continue
        print("%d mutants" % len(part), flush=True)
        last = time.time()
        for mutant, result in runner():
            if mutant is None:
                print("set up in %.0f s" % (time.time() - last), flush=True)
                last = time.time()
                continue
            tally = counts.setdefault(mutant[1], {})
            tally[result] = tally.get(result, 0) + 1
            # The time since the last verdict: with --jobs, mutants are judged at once, their verdicts in order.
            spent[mutant[1]] = spent.get(mutant[1], 0) + time.time() - last
            last = time.time()
            if result != "killed":
                print("%s %s: %s: %s" % (result, mutant[0], mutant[3], mutant[4]), flush=True)
    shutil.rmtree(scratch, True)
    for path, tally in counts.items():
        planted = sum(tally.values())
        print("%s: %d mutants: %d killed, %d survived, %d did not compile (%.0f s, %.1f s a mutant)" % (
            path, planted, tally.get("killed", 0), tally.get("SURVIVED", 0), tally.get("did not compile", 0),
            spent[path], spent[path] / planted))
    sys.exit(1 if any(t.get("SURVIVED") for t in counts.values()) else 0)


if __name__ == "__main__":
    main()
