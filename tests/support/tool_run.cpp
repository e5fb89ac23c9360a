// tests/support/tool_run.cpp - runs the project's tools in a scratch directory.
#include "tests/support/tool_run.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zor::test {

ToolDir::ToolDir(const char *prefix) {
  std::string tmpl = "/tmp/" + std::string(prefix) + "_XXXXXX";
  if (!mkdtemp(tmpl.data()))
    throw std::runtime_error("cannot make a temporary directory");
  dir_ = tmpl;
}

ToolDir::~ToolDir() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

bool ToolDir::exists(const std::string &name) const {
  return std::filesystem::exists(path(name));
}

std::string ToolDir::read(const std::string &name) const {
  std::ifstream in(path(name), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void ToolDir::write(const std::string &name, const std::vector<uint8_t> &bytes) const {
  std::ofstream out(path(name), std::ios::binary);
  out.write(reinterpret_cast<const char *>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

pid_t ToolDir::spawn(const char *exe, const std::vector<std::string> &args,
                     const char *argv0) const {
  std::vector<std::string> words{argv0};
  words.insert(words.end(), args.begin(), args.end());
  const std::string out = path(".stdout"), err = path(".stderr");
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir_.c_str()) != 0)
      _exit(127);
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(o, 1);
    dup2(e, 2);
    std::vector<char *> argv;
    for (std::string &w : words)
      argv.push_back(w.data());
    argv.push_back(nullptr);
    execv(exe, argv.data());
    _exit(127);
  }
  return pid;
}

ToolResult ToolDir::wait_for(pid_t pid) const {
  ToolResult r;
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status))
    r.code = WEXITSTATUS(status);
  if (WIFSIGNALED(status))
    r.signal = WTERMSIG(status);
  r.out = read(".stdout");
  r.err = read(".stderr");
  return r;
}

} // namespace zor::test
