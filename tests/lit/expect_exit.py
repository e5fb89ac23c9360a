#!/usr/bin/env python3
# expect_exit.py N COMMAND ARGS... - runs COMMAND, passes its output on, and
# exits with 0 when COMMAND exited with code N, else with 1 and a note.
import subprocess
import sys

want = int(sys.argv[1])
got = subprocess.call(sys.argv[2:])
if got != want:
    sys.stderr.write("expect_exit: %s exited with %d, expected %d\n" % (sys.argv[2], got, want))
    sys.exit(1)
sys.exit(0)
