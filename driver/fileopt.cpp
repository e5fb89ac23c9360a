// driver/fileopt.cpp - command-line set-up (OPT5/fileopt).
//
// The steps run in a fixed order that the rest of the run relies on: the
// option sets are complete before any file but the input is opened, the
// debug output exists before the writer starts, and the command line is the
// first comment record of the output.
#include "driver/fileopt.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/build_stamp.h"
#include "driver/options.h"
#include "driver/run.h"
#include "driver/startup.h"
#include "driver/switches.h"
#include "icode/reader.h"
#include "icode/writer.h"
#include "ir/node.h"
#include "ir/program.h"
#include "ir/symtab.h"

namespace zor {

namespace {

// The reader's client from the moment the input is opened.  The option-set
// records arrive while the reader opens, before the program context is the
// client; they are kept here for the option sets, the writer and the debug
// listing.  Once attached, every callback goes to the program context.
class SetupClient final : public IcodeClient {
public:
  struct Record {
    uint32_t number;
    std::vector<std::string> texts;
  };
  std::vector<Record> records;

  void attach(IcodeClient *client) { target_ = client; }

  bool accept_version(int version, int check) override {
    return target_ ? target_->accept_version(version, check) : true;
  }
  void option_set(uint32_t number, std::vector<std::string> texts) override {
    records.push_back({number, texts});
    if (target_)
      target_->option_set(number, std::move(texts));
  }
  void after_types() override { to().after_types(); }
  void before_stream() override { to().before_stream(); }
  void function_begin(I_SYMTAB *fn, SrcPos pos) override { to().function_begin(fn, pos); }
  void body_begin(SrcPos pos) override { to().body_begin(pos); }
  void block_begin(SrcPos pos) override { to().block_begin(pos); }
  void block_end(SrcPos pos) override { to().block_end(pos); }
  void function_end(SrcPos pos) override { to().function_end(pos); }
  void position(SrcPos pos) override { to().position(pos); }
  void statement(BASE_NODE *tree, SrcPos pos) override { to().statement(tree, pos); }
  void label(uint32_t number) override { to().label(number); }
  void inline_asm(const std::string &text, SrcPos pos) override { to().inline_asm(text, pos); }
  void pragma(const std::string &text) override { to().pragma(text); }
  void pragma_record(PragmaRecord *rec) override { to().pragma_record(rec); }
  I_SYMTAB *new_symbol(const SymbolRecord &rec) override { return to().new_symbol(rec); }
  void symbol_complete(I_SYMTAB *sym) override { to().symbol_complete(sym); }
  void attribute_list(I_SYMTAB *sym, PragmaRecord *rec) override {
    to().attribute_list(sym, rec);
  }
  void initializer(I_SYMTAB *sym, std::vector<BASE_NODE *> trees) override {
    to().initializer(sym, std::move(trees));
  }
  void exception_table(std::vector<EhtEntry> entries) override {
    to().exception_table(std::move(entries));
  }
  BASE_NODE *make_node(uint32_t op, TYPE *type) override { return to().make_node(op, type); }
  void discard_tree(BASE_NODE *tree) override { to().discard_tree(tree); }

private:
  // Anything beyond the header and the option sets before the program
  // context is attached is a fault of the set-up order.
  IcodeClient &to() {
    if (!target_)
      terminate_abnormally("I-code records read before the program context exists");
    return *target_;
  }

  IcodeClient *target_ = nullptr;
};

const char *next_argument() {
  if (run.next_arg < run.argc && run.argv[run.next_arg])
    return run.argv[run.next_arg++];
  return nullptr;
}

void copy_name(char (&to)[kFileNameSize], const std::string &from) {
  std::snprintf(to, sizeof to, "%s", from.c_str());
}

[[noreturn]] void cannot_open(const char *what, const char *name) {
  std::fprintf(stderr, "\n>> Cannot Open %s, %s : %s, Aborting\n", what, name,
               std::strerror(errno));
  std::exit(1);
}

// Steps 7: one option set per record of the file, each followed by the
// command line; set 0 from the command line alone when the file has none.
void build_option_sets(const SetupClient &setup, const option_set &command_line) {
  bool no_file_options = command_line.given(OPT_IGNORE_FILE_OPTIONS);
  for (const SetupClient::Record &rec : setup.records) {
    auto set = std::make_unique<option_set>(command_line.trace());
    char source[64];
    std::snprintf(source, sizeof source, "option set %u", rec.number);
    set->set_source(source);
    if (!no_file_options)
      for (const std::string &text : rec.texts)
        if (!text.empty())
          set->parse(text.c_str() + 1);
    set->set_source("command line");
    set->copy_from(command_line);
    run.option_sets[rec.number] = std::move(set);
  }
  auto &level0 = run.option_sets[0];
  if (!level0) {
    level0 = std::make_unique<option_set>(command_line.trace());
    level0->set_source("command line");
    level0->copy_from(command_line);
  }
  run.file_options = level0.get();
}

void write_info_header(FILE *f) {
  std::fprintf(f, "%-40.40s%s\n", kToolTitle, tool_version_text());
  std::fprintf(f, "Build Number %s\n", build_stamp().c_str());
}

} // namespace

void setup_command_line(int argc, char **argv) {
  // 1. The command-line option set; the tool name; the next-word callback.
  run.argc = argc;
  run.argv = argv;
  run.next_arg = 1;
  run.command_line_options = std::make_unique<option_set>();
  option_set &cl = *run.command_line_options;
  cl.set_source("command line");
  if (argc > 0 && argv[0])
    run.tool_name = argv[0];
  cl.set_next_argument(next_argument);

  // 2. Fatal signals, and the hooks through which the trees log and fail.
  install_signal_handlers();
  ir_debug_stream = [] { return run.debug_flag ? run.debug : static_cast<FILE *>(nullptr); };
  ir_terminate = [] { terminate_abnormally(nullptr); };
  ir_opt_level = opt_level;

  // 3. Options and file names.
  int files = 0;
  std::string second_name;
  while (run.next_arg < argc && argv[run.next_arg]) {
    const char *word = argv[run.next_arg++];
    if (word[0] == '-') {
      cl.parse(word + 1);
      if (cl.given(OPT_TRACE_OPTIONS))
        cl.set_trace(true);
      if (cl.given(OPT_HELP)) {
        print_help(stdout, run.tool_name);
        std::exit(0);
      }
      continue;
    }
    ++files;
    if (files == 1)
      copy_name(run.input_name, word);
    else if (files == 2)
      second_name = word;
    else if (files > 3)
      std::fprintf(stderr, "\n>>>> OPTIMIZER ERROR: Unexpected options: %s %s %s\n",
                   run.input_name, second_name.c_str(), word);
  }

  // 4.
  if (files == 0) {
    std::fprintf(stderr, "Usage: %s [-options] filename\n",
                 argc > 0 && argv[0] ? argv[0] : run.tool_name);
    std::exit(1);
  }

  // 5.
  run.input = std::fopen(run.input_name, "rb");
  if (!run.input)
    cannot_open("Input icode File", run.input_name);

  // 6. The reader binds the type package it is opened with, so the program
  // context is allocated here; it becomes the reader's client in step 9,
  // after the option sets it depends on are applied.
  auto client = std::make_unique<SetupClient>();
  SetupClient &setup = *client;
  run.reader_client = std::move(client);
  run.program = std::make_unique<PROGRAM>();
  run.reader = IcodeReader::open(run.input, setup, run.program->types());
  if (!run.reader) {
    std::fprintf(stderr, "\n>> Error when opening input icode file : %s, Aborting\n",
                 run.input_name);
    std::exit(1);
  }

  // 7.
  build_option_sets(setup, cl);
  option_set &fl = *run.file_options;
  if (fl.given(OPT_DUMP_OPTIONS)) {
    fl.dump(stdout);
    std::exit(0);
  }

  // 8.
  reset_option_variables();
  apply_option_set(fl);
  for (const auto &entry : run.option_sets)
    if (entry.second.get() != &fl)
      check_option_set(*entry.second);
  option_vars.ignore_file_options = cl.given(OPT_IGNORE_FILE_OPTIONS);

  // 9.
  setup.attach(run.program.get());

  // 10.
  bool debug_output = fl.given(OPT_DEBUG_OUTPUT);
  if (debug_output) {
    if (!fl.given(OPT_INFO) || fl.value(OPT_INFO) == 0)
      fl.set_number(OPT_INFO, 1);
    if (opt_for_speed() < 4)
      std::fputs("\n\t*** Optimizing code size, not speed ***\n\n", stderr);
  }

  // 11.  A third file name is counted and ignored; only words beyond it
  // make the command line garbage.
  if (files == 1)
    copy_name(run.output_name, strip_extension(run.input_name) + ".opt");
  else if (files <= 3)
    copy_name(run.output_name, second_name);
  else {
    std::fputs("\n>>>> OPTIMIZER ERROR: Garbage on command line\n\n", stderr);
    std::exit(1);
  }

  // 12.
  if (opt_level() < 3 && !debug_output) {
    fl.clear(OPT_INFO);
  } else if (fl.given(OPT_INFO) && fl.value(OPT_INFO) != 0) {
    std::string name = fl.given(OPT_INFO_FILE) ? std::string(fl.text(OPT_INFO_FILE))
                                               : strip_extension(run.input_name) + ".nfo";
    run.info = std::fopen(name.c_str(), "w");
    if (!run.info)
      cannot_open("Info File", name.c_str());
    run.info_flag = fl.value(OPT_INFO);
    write_info_header(run.info);
  }

  // 13. Debug categories count only while debug output is on.
  if (debug_output) {
    open_debug_file(true);
    run.debug_flag = fl.value(OPT_DEBUG_OUTPUT);
  }
  if (!run.debug_flag)
    for (bool &category : option_vars.debug_category)
      category = false;

  // 14.
  option_vars.simd_active = sw::debug("SIMD") != 0 || option_vars.vector_target_simd;

  // 15.
  clear_inliner_run_list();

  // 16.
  run.output = std::fopen(run.output_name, "wb");
  if (!run.output)
    cannot_open("Output icode File", run.output_name);
  // The writer writes its own format version; the input's producer text is
  // carried into the output header.
  run.writer = IcodeWriter::open(run.output, run.program->types(), run.reader->header().producer);
  for (const SetupClient::Record &rec : setup.records)
    run.writer->add_option_set(rec.number, rec.texts);

  // 17.
  if (option_vars.all_lvalues_volatile) {
    const char *warning = "\n>>>> Warning: All non-auto lvalues are considered VOLATILE.\n\n";
    std::fputs(warning, stderr);
    debug_printf("%s", warning);
  }

  // 18.
  std::string line = ";\t";
  for (int i = 0; i < argc && argv[i]; ++i) {
    line += argv[i];
    line += ' ';
  }
  run.writer->comment(line);
  debug_printf("%s\n", line.c_str());
  if (run.debug_flag && !setup.records.empty()) {
    for (const SetupClient::Record &rec : setup.records) {
      debug_printf("Option set %d%s:\n", static_cast<int>(rec.number),
                   rec.number == 0 ? " (file-level options)" : "");
      if (!option_vars.ignore_file_options)
        for (const std::string &text : rec.texts)
          debug_printf("\t%s\n", text.c_str());
    }
    debug_printf("\n");
  }
}

} // namespace zor
