// driver/main.cpp - entry point of zopt.
//
// The whole run happens inside one guarded block: a failed allocation ends
// in abnormal termination, a fatal I-code error prints its message, and any
// other exception is reported as an internal failure.  The run never returns
// from main; every path ends in exit.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "driver/fileopt.h"
#include "driver/options.h"
#include "driver/pipeline.h"
#include "driver/run.h"
#include "driver/startup.h"
#include "driver/switches.h"
#include "icode/reader.h"
#include "ir/node_info.h"
#include "ir/program.h"

namespace zor {
namespace {

void check_operator_table() {
  OpTableCheck check;
  if (run.debug_flag)
    check.debug = [](const char *line) { debug_printf("%s", line); };
  check.stop = [] { terminate_abnormally(nullptr); };
  validate_if_node_info(check);
}

[[noreturn]] void run_optimizer(int argc, char **argv) {
  setup_command_line(argc, argv);
  check_operator_table();
  init_type_tables(*run.program);
  setup_inliner(option_vars.inline_mode, opt_level());
  create_builtin_functions(*run.program);
  build_pass_list(true);
  if (sw::debug("parser")) {
    // The machine-description parser runs here on its own (writing
    // "md.out") once the machine-description work provides it; the run
    // then ends normally.
  } else {
    run_pipeline(*run.reader, *run.program);
  }
  finish_outputs();
  run.program.reset();
  std::exit(0);
}

} // namespace
} // namespace zor

int main(int argc, char **argv) {
  try {
    zor::run_optimizer(argc, argv);
  } catch (const std::bad_alloc &) {
    zor::terminate_abnormally("ERROR - OUT OF MEMORY");
  } catch (const zor::IcodeFatal &e) {
    std::fputs(e.what(), stderr);
    std::exit(1);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "Exception:  %s\n", e.what());
    zor::print_defect_notice(stderr);
    std::exit(1);
  }
}
