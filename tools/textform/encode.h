// tools/textform/encode.h - writing a Listing as I-code bytes.
//
// Records are put together with the I-code writer's own primitives and
// record framing (icode/writer.h), so that zas encodes every number, text
// and length exactly as the optimizer's writer does.  ByteSink runs a scratch
// writer on a memory stream and keeps what follows that writer's own header.
//
// Layout: the header, the main stream and its closing 255, then the sections
// that are present in the order this system's writer uses (initializers,
// option sets, types, file names, global symbols), each closed by a 255.
// The header's five offsets are filled in from where the sections land, and
// every symbol record whose initializer position was left to be derived gets
// the position of the first initializer record of its symbol in the
// initializer section (0 when it has none).  A raw header keeps its own
// offsets.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "tools/textform/model.h"

namespace zor {
class IcodeWriter;
class TYPE_PKG;
}

namespace zor::text {

class ByteSink {
public:
  ByteSink();
  ~ByteSink();
  ByteSink(const ByteSink &) = delete;
  ByteSink &operator=(const ByteSink &) = delete;

  // A record from its fields (or its raw bytes).
  void record(const Record &rec);
  // Bytes outside records: end tags.
  void raw(const uint8_t *data, size_t n);
  void end_tag();
  // Bytes written so far.
  uint64_t tell() const;
  std::vector<uint8_t> bytes();
  // The bytes written between two positions.
  std::vector<uint8_t> slice(uint64_t from, uint64_t to);

private:
  void field(const Field &f);

  char *buf_ = nullptr;
  size_t size_ = 0;
  FILE *mem_ = nullptr;
  std::unique_ptr<TYPE_PKG> scratch_types_;
  std::unique_ptr<IcodeWriter> writer_;
  uint64_t origin_ = 0;   // length of the scratch writer's own header
};

// The bytes a record is written as.
std::vector<uint8_t> encode_record(const Record &rec);

// The minimal uleb of a number (the length field of an unknown record).
std::vector<uint8_t> uleb_bytes(uint32_t v);

// Where the five offset words lie in the bytes of a header record (after
// the tag, the length, the magic text, the version and the check value); 0
// when the bytes are too short for them.
size_t raw_header_offsets_at(const std::vector<uint8_t> &raw);

// The whole file.  Throws IcodeFatal when a value does not fit its encoding.
std::vector<uint8_t> encode_listing(const Listing &listing);

} // namespace zor::text
