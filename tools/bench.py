#!/usr/bin/env python3
"""Benchmark of the viewer on Mesa's software rasteriser, against a floor.

On one private 1280x720 Xvfb it runs, several times each and interleaved so
that drift hits all alike: the viewer as shipped; the same binary from
scratch directories whose fragment shaders output a flat colour and the
texture's colour unlit (the cost of texturing and of lighting), each once
with the shipped vertex shader and once with a plain one (what the shipped
vertex stage saves); and the floor program (tools/bench_floor.cpp: the same
window and context, clear and swap only).
A preload (tools/bench_hooks.c) stamps every buffer swap and the first call
of each start-up stage and closes the window after a set number of frames,
so the viewer runs exactly as shipped. Then callgrind counts the
instructions of a fixed number of frames of the viewer and of the floor, by
the object file they run in. One table gives medians, spreads and targets.

Usage: bench.py --build DIR [--runs N] [--frames N] [--warmup N]
                [--callgrind-frames N] [--no-callgrind]
DIR is a build tree configured with -DVIEWER_BENCH=ON.
"""
import argparse
import collections
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests"))
from harness import GL_OVERRIDE, Xvfb  # noqa: E402

# The two fragment variants replace the shipped fragment shader, so the
# differences measure what the fragment stage's lighting and texturing cost
# (the linker drops the vertex outputs they no longer read). Each runs with
# the shipped vertex shader and with this plain one, which draws every face:
# the plain unlit texture is the yardstick of a plain pipeline, and the pairs
# show what the shipped vertex stage saves by dropping faces turned away from
# the eye.
PLAIN_VERTEX = b"""#version 460 core
layout (location = 0) in vec3 aPos;
layout (location = 1) in vec2 aTexCoord;
out vec2 TexCoord;
uniform mat4 model;
uniform mat4 view;
uniform mat4 projection;
void main()
{
    TexCoord = aTexCoord;
    gl_Position = projection * view * model * vec4(aPos, 1.0);
}
"""
FLAT_FRAGMENT = b"""#version 460 core
out vec4 FragColor;
void main()
{
    FragColor = vec4(0.8, 0.5, 0.2, 1.0);
}
"""
UNLIT_FRAGMENT = b"""#version 460 core
in vec2 TexCoord;
out vec4 FragColor;
uniform sampler2D texture0;
void main()
{
    FragColor = vec4(texture(texture0, TexCoord).rgb, 1.0);
}
"""

# Start-up stages: each runs from its event to the next one the program has
# (the floor has no shader, mesh or texture). "start" is the moment before
# the process is spawned, "frame" the return of the first buffer swap.
STAGES = [
    ("start", "exec and libraries, to main"),
    ("init", "window and context"),
    ("context", "GL loader"),
    ("shader", "shader build"),
    ("mesh", "mesh and vertex arrays"),
    ("texture", "image decode"),
    ("upload", "image upload and mipmaps"),
    ("state", "depth test and sampler"),
    ("loop", "first draw, to first swap"),
    ("frame", None),
]
# Stages the start-up target does not limit: the exec before main (process
# creation and dynamic linking, the same for the floor), and the driver's
# heavy work of context creation, shader build and first draw. Image decode
# and upload are one stage for the target.
UNLIMITED_STAGES = {"exec and libraries, to main", "window and context", "shader build",
                    "first draw, to first swap"}
CPU, ALL_CPU = " cpu", " all cpu"
FLAT, UNLIT, PLAIN = "flat colour", "unlit texture", ", plain vertex"
# Ratios of two programs' frame rates, each taken within one round, where the
# two ran side by side: (what, numerator, denominator).
RATIOS = [
    ("viewer against a plain pipeline (the yardstick)", "viewer", UNLIT + PLAIN),
    ("lighting, with the shipped vertex shader", "viewer", UNLIT),
    ("vertex stage, unlit texture", UNLIT, UNLIT + PLAIN),
    ("vertex stage, flat colour", FLAT, FLAT + PLAIN),
]
TARGET_RATIO = 0.85
STAGE_LIMIT_MS = 10.0


def stage_dir(vertex=None, fragment=None):
    """A scratch working directory as the viewer expects it."""
    directory = tempfile.mkdtemp(prefix="bench-")
    os.mkdir(os.path.join(directory, "Shaders"))
    shutil.copyfile(os.path.join(SOURCE_DIR, "test.png"), os.path.join(directory, "test.png"))
    for name, content in (("OG_V.glsl", vertex), ("OG_F.glsl", fragment)):
        path = os.path.join(directory, "Shaders", name)
        if content is None:
            shutil.copyfile(os.path.join(SOURCE_DIR, "Shaders", name), path)
        else:
            with open(path, "wb") as f:
                f.write(content)
    return directory


def run(command, cwd, env, frames, extra_env=None, timeout=300):
    """Runs one program until the preload closes it after `frames` frames.

    Returns (events, swaps, peak RSS in KiB, launch time) with times in ns
    of CLOCK_MONOTONIC; events maps a name to (time, CPU time of the main
    thread, CPU time of the process); swaps is a list of (enter, leave,
    CPU time of the process at leave).
    """
    fd, out = tempfile.mkstemp(prefix="bench-", suffix=".txt")
    os.close(fd)
    env = dict(env, BENCH_HOOKS_OUT=out, BENCH_HOOKS_FRAMES=str(frames), **(extra_env or {}))
    with tempfile.TemporaryFile() as log:
        launch = time.monotonic_ns()
        proc = subprocess.Popen(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                stdout=log, stderr=subprocess.STDOUT)
        watchdog = threading.Timer(timeout, proc.kill)
        watchdog.start()
        _, status, usage = os.wait4(proc.pid, 0)
        watchdog.cancel()
        proc.returncode = os.waitstatus_to_exitcode(status)
        log.seek(0)
        printed = log.read().decode(errors="replace")
    if proc.returncode != 0 or (printed.strip() and command[0] != "valgrind"):
        raise RuntimeError("%s in %s exited with %s:\n%s" % (command[-1], cwd, proc.returncode, printed))
    events, swaps = {}, []
    with open(out) as f:
        for line in f:
            fields = line.split()
            if fields[0] == "event":
                events[fields[1]] = tuple(int(x) for x in fields[2:5])
            elif fields[0] == "frame":
                swaps.append(tuple(int(x) for x in fields[1:4]))
    os.unlink(out)
    return events, swaps, usage.ru_maxrss, launch


def measure(events, swaps, rss_kib, launch, warmup):
    """Frame-rate, pacing, start-up and memory figures of one run."""
    leaves = [leave for _, leave, _ in swaps]
    steady = leaves[warmup:]
    intervals = [(b - a) / 1e6 for a, b in zip(steady, steady[1:])]
    result = {
        "fps": len(intervals) / ((steady[-1] - steady[0]) / 1e9),
        # CPU time of all the process's threads per frame: other processes on
        # the machine change it less than they change the frame rate.
        "cpu": (swaps[-1][2] - swaps[warmup][2]) / 1e6 / len(intervals),
        "median": statistics.median(intervals),
        "p99": statistics.quantiles(intervals, n=100, method="inclusive")[98],
        "rss": rss_kib / 1024.0,
    }
    result["pacing"] = result["p99"] / result["median"]
    stamps = dict(events, start=(launch, 0, 0))
    present = [(key, label) for key, label in STAGES if key in stamps]
    for (key, label), (next_key, _) in zip(present, present[1:]):
        for suffix, i in (("", 0), (CPU, 1), (ALL_CPU, 2)):
            result[label + suffix] = (stamps[next_key][i] - stamps[key][i]) / 1e6
    if "image decode" in result:
        for suffix in ("", CPU, ALL_CPU):
            result["image decode and upload" + suffix] = (result["image decode" + suffix]
                                                          + result["image upload and mipmaps" + suffix])
    for suffix, i in (("", 0), (CPU, 1), (ALL_CPU, 2)):
        result["total to first frame" + suffix] = (stamps["frame"][i] - stamps["start"][i]) / 1e6
    return result


def callgrind(command, cwd, env, warmup, frames, workdir):
    """Instructions of `frames` frames after `warmup` ones, by object file."""
    out = os.path.join(workdir, "callgrind.out")
    valgrind = ["valgrind", "--tool=callgrind", "--instr-atstart=no", "--callgrind-out-file=" + out]
    run(valgrind + command, cwd, env, warmup + frames, {"BENCH_HOOKS_CALLGRIND": str(warmup)}, timeout=900)
    # The preload's dump is the first part; the end-of-run dump is ignored.
    return parse_callgrind(out + ".1")


def parse_callgrind(path):
    """Per-object self cost and the inclusive cost of calls between objects.

    Returns ({object: Ir}, {(caller object, callee object): inclusive Ir}).
    """
    names = {}
    own = collections.Counter()
    calls = collections.Counter()
    positions = 1
    ob = cob = None
    in_call = False

    def name(value):
        # Compressed names: "(id) name" the first time, "(id)" after.
        if value.startswith("("):
            key, _, rest = value.partition(")")
            if rest.strip():
                names[key] = rest.strip()
            return names[key]
        return value

    with open(path) as f:
        for line in f:
            head = line[:1]
            if head.isdigit() or head in "+-*":
                fields = line.split()
                ir = int(fields[positions]) if len(fields) > positions else 0
                if in_call:
                    calls[(ob, cob or ob)] += ir
                    in_call = False
                    cob = None
                else:
                    own[ob] += ir
            elif line.startswith("ob="):
                ob = name(line[3:].strip())
            elif line.startswith("cob="):
                cob = name(line[4:].strip())
            elif line.startswith("calls="):
                in_call = True
            elif line.startswith("positions:"):
                positions = len(line.split()) - 1
    return own, calls


# The C and C++ runtime serve the program and the driver alike, so their
# instructions go to whichever side called them.
RUNTIME = ("libc.so", "libc-", "ld-linux", "libdl", "libpthread", "libstdc++", "libm.so", "libm-",
           "libgcc_s")
GROUPS = [
    ("GLFW", ("libglfw",)),
    ("X libraries", ("libX", "libxcb", "libxshmfence", "libbsd", "libmd.")),
    ("GL dispatch (libglvnd)", ("libGL", "libOpenGL")),
    ("GL driver (Mesa, LLVM)", ("libgallium", "libglapi", "libLLVM", "libdrm", "libz.", "libzstd",
                                "libexpat", "libelf", "libffi", "libedit", "libtinfo", "libxml2")),
    ("benchmark preload", ("libbench_hooks",)),
]
OWN = "program's own code"
OWN_RUNTIME = "C/C++ runtime, for the program"


def group_of(obj, program):
    """Where an object file's instructions run, for the per-frame split."""
    base = os.path.basename(obj)
    if base == program:
        return OWN
    if base.startswith(RUNTIME):
        return "C/C++ runtime, for the platform"
    if base.endswith("_dri.so"):
        return "GL driver (Mesa, LLVM)"
    if obj == "???":
        # Code in no file: llvmpipe's compiled shaders and rasteriser, and
        # the GL entry stubs libglvnd writes at run time.
        return "JIT code (shaders, rasteriser, stubs)"
    for group, prefixes in GROUPS:
        if base.startswith(prefixes):
            return group
    return "other"


def split_frame(own, calls, program, frames):
    """Instructions per frame by group; the runtime's are split by caller."""
    per_group = collections.Counter()
    for obj, ir in own.items():
        per_group[group_of(obj, program)] += ir
    for (caller, callee), ir in calls.items():
        if group_of(caller, program) == OWN and os.path.basename(callee).startswith(RUNTIME):
            per_group[OWN_RUNTIME] += ir
            per_group["C/C++ runtime, for the platform"] -= ir
    return {group: ir / frames for group, ir in per_group.items()}


def spread(values, fmt="%.1f"):
    """Median with the range of all runs: "12.3 [11.9-13.0]"."""
    if not values:
        return "-"
    return (fmt + " [" + fmt + "-" + fmt + "]") % (statistics.median(values), min(values), max(values))


def machine():
    """The machine the figures come from."""
    model = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    versions = subprocess.run(["dpkg-query", "-W", "-f", "${Package} ${Version}\n", "libgl1-mesa-dri",
                               "libglfw3", "xvfb"], capture_output=True, text=True).stdout.split("\n")
    return "%d CPUs (nproc), %s, %s; %s" % (os.cpu_count(), model, platform.release(),
                                             ", ".join(v for v in versions if v))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True, help="build tree configured with -DVIEWER_BENCH=ON")
    parser.add_argument("--runs", type=int, default=7, help="runs of each program (default 7)")
    parser.add_argument("--frames", type=int, default=500, help="frames of each run (default 500)")
    parser.add_argument("--warmup", type=int, default=20, help="first frames left out of the rates")
    parser.add_argument("--callgrind-frames", type=int, default=10, help="frames counted by callgrind")
    parser.add_argument("--no-callgrind", action="store_true", help="leave out the instruction counts")
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    viewer = os.path.join(build, "viewer")
    floor = os.path.join(build, "tools", "bench_floor")
    hooks = os.path.join(build, "tools", "libbench_hooks.so")
    work = tempfile.mkdtemp(prefix="bench-")
    programs = [
        ("viewer", [viewer], stage_dir()),
        (FLAT, [viewer], stage_dir(fragment=FLAT_FRAGMENT)),
        (FLAT + PLAIN, [viewer], stage_dir(vertex=PLAIN_VERTEX, fragment=FLAT_FRAGMENT)),
        (UNLIT, [viewer], stage_dir(fragment=UNLIT_FRAGMENT)),
        (UNLIT + PLAIN, [viewer], stage_dir(vertex=PLAIN_VERTEX, fragment=UNLIT_FRAGMENT)),
        ("floor", [floor], work),
    ]
    print("Machine: " + machine())
    print("Load average before: %.2f %.2f %.2f" % os.getloadavg())
    results = collections.defaultdict(list)
    with Xvfb() as xvfb:
        # A shader cache of the benchmark's own, filled by one unmeasured run
        # of each program (which also brings the libraries into the page
        # cache): the figures are those of a warm start, whatever runs came
        # before on this machine.
        env = dict(os.environ, DISPLAY=xvfb.display, LD_PRELOAD=hooks,
                   MESA_SHADER_CACHE_DIR=os.path.join(work, "shader-cache"), **GL_OVERRIDE)
        for _, command, cwd in programs:
            run(command, cwd, env, args.warmup + 2)
        # Interleaved, and in a rotated order each round, so that neither
        # drift nor the position in a round favours one program.
        for round_ in range(args.runs):
            for i in range(len(programs)):
                name, command, cwd = programs[(i + round_) % len(programs)]
                events, swaps, rss, launch = run(command, cwd, env, args.frames)
                results[name].append(measure(events, swaps, rss, launch, args.warmup))
        instructions = {}
        if not args.no_callgrind:
            for name, command, cwd in (programs[0], programs[-1]):
                own, calls = callgrind(command, cwd, env, args.warmup, args.callgrind_frames, work)
                instructions[name] = split_frame(own, calls, os.path.basename(command[0]),
                                                 args.callgrind_frames)
    print("Load average after:  %.2f %.2f %.2f" % os.getloadavg())
    for _, _, cwd in programs:
        shutil.rmtree(cwd, ignore_errors=True)
    report(results, instructions, args)


def report(results, instructions, args):
    names = list(results)
    med = {name: {key: statistics.median(r[key] for r in runs) for key in runs[0]}
           for name, runs in results.items()}
    floor = med["floor"]
    print()
    print("Frames: %d runs of %d frames each, the first %d left out; median [min-max] of the runs."
          % (args.runs, args.frames, args.warmup))
    print("%-28s %-20s %-19s %-19s %-19s %-8s %-10s" % ("", "FPS", "CPU ms per frame", "median frame ms",
                                                          "p99 frame ms", "p99/med", "FPS/floor"))
    for name in names:
        runs = results[name]
        print("%-28s %-20s %-19s %-19s %-19s %-8.2f %-10.2f" % (
            name, spread([r["fps"] for r in runs]), spread([r["cpu"] for r in runs], "%.2f"),
            spread([r["median"] for r in runs], "%.2f"), spread([r["p99"] for r in runs], "%.2f"),
            med[name]["pacing"], med[name]["fps"] / floor["fps"]))

    # Each round ran every program once, so a ratio within a round compares
    # two programs under the same load; CPU time per frame as the inverse
    # ratio, so that above 1 means faster in both columns.
    ratios = {}
    print()
    print("Ratios within each round: median [min-max] of the %d rounds." % args.runs)
    print("%-50s %-22s %-22s" % ("", "FPS ratio", "CPU time ratio"))
    for what, a, b in RATIOS:
        pairs = list(zip(results[a], results[b]))
        fps = [x["fps"] / y["fps"] for x, y in pairs]
        cpu = [y["cpu"] / x["cpu"] for x, y in pairs]
        ratios[what] = (statistics.median(fps), statistics.median(cpu))
        print("%-50s %-22s %-22s" % (what, spread(fps, "%.3f"), spread(cpu, "%.3f")))
        print("  %s / %s" % (a, b))

    print()
    print("Start-up, ms: median [min-max] of the runs; CPU time of the viewer's main thread and of")
    print("all its threads (llvmpipe's own threads and other processes compete for the cores).")
    print("%-30s %-20s %-20s %-20s %-20s" % ("stage", "viewer", "main thread CPU", "all threads CPU",
                                             "floor"))
    labels = [label for _, label in STAGES if label] + ["image decode and upload", "total to first frame"]
    for label in labels:
        cells = [spread([r[key] for r in results[name]]) if key in results[name][0] else "-"
                 for name, key in (("viewer", label), ("viewer", label + CPU), ("viewer", label + ALL_CPU),
                                   ("floor", label))]
        print("%-30s %-20s %-20s %-20s %-20s" % (label, *cells))

    print()
    print("Peak resident memory, MiB: median [min-max] of the runs.")
    for name in names:
        print("%-28s %s" % (name, spread([r["rss"] for r in results[name]])))

    own_share = None
    if instructions:
        print()
        print("Instructions per frame (callgrind, %d frames after %d), by where they run."
              % (args.callgrind_frames, args.warmup))
        groups = sorted({g for split in instructions.values() for g in split},
                        key=lambda g: -instructions["viewer"].get(g, 0))
        print("%-34s %-22s %-22s" % ("", "viewer", "floor"))
        totals = {name: sum(split.values()) for name, split in instructions.items()}
        for group in groups:
            cells = ["%12.0f %6.2f%%" % (split.get(group, 0), 100 * split.get(group, 0) / totals[name])
                     for name, split in instructions.items()]
            print("%-34s %-22s %-22s" % (group, *cells))
        print("%-34s %-22s %-22s" % ("total", *("%12.0f" % totals[n] for n in instructions)))
        viewer = instructions["viewer"]
        own = viewer.get(OWN, 0) + viewer.get(OWN_RUNTIME, 0)
        own_share = 100 * own / totals["viewer"]
        print("%-34s %12.0f %6.2f%%" % ("program + C/C++ runtime it calls", own, own_share))

    print()
    print("Targets (medians; the first two of the ratios within rounds):")
    viewer = med["viewer"]
    fps, cpu = ratios[RATIOS[0][0]]
    checks = [
        ("viewer FPS >= %.2f x plain unlit-texture FPS, within rounds" % TARGET_RATIO, fps >= TARGET_RATIO,
         "%.3f x" % fps),
        ("  the same in CPU time per frame (less sensitive to other load)", cpu >= TARGET_RATIO,
         "%.3f x" % cpu),
        ("viewer p99 frame time <= 1.5 x median", viewer["pacing"] <= 1.5, "%.2f x" % viewer["pacing"]),
    ]
    if own_share is not None:
        checks.append(("program's own code < 2% of a frame's instructions", own_share < 2,
                       "%.2f%%" % own_share))
    limited = [label for _, label in STAGES[:-1]
               if label not in UNLIMITED_STAGES and label not in ("image decode", "image upload and mipmaps")]
    limited.append("image decode and upload")
    slow = ["%s %.1f ms" % (label, viewer[label]) for label in limited if viewer[label] >= STAGE_LIMIT_MS]
    checks.append(("start-up stages < 10 ms (but context, shaders, first draw)", not slow,
                   "; ".join(slow) or "slowest %.1f ms" % max(viewer[label] for label in limited)))
    for text, met, figure in checks:
        print("  [%s] %s: %s" % ("met" if met else "MISSED", text, figure))


if __name__ == "__main__":
    main()
