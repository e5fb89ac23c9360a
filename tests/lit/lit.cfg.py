# lit configuration of the textual tests (tests/lit).
#
# A test is an .ict file (I-code in its text form, docs/icode-text.md) or a
# .test file whose RUN lines drive the tools.  Substitutions:
#   %zas, %zdis, %zopt, %zrun   the tools of this build
#   %expect_exit N       runs the rest of the line and succeeds when it exits
#                        with code N (a crash under the sanitizers does not)
#   %run_each DIR CMD    runs CMD on every file of DIR; fails when one run
#                        ends otherwise than with 0 or 1
#   %same_after_zopt F   runs program F with zrun before and after zopt at
#                        levels 0 to 3 and fails unless output and exit
#                        code agree; prints the output
#   %inputs              tests/lit/Inputs, the fixtures
#   %zcc                 the C front end, where it is built (feature "zcc")
#   FileCheck, not, count, split-file   from the LLVM tools
import os
import re
import sys

import lit.formats

config.name = "zor"
config.test_format = lit.formats.ShTest(execute_external=False)
config.suffixes = [".ict", ".test"]
config.excludes = ["Inputs", "CMakeLists.txt", "lit.cfg.py", "lit.site.cfg.py.in",
                   "expect_exit.py", "run_each.py", "same_after_zopt.py"]
config.test_source_root = os.path.dirname(__file__)
config.test_exec_root = os.path.join(config.zor_binary_dir, "tests", "lit")

here = os.path.dirname(os.path.abspath(__file__))
config.substitutions.append(("%zas", config.zas))
config.substitutions.append(("%zdis", config.zdis))
config.substitutions.append(("%zopt", config.zopt))
config.substitutions.append(("%zrun", config.zrun))
config.substitutions.append(("%inputs", os.path.join(here, "Inputs")))
config.substitutions.append(
    ("%expect_exit", "%s %s" % (sys.executable, os.path.join(here, "expect_exit.py"))))
config.substitutions.append(
    ("%same_after_zopt", "%s %s --zopt %s --zrun %s" % (
        sys.executable, os.path.join(here, "same_after_zopt.py"), config.zopt, config.zrun)))
config.substitutions.append(
    ("%run_each", "%s %s" % (sys.executable, os.path.join(here, "run_each.py"))))
for tool in ["FileCheck", "not", "count", "split-file"]:
    config.substitutions.append(
        (r"(?<![\w/.\-])%s\b" % re.escape(tool), os.path.join(config.llvm_tools_dir, tool)))

# The C front end and its tests (tests/c, .c files with RUN lines): only
# where zcc is built (it needs clang's shared libraries).
if getattr(config, "zcc", ""):
    config.substitutions.append(("%zcc", config.zcc))
    config.available_features.add("zcc")

# Sanitizer reports must not look like the tools' own exit code 1.
config.environment["ASAN_OPTIONS"] = "exitcode=86:detect_leaks=1"
config.environment["UBSAN_OPTIONS"] = "exitcode=86:print_stacktrace=1"
