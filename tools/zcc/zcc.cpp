// tools/zcc/zcc.cpp - the C front end.
//
//   zcc [-I DIR] [-D NAME[=VAL]] [-U NAME] [-o OUT.if] FILE.c
//   zcc -O N --run [--keep] [-I DIR] [-D NAME[=VAL]] FILE.c [-- ARGS]
//
// Clang parses and type-checks FILE.c for a 32-bit target without the
// host's headers (zcc's own, tools/zcc/include, follow the ZOR data model);
// the Lowerer turns the typed tree into I-code, written to OUT.if (FILE's
// stem + ".if" by default).  Errors of clang are printed by clang; a
// construct zcc does not compile is reported as
// "zcc: FILE:LINE:COL: error: unsupported: ..."; both exit with code 1.
//
// With --run, zcc also optimizes the file with zopt at level N and runs it
// with zrun (both found beside zcc), passing it the arguments after "--",
// and exits with the program's exit code; --keep leaves the intermediate files (.if, .opt, .nfo, .odb) in the
// current directory instead of a scratch directory.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <clang/AST/ASTConsumer.h>
#include <clang/Basic/DiagnosticSema.h>
#include <clang/Frontend/CompilerInstance.h>
#include <clang/Frontend/FrontendAction.h>
#include <clang/Lex/Pragma.h>
#include <clang/Lex/Preprocessor.h>
#include <clang/Tooling/CompilationDatabase.h>
#include <clang/Tooling/Tooling.h>

#include "tools/zcc/lower.h"

namespace fs = std::filesystem;
using namespace zor::zcc;

namespace {

constexpr char kUsage[] =
    "Usage: zcc [-I DIR] [-D NAME[=VAL]] [-U NAME] [-o OUT.if] FILE.c\n"
    "       zcc -O N --run [--keep] [-I DIR] [-D NAME[=VAL]] FILE.c [-- ARGS]\n";

struct Options {
  std::vector<std::string> clang_args;   // -I, -D, -U as given
  std::string input;
  std::string output;
  int level = 1;
  bool run = false;
  bool keep = false;
  std::vector<std::string> program_args;   // after "--", for the run
};

// The state one compilation shares between clang's callbacks and main.
struct Compilation {
  std::string input;            // as the user wrote it
  std::vector<LoopPragma> pragmas;
  std::unique_ptr<Module> module;
  bool failed = false;
};

// "#pragma UNROLL(4)", "#pragma MUST_ITERATE(2, 16, 2)": the arguments as
// written, split at the commas of the outer parentheses.
class LoopPragmaHandler : public clang::PragmaHandler {
public:
  LoopPragmaHandler(const char *name, uint8_t kind, Compilation &c)
      : clang::PragmaHandler(name), kind_(kind), c_(c) {}

  void HandlePragma(clang::Preprocessor &pp, clang::PragmaIntroducer intro,
                    clang::Token &first) override {
    LoopPragma p;
    p.loc = intro.Loc;
    p.name = getName().str();
    p.kind = kind_;
    clang::Token tok;
    pp.Lex(tok);
    if (tok.is(clang::tok::l_paren)) {
      int depth = 1;
      std::string arg;
      for (pp.Lex(tok); !tok.is(clang::tok::eod); pp.Lex(tok)) {
        if (tok.is(clang::tok::l_paren))
          ++depth;
        if (tok.is(clang::tok::r_paren) && --depth == 0)
          break;
        if (tok.is(clang::tok::comma) && depth == 1) {
          p.args.push_back(arg);
          arg.clear();
          continue;
        }
        arg += pp.getSpelling(tok);
      }
      p.args.push_back(arg);
    }
    while (!tok.is(clang::tok::eod))
      pp.Lex(tok);
    c_.pragmas.push_back(std::move(p));
  }

private:
  uint8_t kind_;
  Compilation &c_;
};

// A file under the working directory is named relative to it.
std::string relative_name(const std::string &name) {
  std::error_code ec;
  std::string cwd = fs::current_path(ec).string() + "/";
  if (name.size() > cwd.size() && name.compare(0, cwd.size(), cwd) == 0)
    return name.substr(cwd.size());
  return name;
}

class LowerConsumer : public clang::ASTConsumer {
public:
  explicit LowerConsumer(Compilation &c) : c_(c) {}

  void HandleTranslationUnit(clang::ASTContext &ctx) override {
    if (ctx.getDiagnostics().hasErrorOccurred()) {
      c_.failed = true;
      return;
    }
    auto module = std::make_unique<Module>();
    try {
      Lowerer lowerer(ctx, *module, c_.pragmas);
      lowerer.lower_unit();
    } catch (const Unsupported &u) {
      report(ctx, u);
      c_.failed = true;
      return;
    } catch (const std::exception &e) {
      // A type or tree zcc built that the I-code library rejects: a defect
      // of zcc, reported rather than a crash.
      std::string what = e.what();
      while (!what.empty() && (what.back() == '\n' || what.front() == '\n'))
        what = what.back() == '\n' ? what.substr(0, what.size() - 1) : what.substr(1);
      std::fprintf(stderr, "zcc: %s: error: internal error: %s\n", c_.input.c_str(), what.c_str());
      c_.failed = true;
      return;
    }
    c_.module = std::move(module);
  }

private:
  void report(clang::ASTContext &ctx, const Unsupported &u) {
    const clang::SourceManager &sm = ctx.getSourceManager();
    clang::PresumedLoc p =
        u.loc.isValid() ? sm.getPresumedLoc(sm.getExpansionLoc(u.loc)) : clang::PresumedLoc();
    const char *kind = u.source_error ? "" : "unsupported: ";
    if (p.isValid())
      std::fprintf(stderr, "zcc: %s:%u:%u: error: %s%s\n",
                   relative_name(p.getFilename()).c_str(), p.getLine(), p.getColumn(), kind,
                   u.what.c_str());
    else
      std::fprintf(stderr, "zcc: %s: error: %s%s\n", c_.input.c_str(), kind, u.what.c_str());
  }

  Compilation &c_;
};

class LowerAction : public clang::ASTFrontendAction {
public:
  explicit LowerAction(Compilation &c) : c_(c) {}

protected:
  bool BeginSourceFileAction(clang::CompilerInstance &ci) override {
    clang::Preprocessor &pp = ci.getPreprocessor();
    pp.AddPragmaHandler(new LoopPragmaHandler("UNROLL", kPragmaUnroll, c_));
    pp.AddPragmaHandler(new LoopPragmaHandler("MUST_ITERATE", kPragmaMustIterate, c_));
    // Clang folds a static assertion with its own type sizes, which are not
    // the ZOR's: zcc checks the assertions itself once the unit is parsed.
    clang::DiagnosticsEngine &diags = ci.getDiagnostics();
    diags.setSeverity(clang::diag::err_static_assert_failed, clang::diag::Severity::Ignored, {});
    diags.setSeverity(clang::diag::err_static_assert_requirement_failed,
                      clang::diag::Severity::Ignored, {});
    return true;
  }
  std::unique_ptr<clang::ASTConsumer> CreateASTConsumer(clang::CompilerInstance &,
                                                        llvm::StringRef) override {
    return std::make_unique<LowerConsumer>(c_);
  }

private:
  Compilation &c_;
};

class LowerActionFactory : public clang::tooling::FrontendActionFactory {
public:
  explicit LowerActionFactory(Compilation &c) : c_(c) {}
  std::unique_ptr<clang::FrontendAction> create() override {
    return std::make_unique<LowerAction>(c_);
  }

private:
  Compilation &c_;
};

// The name cut at its last '.', unless a path separator follows that dot.
std::string stem(const std::string &name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.find_first_of('/', dot) != std::string::npos)
    return name;
  return name.substr(0, dot);
}

// Returns 0 and fills `o`, or the exit code (-1: help was printed).
int parse_args(int argc, char **argv, Options &o) {
  auto value = [&](int &i, const char *opt) -> const char * {
    size_t n = std::strlen(opt);
    if (argv[i][n] != '\0')
      return argv[i] + n;
    if (i + 1 >= argc) {
      std::fprintf(stderr, "zcc: error: %s needs a value\n%s", opt, kUsage);
      return nullptr;
    }
    return argv[++i];
  };
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return -1;
    }
    if (a == "--") {
      // The rest are the program's arguments when zcc runs it.
      for (++i; i < argc; ++i)
        o.program_args.push_back(argv[i]);
      break;
    }
    if (a == "--run") {
      o.run = true;
    } else if (a == "--keep") {
      o.keep = true;
    } else if (a.rfind("-I", 0) == 0 || a.rfind("-D", 0) == 0 || a.rfind("-U", 0) == 0) {
      std::string opt = a.substr(0, 2);
      const char *v = value(i, opt.c_str());
      if (!v)
        return 1;
      o.clang_args.push_back(opt + v);
    } else if (a.rfind("-o", 0) == 0) {
      const char *v = value(i, "-o");
      if (!v)
        return 1;
      o.output = v;
    } else if (a.rfind("-O", 0) == 0) {
      const char *v = value(i, "-O");
      if (!v)
        return 1;
      char *end = nullptr;
      long n = std::strtol(v, &end, 10);
      if (*v == '\0' || *end != '\0' || n < 0 || n > 4) {
        std::fprintf(stderr, "zcc: error: -O takes a level from 0 to 4, not '%s'\n", v);
        return 1;
      }
      o.level = static_cast<int>(n);
    } else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "zcc: error: unknown option '%s'\n%s", a.c_str(), kUsage);
      return 1;
    } else if (o.input.empty()) {
      o.input = a;
    } else {
      std::fprintf(stderr, "zcc: error: more than one input file\n%s", kUsage);
      return 1;
    }
  }
  if (o.input.empty()) {
    std::fprintf(stderr, "%s", kUsage);
    return 1;
  }
  if (!o.program_args.empty() && !o.run) {
    std::fprintf(stderr, "zcc: error: program arguments after -- need --run\n%s", kUsage);
    return 1;
  }
  return 0;
}

// Clang's command line: a 32-bit target with 32-bit int and long and a
// 64-bit long long, no host headers, zcc's own headers and prelude.
std::vector<std::string> clang_command(const Options &o) {
  const std::string inc = ZCC_INCLUDE_DIR;
  std::vector<std::string> args = {
      "zcc",           "-target",  "i386-unknown-none", "-ffreestanding", "-nostdinc",
      "-fno-builtin",  "-std=gnu11", "-w",              "-D__ZOR__=1",     "-isystem",
      inc,             "-include", inc + "/_zcc_prelude.h"};
  args.insert(args.end(), o.clang_args.begin(), o.clang_args.end());
  return args;
}

int compile(const Options &o, const std::string &output) {
  if (!fs::exists(o.input)) {
    std::fprintf(stderr, "zcc: error: cannot read '%s': %s\n", o.input.c_str(),
                 std::strerror(ENOENT));
    return 1;
  }
  Compilation c;
  c.input = o.input;
  std::vector<std::string> args = clang_command(o);
  clang::tooling::FixedCompilationDatabase db(".", std::vector<std::string>(args.begin() + 1, args.end()));
  clang::tooling::ClangTool tool(db, {o.input});
  LowerActionFactory factory(c);
  int rc = tool.run(&factory);
  if (rc != 0 || c.failed || !c.module)
    return 1;
  return zor::zcc::write_module(*c.module, output, "zcc") ? 0 : 1;
}

// The directory of this executable.
fs::path self_dir(const char *argv0) {
  std::error_code ec;
  fs::path p = fs::read_symlink("/proc/self/exe", ec);
  if (ec)
    p = fs::absolute(argv0);
  return p.parent_path();
}

// A tool of the chain: beside zcc, or where the build puts it.
std::string find_tool(const fs::path &dir, const char *name) {
  for (const fs::path &p : {dir / name, dir / ".." / name, dir / ".." / "driver" / name,
                            dir / ".." / ".." / "driver" / name, dir / ".." / "tools" / name}) {
    if (fs::exists(p))
      return p.lexically_normal().string();
  }
  return name;
}

int run_tool(const std::vector<std::string> &cmd) {
  std::vector<char *> argv;
  for (const std::string &s : cmd)
    argv.push_back(const_cast<char *>(s.c_str()));
  argv.push_back(nullptr);
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid < 0)
    return 1;
  if (pid == 0) {
    execv(argv[0], argv.data());
    execvp(argv[0], argv.data());
    std::fprintf(stderr, "zcc: error: cannot run %s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) < 0)
    return 1;
  if (WIFEXITED(status))
    return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

// compile, optimize, run.
int compile_and_run(const Options &o, const char *argv0) {
  fs::path dir;
  if (o.keep) {
    dir = fs::current_path();
  } else {
    char tmpl[] = "/tmp/zcc-run-XXXXXX";
    if (!mkdtemp(tmpl)) {
      std::fprintf(stderr, "zcc: error: cannot make a scratch directory\n");
      return 1;
    }
    dir = tmpl;
  }
  std::string base = fs::path(stem(o.input)).filename().string();
  std::string ifile = (dir / (base + ".if")).string();
  std::string ofile = (dir / (base + ".opt")).string();
  int rc = compile(o, ifile);
  if (rc == 0) {
    fs::path self = self_dir(argv0);
    std::vector<std::string> zopt = {find_tool(self, "zopt"), "-o" + std::to_string(o.level)};
    if (o.keep) {
      // The information file and the debug log are kept for inspection.
      zopt.push_back("--info=3");
      zopt.push_back("--debug_output=1");
    }
    zopt.push_back(ifile);
    rc = run_tool(zopt);
    if (rc != 0)
      std::fprintf(stderr, "zcc: error: zopt failed with exit code %d\n", rc);
    else
    {
      std::vector<std::string> zrun = {find_tool(self, "zrun"), ofile};
      if (!o.program_args.empty()) {
        zrun.push_back("--");
        zrun.insert(zrun.end(), o.program_args.begin(), o.program_args.end());
      }
      rc = run_tool(zrun);
    }
  }
  if (o.keep) {
    std::fprintf(stderr, "zcc: kept %s.{if,opt,nfo,odb} in %s\n", base.c_str(), dir.c_str());
  } else {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  return rc;
}

} // namespace

int main(int argc, char **argv) {
  Options o;
  if (int rc = parse_args(argc, argv, o))
    return rc < 0 ? 0 : rc;
  int rc;
  if (o.run) {
    rc = compile_and_run(o, argv[0]);
  } else {
    std::string output = o.output.empty() ? stem(o.input) + ".if" : o.output;
    rc = compile(o, output);
  }
  if (rc == 1) {
    // A refused program leaves the trees that were being built when the
    // lowering stopped; the run ends at once rather than release them.
    std::fflush(nullptr);
    std::_Exit(1);
  }
  return rc;
}
