// driver/run.cpp - run state, debug log, abnormal termination, fatal signals.
//
// Everything here may run at any point of the run, including from inside a
// signal handler (the handler itself), so these routines use only the run
// state and the standard streams and never allocate on the failure paths.
#include "driver/run.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "driver/option_set.h"
#include "driver/switches.h"
#include "icode/reader.h"
#include "icode/writer.h"
#include "ir/funinfo.h"
#include "ir/program.h"
#include "ir/symtab.h"

namespace zor {

RunState run;

namespace {

const char kDefectNotice[] =
    "\nThis failure is caused by a defect in the optimizer.  Your tool-chain\n"
    "vendor's customer support may be able to suggest a workaround, and\n"
    "upgrading to the newest version of the compiler may fix the problem.\n"
    "Please report it through your tool-chain vendor's support channel.  The\n"
    "entire error message and a complete, reproducible test case including all\n"
    "the command-line options are needed, including the preprocessed source\n"
    "file created by the compiler option \"--preproc_with_comment\".\n";

// Set while terminate_abnormally closes the files, so that a failure on that
// path (a writer that cannot flush) does not start the sequence again.
bool terminating = false;

void write_fd(int fd, const char *text) {
  size_t len = std::strlen(text);
  while (len > 0) {
    ssize_t n = ::write(fd, text, len);
    if (n <= 0) {
      if (n < 0 && errno == EINTR)
        continue;
      return;
    }
    text += n;
    len -= static_cast<size_t>(n);
  }
}

// Closes the writer (and the output file) and the reader (and its input
// file), whichever exist, the writer first: the positions it still writes
// at close name files through the reader's file-name table.  An abandoned
// writer closes its file without the sections and the header rewrite.
// Returns non-zero when the output could not be completed (a stream error,
// a failed flush or close).
int close_icode_files(bool abandon) {
  int result = 0;
  if (run.writer) {
    std::unique_ptr<IcodeWriter> writer = std::move(run.writer);
    result = writer->close(abandon);
  }
  if (run.output) {
    if (std::fclose(run.output) != 0)
      result = 1;
    run.output = nullptr;
  }
  run.reader.reset();
  if (run.input) {
    std::fclose(run.input);
    run.input = nullptr;
  }
  return result;
}

extern "C" void fatal_signal_handler(int sig) {
  const char *tool = run.tool_name ? run.tool_name : "unknown";
  char line[2400];
  bool interrupt = sig == SIGINT;
#ifdef SIGBREAK
  interrupt = interrupt || sig == SIGBREAK;
#endif
  if (interrupt) {
    std::snprintf(line, sizeof line, "[%s forced exit]\n", tool);
    write_fd(2, line);
    _exit(2);
  }
  if (sig == SIGTERM) {
    std::snprintf(line, sizeof line, "[%s received a terminate signal]\n", tool);
    write_fd(2, line);
    _exit(2);
  }

  // The context is cut to its 2048-character buffer on purpose.
  char context[2048];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-truncation"
  std::snprintf(context, sizeof context, "while processing function %s file %s",
                currfunc ? currfunc->name() : "<unknown>", run.input_name);
#pragma GCC diagnostic pop
  std::snprintf(line, sizeof line, "\nINTERNAL ERROR: %s %s\n", tool, signal_description(sig));
  write_fd(2, line);
  if (context[0]) {
    std::snprintf(line, sizeof line, "                  %s\n", context);
    write_fd(2, line);
  }
  write_fd(2, "\n");
  std::fflush(nullptr);
  write_fd(2, kDefectNotice);
  report_signal_in_outputs(sig);
  _exit(2);
}

} // namespace

void *xmalloc(size_t size) {
  void *p = std::malloc(size ? size : 1);
  if (!p) {
    std::fputs("ERROR: out of memory\n", stderr);
    std::exit(1);
  }
  return p;
}

char *xstrdup(const char *text) {
  size_t len = std::strlen(text) + 1;
  return static_cast<char *>(std::memcpy(xmalloc(len), text, len));
}

void debug_printf(const char *fmt, ...) {
  if (!run.debug_flag || !run.debug)
    return;
  va_list ap;
  va_start(ap, fmt);
  int n = std::vfprintf(run.debug, fmt, ap);
  va_end(ap);
  if (n < 0 || std::fflush(run.debug) != 0)
    terminate_abnormally("Write to the debug output failed");
}

std::string strip_extension(const char *name) {
  const char *dot = std::strrchr(name, '.');
  if (!dot || std::strpbrk(dot, "/\\"))
    return name;
  return std::string(name, static_cast<size_t>(dot - name));
}

void open_debug_file(bool fatal, const char *suffix) {
  if (run.debug && !suffix)
    return;
  std::string name = strip_extension(run.input_name);
  if (suffix) {
    name += '.';
    name += suffix;
  }
  if (name.size() > 250)
    name.resize(250);
  name += ".odb";

  if (run.debug) {
    std::fprintf(run.debug, ">>>> SWITCHING LOG TO %s\n", name.c_str());
    std::fflush(run.debug);
  }
  FILE *f = std::fopen(name.c_str(), "w");
  if (!f) {
    std::fprintf(stderr, "\n>> Cannot Open Debug File, %s : %s, Aborting\n", name.c_str(),
                 std::strerror(errno));
    if (fatal)
      std::exit(1);
    run.debug = stderr;
    return;
  }
  run.debug = f;
}

void print_defect_notice(FILE *out) {
  std::fputs(kDefectNotice, out);
  std::fflush(out);
}

void terminate_abnormally(const char *msg) {
  if (!terminating) {
    terminating = true;
    try {
      close_icode_files(true);
    } catch (...) {
      // The output file is deleted below anyway.
    }
  }
  if (run.output_name[0])
    std::remove(run.output_name);

  if (run.debug_flag && run.debug) {
    std::fputs("\n>>>> Optimizer terminated abnormally.\n", run.debug);
    if (msg)
      std::fprintf(run.debug, "\n>>>> %s.\n", msg);
    std::fflush(run.debug);
  }

  std::fputs("\n>>>> Optimizer terminated abnormally\n", stderr);
  if (currfunc) {
    std::fprintf(stderr, ">>>>    in function %s()\n", currfunc->name());
    if (currfuninfo && !currfuninfo->file_name.empty())
      std::fprintf(stderr, ">>>>    in file \"%s\"\n", currfuninfo->file_name.c_str());
  }
  if (msg)
    std::fprintf(stderr, "\n>>>> %s.\n", msg);
  print_defect_notice(stderr);

  if (sw::debug("abort")) {
    // A real abort for the debugger, not the fatal-signal report.
    std::signal(SIGABRT, SIG_DFL);
    std::abort();
  }
  std::exit(1);
}

void finish_outputs() {
  if (close_icode_files(false) != 0) {
    // A file error: the incomplete output is not left behind.
    std::fprintf(stderr, "\n>> Cannot Write Output icode File, %s : %s, Aborting\n",
                 run.output_name, std::strerror(errno));
    std::remove(run.output_name);
    std::exit(1);
  }
  if (run.debug_flag && run.debug) {
    std::fputs("\n== END OF DEBUG OUTPUT==\n", run.debug);
    std::fflush(run.debug);
  }
  if (run.info_flag && run.info) {
    std::fputs("\n== END OF INFO OUTPUT==\n", run.info);
    std::fflush(run.info);
  }
}

const char *signal_name(int sig) {
  switch (sig) {
  case SIGILL: return "SIGILL";
  case SIGFPE: return "SIGFPE";
  case SIGSEGV: return "SIGSEGV";
  case SIGTERM: return "SIGTERM";
  case SIGABRT: return "SIGABRT";
  default: return "<unknown>";
  }
}

const char *signal_description(int sig) {
  switch (sig) {
  case SIGILL: return "executed an illegal instruction";
  case SIGFPE: return "received a floating point exception";
  case SIGSEGV: return "experienced a segmentation fault";
  case SIGABRT: return "had an internal inconsistency and aborted";
  default: return "experienced a fatal internal fault";
  }
}

void report_signal_in_outputs(int sig) {
  char line[128];
  std::snprintf(line, sizeof line, "\n>>>> Optimizer terminated by signal: %s.\n", signal_name(sig));
  if (run.debug_flag && run.debug) {
    std::fputs(line, run.debug);
    std::fflush(run.debug);
  }
  if (run.info_flag && run.info) {
    std::fputs(line, run.info);
    std::fflush(run.info);
  }
}

void install_signal_handlers() {
  const int signals[] = {SIGILL, SIGABRT, SIGFPE, SIGSEGV, SIGTERM, SIGINT,
#ifdef SIGBREAK
                         SIGBREAK,
#endif
  };
  for (int sig : signals)
    std::signal(sig, fatal_signal_handler);
}

} // namespace zor
