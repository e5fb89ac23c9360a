// driver/run.h - the process-wide run state and the run's outer shell.
//
// One RunState lives for the whole run: the command line, the file names and
// streams, the I-code reader and writer, the debug and info outputs with
// their flags, the option sets and the program context.  This header also
// holds the routines every part of the optimizer ends in or logs through:
// `debug_printf`, `terminate_abnormally`, `finish_outputs`, and the
// fatal-signal handler that the command-line set-up installs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

namespace zor {

class IcodeClient;
class IcodeReader;
class IcodeWriter;
class PROGRAM;
class option_set;

// Room for a file name, terminator included.
constexpr size_t kFileNameSize = 4096;

struct RunState {
  // Name used in every message that names the tool; the first command-line
  // word replaces it at start.
  const char *tool_name = "<toolname>";

  // Command line and the index of the next word not read yet.
  char **argv = nullptr;
  int argc = 0;
  int next_arg = 1;

  char input_name[kFileNameSize] = {};
  char output_name[kFileNameSize] = {};

  FILE *input = nullptr;
  FILE *output = nullptr;
  // The reader's client during set-up (it collects the option-set records
  // and hands everything else to the program); must outlive the reader.
  std::unique_ptr<IcodeClient> reader_client;
  std::unique_ptr<IcodeReader> reader;
  std::unique_ptr<IcodeWriter> writer;

  // Info output is written only while info_flag is non-zero; it holds the
  // value of the information-file option (the information level).
  FILE *info = nullptr;
  long info_flag = 0;
  // Debug output is written only while debug_flag is non-zero; it holds the
  // value of the debug-output option (the trace level).
  FILE *debug = nullptr;
  long debug_flag = 0;

  // The command-line option set, the per-function sets by option-set number
  // and the file-level set (number 0).
  std::unique_ptr<option_set> command_line_options;
  std::map<uint32_t, std::unique_ptr<option_set>> option_sets;
  option_set *file_options = nullptr;

  std::unique_ptr<PROGRAM> program;
};

extern RunState run;

// Formatted write to the debug output followed by a flush, only while the
// debug flag is set.  A failed write ends the run through
// terminate_abnormally.
void debug_printf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Opens the debug output file "<input stem>[.<suffix>].odb" (the part before
// ".odb" cut to 250 characters).  Acts only when no debug stream is open yet
// or when a suffix is given; an open stream first receives a
// ">>>> SWITCHING LOG TO" line.  The previous stream is not closed: whoever
// switches remembers it.  On failure the run exits with code 1 when `fatal`,
// else the debug output falls back to standard error.
void open_debug_file(bool fatal, const char *suffix = nullptr);

// The input name without its extension: cut at the last "." unless a "/" or
// "\" follows it.
std::string strip_extension(const char *name);

// Ends the run after an internal failure: closes the reader and writer,
// deletes the output I-code file, reports on the debug output and on
// standard error (with the current function and its file), prints the
// defect notice and exits with code 1 (aborts under the switch
// "debug:abort").  `msg` may be null.
[[noreturn]] void terminate_abnormally(const char *msg);

// The fixed paragraph printed on standard error after every internal failure.
void print_defect_notice(FILE *out = stderr);

// End of run: closes the reader and the writer and writes the end markers of
// the debug and info outputs.  When the output I-code file cannot be
// completed, "Cannot Write Output icode File" is reported, the file is
// removed and the run exits with code 1.
void finish_outputs();

// Installs the fatal-signal handler for SIGILL, SIGABRT, SIGFPE, SIGSEGV,
// SIGTERM, SIGINT (and SIGBREAK where the platform has it).
void install_signal_handlers();

// The signal hook: reports a fatal signal in the debug and info outputs.
void report_signal_in_outputs(int sig);

// Name of a fatal signal as the hook prints it ("SIGSEGV", ..., "<unknown>").
const char *signal_name(int sig);
// What the handler says the tool did ("experienced a segmentation fault", ...).
const char *signal_description(int sig);

// The plain allocator of the option code: on failure prints
// "ERROR: out of memory\n" on standard error and exits with code 1.
void *xmalloc(size_t size);
char *xstrdup(const char *text);

} // namespace zor
