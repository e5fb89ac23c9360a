// icode/byte_stream.cpp - primitive decoding of I-code files.
#include "icode/byte_stream.h"

#include <algorithm>
#include <limits>

namespace zor {
namespace {

// Counted texts of unknown length bound (a file that cannot tell its size)
// are read in pieces of this size, so memory follows the bytes really read.
constexpr size_t kChunk = 65536;

} // namespace

ByteStream::ByteStream(FILE *file) : file_(file), text_(kTextBufferSize) {
  start_ = std::ftell(file_);
  if (start_ < 0) {
    // Not seekable: read straight through, the end is unknown.
    start_ = 0;
    end_ = std::numeric_limits<uint64_t>::max();
    return;
  }
  if (std::fseek(file_, 0, SEEK_END) == 0) {
    long end = std::ftell(file_);
    end_ = end > start_ ? static_cast<uint64_t>(end - start_) : 0;
  } else {
    end_ = std::numeric_limits<uint64_t>::max();
  }
  std::fseek(file_, start_, SEEK_SET);
}

int ByteStream::next() {
  if (eof_)
    return EOF;
  int c = std::getc(file_);
  if (c == EOF) {
    eof_ = true;
    return EOF;
  }
  ++pos_;
  return c;
}

uint8_t ByteStream::byte() {
  int c = next();
  return c == EOF ? 0 : static_cast<uint8_t>(c);
}

uint8_t ByteStream::tag() {
  int c = next();
  return c == EOF ? kEndTag : static_cast<uint8_t>(c);
}

uint16_t ByteStream::ushort() {
  uint16_t lo = byte();
  uint16_t hi = byte();
  return static_cast<uint16_t>(lo | hi << 8);
}

int16_t ByteStream::sshort() { return static_cast<int16_t>(ushort()); }

uint32_t ByteStream::word() {
  uint32_t w = 0;
  for (unsigned i = 0; i < 4; ++i)
    w |= static_cast<uint32_t>(byte()) << (8 * i);
  return w;
}

uint32_t ByteStream::uleb() {
  uint32_t value = 0;
  unsigned shift = 0;
  for (;;) {
    int c = next();
    if (c == EOF)
      break;
    if (shift < 32) {
      value |= static_cast<uint32_t>(c & 0x7f) << shift;
      shift += 7;
    }
    if (!(c & 0x80))
      break;
  }
  return value;
}

int32_t ByteStream::sleb() {
  uint32_t value = 0;
  unsigned shift = 0;
  int last = 0;
  for (;;) {
    int c = next();
    if (c == EOF)
      break;
    last = c;
    if (shift < 32) {
      value |= static_cast<uint32_t>(c & 0x7f) << shift;
      shift += 7;
    }
    if (!(c & 0x80))
      break;
  }
  if (shift < 32 && (last & 0x40))
    value |= ~0u << shift;
  return static_cast<int32_t>(value);
}

const char *ByteStream::text() {
  size_t n = 0;
  for (;;) {
    int c = next();
    if (c == EOF || c == 0)
      break;
    if (n + 1 >= text_.size()) {
      // Grow, but never past what the file can still deliver.
      uint64_t cap = static_cast<uint64_t>(n) + 2 + remaining();
      size_t grown = text_.size() * 2;
      if (cap < grown)
        grown = static_cast<size_t>(cap);
      text_.resize(grown);
    }
    text_[n++] = static_cast<char>(c);
  }
  text_[n] = 0;
  return text_.data();
}

std::string ByteStream::counted_text() {
  uint64_t n = uleb();
  bool short_file = n > remaining();
  if (short_file)
    n = remaining();
  std::string s;
  while (n > 0 && !eof_) {
    size_t chunk = static_cast<size_t>(std::min<uint64_t>(n, kChunk));
    size_t old = s.size();
    s.resize(old + chunk);
    size_t got = std::fread(s.data() + old, 1, chunk, file_);
    s.resize(old + got);
    pos_ += got;
    n -= got;
    if (got < chunk)
      eof_ = true;
  }
  if (short_file)
    eof_ = true;
  return s;
}

RawPos ByteStream::pos() {
  RawPos p;
  p.file = uleb();
  if (p.file == 0)
    return p;
  p.line = uleb();
  p.column = uleb();
  return p;
}

RawSymRef ByteStream::sym_ref_uleb_scope() {
  RawSymRef r;
  r.scope = uleb();
  r.index = uleb();
  return r;
}

void ByteStream::seek(uint64_t rel) {
  if (rel > end_) {
    // Beyond the end: park at the end in EOF state.
    if (end_ != std::numeric_limits<uint64_t>::max() &&
        std::fseek(file_, static_cast<long>(start_ + end_), SEEK_SET) == 0)
      pos_ = end_;
    eof_ = true;
    return;
  }
  if (rel > static_cast<uint64_t>(std::numeric_limits<long>::max() - start_) ||
      std::fseek(file_, static_cast<long>(start_ + rel), SEEK_SET) != 0) {
    eof_ = true;
    return;
  }
  pos_ = rel;
  eof_ = false;
}

} // namespace zor
