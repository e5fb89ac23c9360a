// tests/support/tool_run.h - runs the project's tools in a scratch directory.
//
// A ToolDir is a fresh temporary directory, removed with the object; tools
// are started in it with their standard output and error sent to files
// there, and the result carries the exit code (or the killing signal) and
// both texts.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zor::test {

struct ToolResult {
  int code = -1;     // exit code, or -1 when killed by a signal
  int signal = 0;    // the signal that killed it
  std::string out, err;
};

class ToolDir {
public:
  explicit ToolDir(const char *prefix = "zor_tool");
  ~ToolDir();
  ToolDir(const ToolDir &) = delete;
  ToolDir &operator=(const ToolDir &) = delete;

  const std::string &dir() const { return dir_; }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  bool exists(const std::string &name) const;
  std::string read(const std::string &name) const;
  void write(const std::string &name, const std::vector<uint8_t> &bytes) const;

  // Starts `exe` in the directory with argv[0] = `argv0` and `args` after it.
  pid_t spawn(const char *exe, const std::vector<std::string> &args,
              const char *argv0) const;
  // Waits for a process started by spawn and collects its result.
  ToolResult wait_for(pid_t pid) const;
  ToolResult run(const char *exe, const std::vector<std::string> &args,
                 const char *argv0) const {
    return wait_for(spawn(exe, args, argv0));
  }

private:
  std::string dir_;
};

} // namespace zor::test
