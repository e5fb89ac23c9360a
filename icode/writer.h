// icode/writer.h - the I-code writer.
//
// Writes the optimized program back in the I-code format: header, the main
// record stream function by function, then the sections, and finally the
// rewritten header.  The command-line set-up starts it on the output file
// with the program context and the input's format version, hands it every
// option-set record and the command-line comment.
//
// This is the interface the driver builds against.  The byte output (header,
// records, sections) comes with the writer's own work; until then the writer
// keeps what it is given and the output file stays empty.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace zor {

class PROGRAM;

class IcodeWriter {
public:
  struct OptionSetRecord {
    uint32_t number = 0;
    std::vector<std::string> texts;
  };

  // Starts a writer on `out` (open for binary writing, owned by the caller,
  // which closes it after close()).  `program` may be null in tests.
  static std::unique_ptr<IcodeWriter> open(FILE *out, PROGRAM *program, int version);
  ~IcodeWriter();
  IcodeWriter(const IcodeWriter &) = delete;
  IcodeWriter &operator=(const IcodeWriter &) = delete;

  // An option-set record to write into the option-set section.
  void add_option_set(uint32_t number, std::vector<std::string> texts);
  // A comment record of the main stream.
  void comment(const std::string &text);
  // Writes the sections and rewrites the header, then flushes the file.
  void close();

  int version() const { return version_; }
  bool closed() const { return closed_; }
  const std::vector<OptionSetRecord> &option_sets() const { return option_sets_; }
  const std::vector<std::string> &comments() const { return comments_; }

private:
  IcodeWriter(FILE *out, PROGRAM *program, int version)
      : out_(out), program_(program), version_(version) {}

  FILE *out_;
  PROGRAM *program_;
  int version_;
  bool closed_ = false;
  std::vector<OptionSetRecord> option_sets_;
  std::vector<std::string> comments_;
};

} // namespace zor
