// tools/zrun/zrun.cpp - the I-code interpreter.
//
//   zrun FILE [--entry NAME] [--stats] [--max-steps N] [--trace] [-- ARGS]
//
// Runs the program held in an I-code file from `main` (or NAME), with argc
// and argv made of FILE and ARGS: its standard output is the program's, its
// exit code main's result (low 8 bits) or the value given to exit.  zrun's
// own exit codes: 2 for a usage error or a file that cannot be read, 3 for a
// runtime error, 4 for the step limit, 134 for abort.  Runtime errors print
// "zrun: error: ... in FUNCTION at FILE:LINE".  --stats prints the counts of
// the run on standard error, one "name: value" line each; --trace prints
// every statement executed there.
#include <pthread.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "icode/reader.h"
#include "ir/program.h"
#include "tools/zrun/interp.h"

namespace {

using zor::run::kExitUsage;

// The interpreter recurses once per interpreted call and per tree level, so
// it runs on a thread of its own whose stack is large enough for the
// deepest call chain it accepts (kMaxCallDepth), sanitizers included.
constexpr size_t kInterpreterStack = size_t{1} << 30;

struct RunJob {
  zor::run::Interpreter *interp;
  int code;
};

void *run_job(void *arg) {
  auto *job = static_cast<RunJob *>(arg);
  job->code = job->interp->run();
  return nullptr;
}

int run_on_large_stack(zor::run::Interpreter &interp) {
  RunJob job{&interp, 0};
  pthread_attr_t attr;
  pthread_t thread;
  if (pthread_attr_init(&attr) == 0) {
    bool started = pthread_attr_setstacksize(&attr, kInterpreterStack) == 0 &&
                   pthread_create(&thread, &attr, run_job, &job) == 0;
    pthread_attr_destroy(&attr);
    if (started) {
      pthread_join(thread, nullptr);
      return job.code;
    }
  }
  // No thread to be had: run here, with the process's own stack.
  return interp.run();
}

// One "name: value" line per counter, in this order (see README).
void print_stats(const zor::run::RunStats &s) {
  std::fprintf(stderr,
               "statements: %" PRIu64 "\nnodes: %" PRIu64 "\nloads: %" PRIu64 "\nstores: %" PRIu64
               "\ncalls: %" PRIu64 "\nbranches: %" PRIu64 "\ncost: %" PRIu64 "\n",
               s.statements, s.nodes, s.loads, s.stores, s.calls, s.branches, s.cost);
}

int usage() {
  std::fprintf(stderr,
               "Usage: zrun FILE [--entry NAME] [--stats] [--max-steps N] [--trace] [-- ARGS]\n");
  return kExitUsage;
}

} // namespace

int main(int argc, char **argv) {
  std::string in;
  zor::run::RunOptions options;
  std::vector<std::string> program_args;
  bool stats = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--") {
      for (++i; i < argc; ++i)
        program_args.push_back(argv[i]);
      break;
    }
    if (a == "--entry" && i + 1 < argc) {
      options.entry = argv[++i];
    } else if (a == "--max-steps" && i + 1 < argc) {
      char *end = nullptr;
      errno = 0;
      unsigned long long n = std::strtoull(argv[++i], &end, 10);
      if (errno || !end || *end || argv[i][0] == '-' || argv[i][0] == 0) {
        std::fprintf(stderr, "zrun: invalid step count '%s'\n", argv[i]);
        return kExitUsage;
      }
      options.max_steps = n;
    } else if (a == "--stats") {
      stats = true;
    } else if (a == "--trace") {
      options.trace = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return usage();
    } else if (in.empty()) {
      in = a;
    } else {
      return usage();
    }
  }
  if (in.empty())
    return usage();
  options.args.push_back(in);
  options.args.insert(options.args.end(), program_args.begin(), program_args.end());

  FILE *f = std::fopen(in.c_str(), "rb");
  if (!f) {
    std::fprintf(stderr, "zrun: cannot read %s: %s\n", in.c_str(), std::strerror(errno));
    return kExitUsage;
  }
  zor::PROGRAM program;
  std::unique_ptr<zor::IcodeReader> reader;
  try {
    reader = zor::IcodeReader::open(f, program, program.types());
    if (!reader) {
      std::fprintf(stderr, "zrun: %s is not an I-code file\n", in.c_str());
      std::fclose(f);
      return kExitUsage;
    }
    reader->read_all();
  } catch (const std::exception &e) {
    std::string msg = e.what();
    while (!msg.empty() && (msg.back() == '\n' || msg.front() == '\n'))
      msg.erase(msg.back() == '\n' ? msg.size() - 1 : 0, 1);
    std::fprintf(stderr, "zrun: cannot read %s: %s\n", in.c_str(), msg.c_str());
    std::fclose(f);
    return kExitUsage;
  }
  zor::run::Interpreter interp(program, options);
  int code = run_on_large_stack(interp);
  if (stats)
    print_stats(interp.stats());
  reader.reset();
  std::fclose(f);
  return code;
}
