// driver/fileopt.h - command-line set-up (OPT5/fileopt).
//
// Reads the command line, opens the input I-code file, the information and
// debug outputs and the output I-code file, builds the option sets from the
// command line and the file's option-set records, and applies the file-level
// set.  On return the reader is positioned after the header and the
// option-set records, the program context exists and is the reader's client,
// and the writer has been started.  User and file errors end the run here
// with their message and exit code 1.
#pragma once

namespace zor {

void setup_command_line(int argc, char **argv);

} // namespace zor
