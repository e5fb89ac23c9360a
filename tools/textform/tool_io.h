// tools/textform/tool_io.h - what zas and zdis share around the text form:
// reading and writing whole files, and the checks zdis runs on a file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/textform/model.h"

namespace zor::text {

// The command line of zas and zdis: one input name and an optional
// "-o OUT".  Returns 0 to go on, else the exit code to end with (after the
// usage line `usage` was printed on standard error; 0 for --help).
int parse_tool_args(int argc, char **argv, const char *usage, std::string &in,
                    std::string &out);

// Reads a whole file; false with errno set when it cannot be read.
bool read_file(const std::string &path, std::string &out);
// Writes a whole file ("-" is standard output); false with errno set.
bool write_file(const std::string &path, const void *data, size_t size);

// Runs the optimizer's reader over an image, as zopt would read it.  Returns
// the message the reader (or zopt, for a header the reader refuses) reports,
// or an empty text when the image reads without error.
std::string reader_error(const std::vector<uint8_t> &bytes, const std::string &file_name);

// Reassembles a listing's text and compares: byte for byte with `bytes` when
// the file lies as the writer lays files out, else the text of the
// reassembled file with `text`.  Returns an empty text, or what differs.
std::string check_round_trip(const std::vector<uint8_t> &bytes, const Listing &listing,
                             const std::string &text);

} // namespace zor::text
