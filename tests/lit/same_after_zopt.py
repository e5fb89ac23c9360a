#!/usr/bin/env python3
# same_after_zopt.py --zopt ZOPT --zrun ZRUN [--levels 0,1,2,3] FILE.if [ARGS...]
# same_after_zopt.py --zopt ZOPT --zrun ZRUN --zas ZAS --each DIR --out TMPDIR
#
# The proof of an optimization is execution: runs the program FILE.if with
# zrun, then optimizes it with zopt (--verify) at each level and runs the
# result, and fails unless every run prints the same standard output and
# ends with the same exit code.  The optimized files are left beside the
# input as FILE.oN.opt for inspection.  With --each, every .ict program of
# DIR is assembled into TMPDIR and checked so, and each is named as it goes.
import argparse
import os
import shutil
import subprocess
import sys

parser = argparse.ArgumentParser()
parser.add_argument("--zopt", required=True)
parser.add_argument("--zrun", required=True)
parser.add_argument("--levels", default="0,1,2,3")
parser.add_argument("--zas")
parser.add_argument("--each")
parser.add_argument("--out")
parser.add_argument("program", nargs="?")
parser.add_argument("args", nargs="*")
opts = parser.parse_args()


def run(path, args=None):
    cmd = [opts.zrun, path]
    if opts.args:
        cmd += ["--"] + opts.args
    r = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return r.returncode, r.stdout.decode("latin-1"), r.stderr.decode("latin-1")




def check(program):
    """Returns the program's output; reports each level that changes it."""
    want = run(program)
    if want[0] == 86 or want[0] < 0:
        sys.stderr.write("same_after_zopt: zrun itself fails on %s: %s" % (program, want[2]))
        return want[1], False
    base = os.path.splitext(program)[0]
    ok = True
    for level in opts.levels.split(","):
        src = "%s.o%s.if" % (base, level)
        shutil.copyfile(program, src)
        out = "%s.o%s.opt" % (base, level)
        z = subprocess.run([opts.zopt, "-o", level, "--verify", src, out],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if z.returncode != 0:
            sys.stderr.write("same_after_zopt: zopt -o%s on %s exited with %d:\n%s%s" %
                             (level, program, z.returncode, z.stdout.decode("latin-1"),
                              z.stderr.decode("latin-1")))
            ok = False
            continue
        got = run(out)
        if got[:2] != want[:2]:
            sys.stderr.write("same_after_zopt: -o%s changes %s: exit %d, expected %d\n"
                             "--- output before\n%s--- output after\n%s%s" %
                             (level, program, got[0], want[0], want[1], got[1], got[2]))
            ok = False
    return want[1], ok


if opts.each:
    os.makedirs(opts.out, exist_ok=True)
    all_ok = True
    for name in sorted(os.listdir(opts.each)):
        if not name.endswith(".ict"):
            continue
        target = os.path.join(opts.out, name[:-4] + ".if")
        subprocess.run([opts.zas, os.path.join(opts.each, name), "-o", target], check=True)
        _, ok = check(target)
        print("%s: %s" % (name, "same" if ok else "CHANGED"))
        all_ok &= ok
    sys.exit(0 if all_ok else 1)

output, ok = check(opts.program)
sys.stdout.write(output)
sys.exit(0 if ok else 1)
