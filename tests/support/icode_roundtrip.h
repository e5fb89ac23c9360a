// tests/support/icode_roundtrip.h - writing programs and comparing I-code
// files in tests.
//
// write_program() writes a whole program the way a level-0 run does (every
// function, then the program data, then close) and checks that the result
// is a file the project's reader accepts.  decode() reads a file with a
// RecordingClient and names derived types by their printed form, so that
// two files can be compared line by line whatever identifiers they give
// their types.  comparable() then takes out what the writer changes on
// purpose (see the .cpp), so that a file and its rewritten form decode
// alike.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "icode/reader.h"
#include "ir/program.h"
#include "tests/support/icode_image.h"

namespace zor::test {

// A scratch file for the writer; bytes() reads back everything written.
class ScratchFile {
public:
  ScratchFile();
  ~ScratchFile();
  ScratchFile(const ScratchFile &) = delete;
  ScratchFile &operator=(const ScratchFile &) = delete;
  FILE *get() const { return file_; }
  std::vector<uint8_t> bytes() const;

private:
  FILE *file_ = nullptr;
};

// A program context read from an image, with the reader that read it: the
// positions of the program point into the reader's file-name table, so the
// reader lives as long as the program.
struct ReadProgram {
  std::unique_ptr<MemFile> file;
  std::unique_ptr<IcodeReader> reader;
  std::unique_ptr<PROGRAM> program;

  PROGRAM &operator*() const { return *program; }
  PROGRAM *operator->() const { return program.get(); }
  const IcodeHeader &header() const { return reader->header(); }
};

// Reads an image into a new program context.
ReadProgram read_program(const std::vector<uint8_t> &bytes);

struct WriteSetup {
  std::string producer = "test";
  std::vector<std::pair<uint32_t, std::vector<std::string>>> option_sets;
  std::string comment;   // a command-line comment record when not empty
};

// Writes `program` as a level-0 run writes it and returns the bytes.  Fails
// the current test (ADD_FAILURE) when the reader refuses the result.
std::vector<uint8_t> write_program(PROGRAM &program, const WriteSetup &setup = WriteSetup());

// read_program, then write_program with the header's producer and option
// sets.
std::vector<uint8_t> rewrite(const std::vector<uint8_t> &bytes);

// The reader's report of a file as RecordingClient lines; derived types
// appear as their printed form in braces ("{(*int )}").
std::vector<std::string> decode(const std::vector<uint8_t> &bytes);

// decode()'s report without the differences a rewrite makes on purpose:
// the version, the command-line comment, position updates and block
// records, the symbol fields the writer changes (flags beyond the file's
// mask, offsets of classes other than 4, 9 and 22, initializer positions,
// declared types in place of normalized ones), the reader's own operator
// rewrites, the numbers of DDNODE and VREG nodes (the optimizer's nodes keep
// none) and the root entry of exception tables.
std::vector<std::string> comparable(const std::vector<uint8_t> &bytes);

// The lines of comparable() without the function bodies' statements,
// labels, inline assembly, pragma records and position records: what
// stays when the optimizer reshapes the bodies (compare those by running
// the program).
std::vector<std::string> declarations(const std::vector<std::string> &lines);

// Joined with newlines, for readable test failures.
std::string joined(const std::vector<std::string> &lines);

// The records of the main stream as written: tag and payload, from the end
// of the header up to the 255 that ends the stream.
struct RawRecord {
  uint8_t tag = 0;
  std::vector<uint8_t> payload;
};
std::vector<RawRecord> main_records(const std::vector<uint8_t> &bytes);
// Where the header record ends.
size_t header_end(const std::vector<uint8_t> &bytes);

// The file with its command-line comment record (an inline-assembly record
// without position right after the header) taken out and the header's
// section offsets moved back by its length.
std::vector<uint8_t> without_comment(const std::vector<uint8_t> &bytes);

} // namespace zor::test
