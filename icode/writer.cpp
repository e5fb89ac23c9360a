// icode/writer.cpp - the I-code writer.
//
// The record and section output is the writer's own later work; for now the
// writer records what the driver gives it and flushes the file on close, so
// that the output file exists and the driver's sequence is complete.
#include "icode/writer.h"

namespace zor {

std::unique_ptr<IcodeWriter> IcodeWriter::open(FILE *out, PROGRAM *program, int version) {
  return std::unique_ptr<IcodeWriter>(new IcodeWriter(out, program, version));
}

IcodeWriter::~IcodeWriter() = default;

void IcodeWriter::add_option_set(uint32_t number, std::vector<std::string> texts) {
  option_sets_.push_back({number, std::move(texts)});
}

void IcodeWriter::comment(const std::string &text) {
  comments_.push_back(text);
}

void IcodeWriter::close() {
  if (closed_)
    return;
  closed_ = true;
  if (out_)
    std::fflush(out_);
}

} // namespace zor
