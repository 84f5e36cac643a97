#!/usr/bin/env python3
"""Plants mistakes in the image step systematically, one at a time, in a
temporary copy of src/image.h and src/decoder.h: each comparison flipped or
made strict or not strict, each integer and character constant changed by
one either way, each && swapped with || and back, each if and while
condition negated, each early return removed. Each mutant is built into the
image step's driver (tests/image_step.cpp, -O0, the headers it includes
precompiled and the decoder's body built once unless decoder.h is mutated) and run on every row of
tests/test_image_step.py; it is killed when a row's outcome differs or the
driver fails. Prints the survivors and those that did not compile, with
file:line, and the figures; exits 1 if any survived.
The driver is built with AddressSanitizer, so that a read or write past a
block fails the run. Not mutated, as said in the output: comments, strings and preprocessor lines
(stb's configuration), and uploadImage, which needs GL (the `images` test's
probe checks it).
Usage: mutate_image.py [--build DIR] [--jobs N] [--rows PREFIX] [--only FILE:LINE ...]
"""
import argparse
import concurrent.futures
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time

SOURCE = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(SOURCE / "tests"))
import test_image_step  # noqa: E402

FILES = ["src/image.h", "src/decoder.h"]
SKIPPED_FUNCTIONS = {"uploadImage": "needs GL: the images test's probe uploads every file"}
TOKEN = re.compile(r"""(?P<skip>//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\])*"|^[ \t]*\#[^\n]*)
    |(?P<char>'(?:\\.|[^'\\])')
    |(?P<number>0[xX][0-9a-fA-F]+[uUlL]*|\d+[uUlL]*)
    |(?P<word>[A-Za-z_]\w*)
    |(?P<op><<=|>>=|<=|>=|==|!=|&&|\|\||<<|>>|->|::|\+\+|--|[-+*/%&|^!~<>=?:;,.(){}\[\]])
    |(?P<space>\s+)""", re.S | re.M | re.X)
TEMPLATES = {"static_cast", "reinterpret_cast", "const_cast", "max", "min"}
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
        sys.exit("mutate_image.py: cannot build the unmutated driver in %s" % work)
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=str(SOURCE / "build"), help="a build tree holding the GL loader's headers")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--only", nargs="*", default=[], help="FILE:LINE, e.g. src/image.h:120")
    parser.add_argument("--rows", default="", help="only the rows whose name starts so, e.g. fuzz-")
    args = parser.parse_args()
    glad = os.path.join(args.build, "glad", "include")
    if not os.path.isfile(os.path.join(glad, "glad", "gl.h")):
        sys.exit("mutate_image.py: no GL loader in %s: build the tree first (cmake --build %s --target glad)"
                 % (glad, args.build))
    print("not mutated: comments, strings, preprocessor lines (stb's configuration); "
          + "; ".join("%s: %s" % item for item in SKIPPED_FUNCTIONS.items()))
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="viewer-mutate-"))
    prepared = [row for row in test_image_step.prepare(str(scratch)) if row[0].startswith(args.rows)]
    plan = []
    for path in FILES:
        text = (SOURCE / path).read_text()
        for start, end, new, what in mutants(path, text):
            line = text.count("\n", 0, start) + 1
            column = start - text.rfind("\n", 0, start)
            if not args.only or "%s:%d" % (path, line) in args.only:
                plan.append(("%s:%d:%d" % (path, line, column), path, text[:start] + new + text[end:], what,
                             text.splitlines()[line - 1].strip()))
    print("%d mutants, %d rows" % (len(plan), len(prepared)), flush=True)
    started = time.time()
    works = [scratch / ("job%d" % j) for j in range(args.jobs)]
    for work in works:
        work.mkdir()
        prepare_job(work, glad)
    if verdict(works[0], FILES[0], (SOURCE / FILES[0]).read_text(), glad, prepared) != "SURVIVED":
        sys.exit("mutate_image.py: the committed image step fails its rows; run the image_step test")
    free = list(works)

    def run(mutant):
        work = free.pop()
        try:
            return verdict(work, mutant[1], mutant[2], glad, prepared)
        finally:
            free.append(work)
    counts = {}
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        for mutant, result in zip(plan, pool.map(run, plan)):
            counts[result] = counts.get(result, 0) + 1
            if result != "killed":
                print("%s %s: %s: %s" % (result, mutant[0], mutant[3], mutant[4]), flush=True)
    shutil.rmtree(scratch, True)
    print("%d mutants: %d killed, %d survived, %d did not compile (%.0f s)" % (
        len(plan), counts.get("killed", 0), counts.get("SURVIVED", 0), counts.get("did not compile", 0),
        time.time() - started))
    sys.exit(1 if counts.get("SURVIVED") else 0)


if __name__ == "__main__":
    main()
