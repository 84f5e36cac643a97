#!/usr/bin/env python3
"""Benchmark of the viewer on Mesa's software rasteriser: interleaved on one
Xvfb, the viewer, the viewer with simpler shaders, and the floor program
(clear and swap only); the tests' preload stamps start-up and every swap and
closes the window after a set number of frames. Then callgrind counts the
instructions of a few frames. DIR: a build configured with -DVIEWER_BENCH=ON.
"""
import argparse
import collections
import os
import platform
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
import harness  # noqa: E402

# The fragment variants replace the shipped fragment shader (the linker drops
# the vertex outputs they no longer read); each also runs with this plain
# vertex shader, which draws every face.
PLAIN_VERTEX = b"""#version 460 core
layout (location = 0) in vec3 aPos;
layout (location = 1) in vec2 aTexCoord;
out vec2 TexCoord;
uniform mat4 model, view, projection;
void main() { TexCoord = aTexCoord; gl_Position = projection * view * model * vec4(aPos, 1.0); }
"""
FLAT_FRAGMENT = b"""#version 460 core
out vec4 FragColor;
void main() { FragColor = vec4(0.8, 0.5, 0.2, 1.0); }
"""
UNLIT_FRAGMENT = b"""#version 460 core
in vec2 TexCoord;
out vec4 FragColor;
uniform sampler2D texture0;
void main() { FragColor = vec4(texture(texture0, TexCoord).rgb, 1.0); }
"""
FLAT, UNLIT, PLAIN = "flat colour", "unlit texture", ", plain vertex"
# Ratios of two programs' frame rates, each taken within one round, where the
# two ran side by side: (what, numerator, denominator).
RATIOS = [("viewer against a plain pipeline (the yardstick)", "viewer", UNLIT + PLAIN),
          ("lighting, with the shipped vertex shader", "viewer", UNLIT),
          ("vertex stage, unlit texture", UNLIT, UNLIT + PLAIN), ("vertex stage, flat colour", FLAT, FLAT + PLAIN)]
TARGET_RATIO = 0.85
# Start-up, from the preload's events: (label, from, to); "spawn" is the
# moment before the process is started.
STAGES = [("exec and libraries, to main", "spawn", "init"), ("window, context and GL loader", "init", "context"),
          ("shaders, mesh, image, first frame", "context", "frame"), ("total to first frame", "spawn", "frame")]


def run(server, command, cwd, frames, env=None):
    """One run until the preload closes the window after `frames` frames."""
    env = dict(env or {}, VIEWER_CLOSE_AFTER=str(frames))
    viewer = harness.Viewer(server.display, cwd, command=command, env=env)
    try:
        _, status, usage = os.wait4(viewer.proc.pid, 0)
        viewer.proc.returncode = os.waitstatus_to_exitcode(status)
        printed = viewer.stdout() + viewer.stderr()
        if viewer.proc.returncode or (printed.strip() and command[0] != "valgrind"):
            raise RuntimeError("%s in %s ended with %d:\n%s" % (command[-1], cwd, viewer.proc.returncode, printed))
        return viewer.started, viewer.events(), usage.ru_maxrss / 1024
    finally:
        viewer.dispose()


def measure(started, events, rss, warmup):
    """Rates, pacing and start-up of one run."""
    first = {name: t for name, t, *_ in reversed(events)}
    first["spawn"] = started
    swaps = [(t, cpu) for name, t, cpu, _ in events if name == "frame"][warmup:]
    seconds = (swaps[-1][0] - swaps[0][0]) / 1e9
    intervals = sorted((b[0] - a[0]) / 1e6 for a, b in zip(swaps, swaps[1:]))
    result = {"fps": (len(swaps) - 1) / seconds, "cpu": (swaps[-1][1] - swaps[0][1]) / 1e6 / (len(swaps) - 1),
              "median": statistics.median(intervals), "rss": rss,
              "pacing": intervals[int(len(intervals) * 0.99)] / statistics.median(intervals)}
    for label, start, end in STAGES:
        if start in first and end in first:
            result[label] = (first[end] - first[start]) / 1e6
    return result


def instructions(server, command, cwd, warmup, frames):
    """Instructions per frame of `frames` frames after `warmup`, by object."""
    out = os.path.join(tempfile.mkdtemp(prefix="bench-callgrind-"), "callgrind.out")
    valgrind = ["valgrind", "--tool=callgrind", "--instr-atstart=no", "--callgrind-out-file=" + out]
    run(server, valgrind + command, cwd, warmup + frames, {"VIEWER_CALLGRIND_FROM": str(warmup)})
    # The preload's dump is the first part; the end-of-run dump is left out.
    per_object, names, ob = collections.Counter(), {}, None
    with open(out + ".1") as f:
        for line in f:
            if line.startswith(("ob=", "cob=")):
                # Compressed names: "(id) name" the first time, "(id)" after,
                # the first time perhaps as a callee's.
                key, _, rest = line.split("=", 1)[1].strip().partition(")")
                names[key] = rest.strip() or names.get(key, key)
                ob = names[key] if line.startswith("ob=") else ob
            elif line.startswith("calls="):
                next(f)  # the call's inclusive cost, counted where it was spent
            elif line[:1].isdigit() or line[:1] in "+-*":
                fields = line.split()
                per_object[os.path.basename(ob or "???")] += int(fields[1]) if len(fields) > 1 else 0
    return {name: ir / frames for name, ir in per_object.items()}


def first_frame(server, cwd):
    """Process start to the first presented frame of one run of the viewer, ms."""
    started, events, _ = run(server, [harness.VIEWER], cwd, 1)
    return (next(t for name, t, *_ in events if name == "frame") - started) / 1e6


def watch_latency(server, build, runs):
    """viewer --watch, installed from the build: for each of `runs` saves by
    rename (as editors save), the rename to the first frame presented after
    the reload, ms; beside the viewer's own start, cold (its first run here)
    and warm (a run just before each save). The watch's standard error goes
    into the preload's events file, so that its reload lines fall in order
    between the frames."""
    prefix = tempfile.mkdtemp(prefix="bench-prefix-")
    subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True, stdout=subprocess.DEVNULL)
    scene = harness.stage()
    cold, warm, latencies = first_frame(server, scene), [], []
    command = ["sh", "-c", 'exec "$0" --watch "$1" 2>>"$VIEWER_FRAMES_FILE"', os.path.join(prefix, "bin", "viewer"),
               scene]
    watch = harness.Viewer(server.display, scene, command=command)

    def events():
        with open(watch.frames_file) as f:
            return [line.split() for line in f if line.endswith("\n")]

    def after_reload(count):
        """The time of the first frame after the count-th reload line, or None."""
        lines = [i for i, e in enumerate(events()) if e[-1] == "reloaded"]
        frames = [int(e[1]) for e in events()[lines[count - 1]:] if e[0] == "frame"] if len(lines) >= count else []
        return frames[0] if frames else None
    try:
        watch.until(lambda: any(e[0] == "frame" for e in events()), "the watch's first frame")
        for i in range(1, runs + 1):
            warm.append(first_frame(server, harness.stage()))
            fragment = os.path.join(scene, "Shaders", "OG_F.glsl")
            with open(fragment + ".new", "wb") as f:
                f.write(harness.read("Shaders/OG_F.glsl"))
            os.rename(fragment + ".new", fragment)
            saved = time.monotonic_ns()
            watch.until(lambda: after_reload(i), "save %d's frame" % i)
            latencies.append((after_reload(i) - saved) / 1e6)
        if sum(e[0] == "init" for e in events()) != 1:
            raise RuntimeError("the watch started the viewer more than once")
    finally:
        watch.dispose()
    return cold, warm, latencies


def spread(values, fmt="%.1f"):
    """Median with the range of all runs: "12.3 [11.9-13.0]"."""
    return (fmt + " [" + fmt + "-" + fmt + "]") % (statistics.median(values), min(values), max(values))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, help="build tree configured with -DVIEWER_BENCH=ON")
    parser.add_argument("--runs", type=int, default=7, help="runs of each program (default 7)")
    parser.add_argument("--frames", type=int, default=500, help="frames of each run (default 500)")
    parser.add_argument("--warmup", type=int, default=20, help="first frames left out of the rates")
    parser.add_argument("--callgrind-frames", type=int, default=10, help="frames counted by callgrind")
    parser.add_argument("--no-callgrind", action="store_true", help="leave out the instruction counts")
    parser.add_argument("--watch-only", action="store_true", help="only viewer --watch's save-to-frame latency")
    args = parser.parse_args()
    viewer = [os.path.abspath(os.path.join(args.build, "viewer"))]
    programs = {"viewer": (viewer, harness.stage()),
                "floor": ([os.path.abspath(os.path.join(args.build, "tools", "bench_floor"))], harness.stage())}
    for name, fragment in ((FLAT, FLAT_FRAGMENT), (UNLIT, UNLIT_FRAGMENT)):
        programs[name] = (viewer, harness.stage(fragment=fragment))
        programs[name + PLAIN] = (viewer, harness.stage(vertex=PLAIN_VERTEX, fragment=fragment))
    harness.PRELOAD_LIB = os.path.abspath(os.path.join(args.build, "tests", "preload.so"))
    with open("/proc/cpuinfo") as f:
        model = next((line.split(":", 1)[1].strip() for line in f if line.startswith("model name")), "?")
    print("Machine: %s, %d cores, %s; load average before: %.2f %.2f %.2f"
          % (model, os.cpu_count(), platform.platform(), *os.getloadavg()))
    results = collections.defaultdict(list)
    harness.VIEWER = viewer[0]
    with harness.Xvfb() as server:
        cold, warm, latencies = watch_latency(server, args.build, args.runs)
        print("\nviewer --watch, a save by rename to the first frame after the reload, ms: %s; the viewer's own"
              " start, cold %.1f, warm %s; latency / warm start (medians) %.2f; goal 150 ms or less, under 0.3"
              % (spread(latencies), cold, spread(warm), statistics.median(latencies) / statistics.median(warm)))
        if args.watch_only:
            return
        for _ in range(args.runs):
            for name, (command, cwd) in programs.items():
                results[name].append(measure(*run(server, command, cwd, args.frames), args.warmup))
        counts = {} if args.no_callgrind else {
            name: instructions(server, programs[name][0], programs[name][1], args.warmup, args.callgrind_frames)
            for name in ("viewer", "floor")}
    print("Load average after: %.2f %.2f %.2f" % os.getloadavg())

    print("\nFrames: %d runs of %d frames each, the first %d left out; median [min-max] of the runs."
          % (args.runs, args.frames, args.warmup))
    print("%-28s %-22s %-22s %-22s %-22s %s" % ("", "FPS", "CPU ms per frame", "median frame ms", "p99/median",
                                                "peak MiB"))
    for name, runs in results.items():
        print("%-28s %-22s %-22s %-22s %-22s %s" % (name, *(spread([r[k] for r in runs], f) for k, f in (
            ("fps", "%.1f"), ("cpu", "%.2f"), ("median", "%.2f"), ("pacing", "%.2f"), ("rss", "%.1f")))))
    print("\nRatios of frame rates within each round: median [min-max] of the %d rounds." % args.runs)
    ratios = {}
    for what, a, b in RATIOS:
        ratios[what] = [x["fps"] / y["fps"] for x, y in zip(results[a], results[b])]
        print("%-50s %s  (%s / %s)" % (what, spread(ratios[what], "%.3f"), a, b))
    print("\nStart-up of the viewer, ms: median [min-max] of the runs.")
    for label, _, _ in STAGES:
        print("%-36s %s" % (label, spread([r[label] for r in results["viewer"]])))
    for name, per_object in counts.items():
        total = sum(per_object.values())
        top = sorted(per_object.items(), key=lambda item: -item[1])[:5]
        print("\nInstructions per frame of the %s (callgrind, %d frames after %d): %.0f; most in %s"
              % (name, args.callgrind_frames, args.warmup, total,
                 ", ".join("%s %.1f%%" % (obj, 100 * ir / total) for obj, ir in top)))
    yardstick = statistics.median(ratios[RATIOS[0][0]])
    print("\nTarget: the viewer at %.0f%% or more of a plain pipeline's frame rate: %s (%.3f)"
          % (100 * TARGET_RATIO, "met" if yardstick >= TARGET_RATIO else "MISSED", yardstick))


if __name__ == "__main__":
    main()
