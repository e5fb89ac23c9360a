#!/usr/bin/env python3
# run_each.py DIR COMMAND ARGS... - runs COMMAND ARGS FILE for every file of
# DIR in name order.  Prints "== NAME: exit N" and the command's standard
# error for each; exits with 1 when any run ends otherwise than with 0 or 1
# (a crash, a sanitizer report), else with 0.
import os
import subprocess
import sys

directory = sys.argv[1]
command = sys.argv[2:]
bad = False
for name in sorted(os.listdir(directory)):
    path = os.path.join(directory, name)
    if not os.path.isfile(path):
        continue
    run = subprocess.run(command + [path], stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE)
    print("== %s: exit %d" % (name, run.returncode))
    sys.stdout.write(run.stderr.decode("latin-1"))
    if run.returncode not in (0, 1):
        bad = True
sys.exit(1 if bad else 0)
