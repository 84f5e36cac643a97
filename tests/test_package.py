"""The Debian package DEB as a user meets it in copies of clean Debian trees:
apt installs it from its own Depends; typed or from the menu, with or without
a scene's directory or an example's name, the command shows the build tree's
frame silently and ends with 0 on Escape; it answers without a window;
--new makes a scene that draws the same and --check runs without a display;
--shot, once Xvfb is there, writes the example's frame without one; a purge
leaves nothing.
Run as root by scripts/test-package.sh. Usage: test_package.py [RELEASE ...]
"""
import os
import shlex
import shutil
import subprocess
import sys
import tempfile

import harness

DEB = os.environ["DEB"]
CHROOT_SH = os.path.join(harness.SOURCE_DIR, "scripts", "chroot.sh")
RELEASES = [a for a in sys.argv[1:] if not a.startswith("-")] or ["bookworm", "trixie"]
CLOCK = 1.0  # the light stands in front of and to the right of the middle cube
KIT = "/opt/viewer-test"  # where the reference program and the preload appear in a tree


def shell(function, *args):
    """A command line that runs one of scripts/chroot.sh's functions."""
    return ["bash", "-c", 'source "$0"; "$@"', CHROOT_SH, function] + list(args)


def mounts():
    return subprocess.run(["findmnt", "-rn", "-o", "TARGET"], capture_output=True, text=True, check=True,
                          timeout=60).stdout


class Package(harness.TestCase):
    def setUp(self):
        cache = subprocess.run(shell("chroot_cache"), capture_output=True, text=True, check=True,
                               timeout=60).stdout.strip()
        self.before = mounts()
        os.makedirs(cache, exist_ok=True)
        self.tree = tempfile.mkdtemp(prefix="package-test-", dir=cache)
        self.addCleanup(shutil.rmtree, self.tree, ignore_errors=True)
        self.apt = os.path.join(cache, "apt")  # downloads, kept; apt still resolves afresh
        # The reference, the build tree's program with the repository's files, and the preload.
        self.kit = tempfile.mkdtemp(prefix="viewer-kit-")
        self.addCleanup(shutil.rmtree, self.kit, ignore_errors=True)
        harness.stage(os.path.join(self.kit, "root"))
        for source, name in ((harness.VIEWER, "viewer"), (harness.PRELOAD_LIB, "preload.so"), (DEB, "viewer.deb")):
            shutil.copy(source, os.path.join(self.kit, name))

    def tearDown(self):
        self.assertEqual(mounts(), self.before, "something stayed mounted")

    def in_tree(self, command, binds):
        """The command line that runs command in the tree with those binds."""
        binds = [arg for bind in binds for arg in ("--bind", bind)]
        return shell("chroot_run", self.tree, *binds, "--", *command)

    def run_in(self, *command, binds=(), **kw):
        return subprocess.run(self.in_tree(command, binds), stdin=subprocess.DEVNULL, **kw)

    def apt_get(self, release, *args):
        binds = []
        for part, guest in (("lists", "/var/lib/apt/lists"), ("archives", "/var/cache/apt/archives")):
            host = os.path.join(self.apt, release, part)
            os.makedirs(host, exist_ok=True)
            binds.append("%s:%s" % (host, guest))
        result = self.run_in("env", "DEBIAN_FRONTEND=noninteractive", "apt-get", "-q", "-y",
                             "-o", "DPkg::Lock::Timeout=600", *args, binds=binds + ["%s:%s" % (self.kit, KIT)],
                             capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, "apt-get %s:\n%s%s" % (" ".join(args), result.stdout, result.stderr))
        return result.stdout

    def frame(self, command, cwd):
        """The steady frame of command run in the tree from cwd at the fixed
        clock, which must print nothing and end with 0 on Escape."""
        # A desktop session has XDG_RUNTIME_DIR; without it GLFW 3.4 (Debian
        # 13), looking for a Wayland compositor first, has libwayland print
        # a complaint.
        env = ["env", "-C", cwd, "DISPLAY=" + self.server.display, "XDG_RUNTIME_DIR=/run/user/0",
               *("%s=%s" % item for item in harness.GL_OVERRIDE.items()),
               "LD_PRELOAD=%s/preload.so" % KIT, "FAKE_GLFW_TIME=%r" % CLOCK, "VIEWER_FRAMES_FILE=%s/frames" % KIT]
        frames = os.path.join(self.kit, "frames")
        open(frames, "w").close()
        return self.picture(self.kit, gl_override=False, preload=False, frames_file=frames,
                            command=self.in_tree(env + list(command), ["/tmp/.X11-unix:/tmp/.X11-unix",
                                                                       "%s:%s" % (self.kit, KIT)]))

    def check(self, release):
        tree = self.tree
        subprocess.run(shell("chroot_copy", release, tree), check=True, timeout=900)
        listing = subprocess.run("dpkg-deb --fsys-tarfile %s | tar -t" % shlex.quote(DEB), shell=True,
                                 capture_output=True, text=True, check=True, timeout=900).stdout.split()
        ours = [p for p in (q.lstrip(".").rstrip("/") for q in listing) if p and not os.path.lexists(tree + p)]
        self.assertIn("/usr/bin/viewer", ours)

        # Installed alone: apt must find everything from the package's own
        # Depends, without Recommends.
        self.apt_get(release, "update")
        self.apt_get(release, "install", "--no-install-recommends", KIT + "/viewer.deb")
        self.assertEqual(self.run_in("dpkg-query", "-W", "-f", "${Status}", "viewer", capture_output=True,
                                     text=True).stdout, "install ok installed")

        entry = tree + "/usr/share/applications/viewer.desktop"
        checked = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True, timeout=900)
        self.assertEqual((checked.returncode, checked.stdout), (0, ""))
        with open(entry) as f:
            exec_line = [line.split("=", 1)[1] for line in f if line.startswith("Exec=")]
        # Field codes such as %f stand for files the menu would pass: none here.
        menu_command = [a for a in shlex.split(exec_line[0]) if not a.startswith("%")]

        reference = self.frame([KIT + "/viewer"], KIT + "/root")
        self.assertEqual(reference[:2], (1280, 720))
        os.mkdir(tree + "/home/empty")
        os.makedirs(tree + "/run/user/0", mode=0o700)
        typed = self.frame(["viewer"], "/home/empty")
        self.assertTrue(typed == reference, "the installed command shows another frame")
        menu = self.frame(menu_command, "/root")
        self.assertTrue(menu == reference, "the menu entry shows another frame")
        self.assertEqual(os.listdir(tree + "/home/empty"), [], "the command wrote where it was started")

        # A scene of one's own, named on the command line; and the answers
        # the command gives without a window.
        harness.stage(os.path.join(self.kit, "own"), image=harness.png(4, 4, [[128] * 4] * 4, 8, 0))
        own = self.frame([KIT + "/viewer"], KIT + "/own")
        self.assertFalse(own == reference, "the scenes look alike")
        self.assertTrue(self.frame(["viewer", KIT + "/own"], "/home/empty") == own, "viewer DIR shows another frame")
        # An example by name, as the repository's copy draws it.
        harness.stage(os.path.join(self.kit, "toon"), vertex=harness.read("examples/toon/Shaders/OG_V.glsl"),
                      fragment=harness.read("examples/toon/Shaders/OG_F.glsl"))
        toon = self.frame([KIT + "/viewer"], KIT + "/toon")
        self.assertFalse(toon == reference, "the example looks like the installed scene")
        self.assertTrue(self.frame(["viewer", "--example", "toon"], "/home/empty") == toon,
                        "viewer --example toon shows another frame")
        # The example's frame at the same clock by --shot, with no display:
        # Xvfb is a Recommends, so first the line that asks for it.
        shot = ["env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "viewer", "--shot", "/home/toon.png", "--at",
                repr(CLOCK), "--example", "toon"]
        answer = self.run_in(*shot, capture_output=True, text=True)
        self.assertEqual((answer.returncode, answer.stdout, answer.stderr), (1, "", "viewer: --shot draws on a private "
                         "X server, and Xvfb is not installed (apt install xvfb)\n"))
        self.apt_get(release, "install", "--no-install-recommends", "xvfb")
        answer = self.run_in(*shot, capture_output=True, text=True)
        self.assertEqual((answer.returncode, answer.stdout, answer.stderr), (0, "", ""))
        shot = subprocess.run(["convert", "png:" + tree + "/home/toon.png", "-depth", "8", "rgb:-"],
                              capture_output=True, check=True, timeout=900).stdout
        self.assertTrue(shot == toon[2], "viewer --shot of the example shows another frame")
        # The scene author's commands: a copy to edit draws the same, and the
        # check, with no display, passes the example and names a missing file.
        self.assertEqual(self.run_in("viewer", "--new", "/home/mytoon", "--from", "toon", capture_output=True,
                                     text=True).returncode, 0)
        self.assertTrue(self.frame(["viewer", "/home/mytoon"], "/home/empty") == toon, "the new scene draws another")
        os.unlink(tree + "/home/mytoon/Shaders/OG_F.glsl")
        for args, status, out in ((["--example", "toon"], 0, ""),
                                  (["/home/mytoon"], 1, "/home/mytoon/Shaders/OG_F.glsl: missing; ")):
            answer = self.run_in("env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "viewer", "--check", *args,
                                 capture_output=True, text=True)
            self.assertEqual((answer.returncode, answer.stderr), (status, ""), args)
            self.assertTrue(answer.stdout.startswith(out) and (out or not answer.stdout), answer.stdout)
        for args, status, start in ((["--help"], 0, "Usage: viewer [DIR]\n"), (["-h"], 0, "Usage: viewer [DIR]\n"),
                                    (["--version"], 0, "viewer 1"),
                                    (["--example", "shiny"], 2, 'viewer: no example named "shiny"; the examples are: '),
                                    (["/nonexistent"], 2, "viewer: /nonexistent does not exist\nUsage: "),
                                    (["--frobnicate"], 2, "viewer: unknown option --frobnicate\nUsage: ")):
            answer = self.run_in("viewer", *args, capture_output=True, text=True)
            self.assertEqual(answer.returncode, status, args)
            self.assertTrue((answer.stdout or answer.stderr).startswith(start), (args, answer.stdout, answer.stderr))

        self.apt_get(release, "purge", "viewer")
        left = [p for p in ours if os.path.lexists(tree + p)]
        left += [f for f in os.listdir(tree + "/var/lib/dpkg/info") if f.startswith("viewer.")]
        self.assertEqual(left, [], "left behind by the purge")


# One test for each release asked for.
for name in RELEASES:
    setattr(Package, "test_" + name, lambda self, release=name: self.check(release))


if __name__ == "__main__":
    harness.main(sys.argv[:1])
