// icode/byte_stream.h - primitive decoding of I-code files.
//
// ByteStream reads the primitive encodings of the I-code format (bytes,
// shorts, words, LEB128 numbers, texts) from a FILE.  Positions are relative
// to the position of the file when the stream was attached, so an image may
// start anywhere in a file.
//
// Reading never fails loudly: past the end of the file every byte reads as 0,
// a tag reads as 255 (end of stream) and the stream stays in its EOF state
// until the next successful seek.  No read allocates more than the bytes left
// in the file, and every loop consumes input, so no input can make a read
// loop forever or allocate without bound.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zor {

// A position as stored in the file: file index 0 means "no position".
struct RawPos {
  uint32_t file = 0;
  uint32_t line = 0;
  uint32_t column = 0;
};

// A symbol reference as stored: scope 0 is the global table, any other
// value the current local table; all ones means "no symbol".
struct RawSymRef {
  uint32_t scope = 0;
  uint32_t index = 0;

  static constexpr uint32_t kNone = 0xFFFFFFFFu;
  bool none() const { return scope == kNone; }
};

constexpr uint8_t kEndTag = 255;
constexpr size_t kTextBufferSize = 32768;

class ByteStream {
public:
  // Attaches to `file` at its current position, which becomes position 0.
  explicit ByteStream(FILE *file);
  ByteStream(const ByteStream &) = delete;
  ByteStream &operator=(const ByteStream &) = delete;

  uint8_t byte();
  bool flag() { return byte() != 0; }
  int16_t sshort();
  uint16_t ushort();
  uint32_t word();
  // LEB128 numbers of up to 32 bits.  Groups beyond the 32nd bit are read
  // and dropped.
  uint32_t uleb();
  int32_t sleb();
  // A record tag: 255 at end of file.
  uint8_t tag();

  // A zero-terminated text, read into the shared text buffer; the pointer
  // stays valid until the next text read.  At end of file the text ends
  // with what was read.
  const char *text();
  // A uleb length and that many bytes.  A length beyond the end of the file
  // yields the bytes that are left.
  std::string counted_text();

  RawPos pos();
  uint32_t type_ref() { return uleb(); }
  // A symbol reference whose scope is written as a uleb (node records) or
  // as an sleb; the index is a uleb either way.
  RawSymRef sym_ref_uleb_scope();

  // Position relative to the start, and what is left of the file.
  uint64_t tell() const { return pos_; }
  uint64_t remaining() const { return pos_ < end_ ? end_ - pos_ : 0; }
  bool eof() const { return eof_; }
  // Moves to a relative position; clears the EOF state when the position lies
  // inside the file, else leaves the stream at the end in EOF state.
  void seek(uint64_t rel);
  // Skips n bytes (a record payload), stopping at the end of the file.
  void skip(uint64_t n) { seek(pos_ + n); }

private:
  int next();   // one byte or EOF; counts the position

  FILE *file_;
  long start_ = 0;          // absolute file position of relative position 0
  uint64_t pos_ = 0;        // relative position
  uint64_t end_ = 0;        // relative position of the end of the file
  bool eof_ = false;
  std::vector<char> text_;  // shared text buffer
};

} // namespace zor
