// tools/textform/model.h - the records of an I-code file as the text form sees them.
//
// A Listing holds a file as the reader walks it: the header, the five
// sections and the main stream, each a flat list of records in file order.
// Records that belong to another one (the operands of a node, the tree of a
// statement, the attribute lists of a symbol, the entries of an exception
// table) simply follow it, as in the file; the grammar of the format says
// where each group ends.
//
// A record keeps its fields decoded, in the order of their bytes.  When its
// bytes cannot be made again from those fields (a number written in more
// bytes than needed, a length that does not match the payload, a field value
// the text cannot spell), `raw` holds the record's own bytes from its tag to
// the end of what the reader reads of it, and those bytes are written as they
// are.  The decoded fields still serve to follow the structure and to name
// things.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "icode/byte_stream.h"

namespace zor::text {

// Primitive encodings of a field.
enum class Enc : uint8_t {
  Byte,     // one byte
  Short,    // two bytes, low first
  Word,     // four bytes, low first
  Uleb,
  Sleb,
  Text,     // zero-terminated
  Counted,  // uleb length, bytes
  Pos,      // uleb file, and line and column when the file is not 0
  Texts,    // uleb count, that many texts
  Shorts,   // byte count, that many shorts
  Flags9,   // nine bytes (the group flags of a full structure record)
  Blob,     // bytes up to the end of the record's payload
};

struct Field {
  Enc enc = Enc::Uleb;
  uint32_t num = 0;                // Byte, Short (as stored), Word, Uleb; Sleb as int32 bits;
                                   // Texts and Shorts: the count as stored
  std::string str;                 // Text, Counted, Blob, Flags9
  RawPos pos;                      // Pos
  std::vector<std::string> texts;  // Texts
  std::vector<uint16_t> shorts;    // Shorts
  // zas: an initializer position left to be derived from the layout.
  bool derived_init_pos = false;

  int32_t snum() const { return static_cast<int32_t>(num); }
};

// What a record is, by where it stands.
enum class Role : uint8_t {
  Header,
  Stream,        // a record of the main stream
  Node,          // a node record of a tree
  Option,        // option-set section
  FileName,      // file-name section
  Type,          // type section (tag 116 in the main stream is Stream)
  Symbol,        // global-symbol section
  Attr,          // attribute list announced by a symbol
  Init,          // initializer section
  EhtEntry,      // tag 91 of an exception table
  EhtCleanup,    // tag 46 after a cleanup entry
  EhtHandlers,   // tag 63 after a catch entry
};

struct Record {
  Role role = Role::Stream;
  uint8_t tag = 0;
  std::vector<Field> fields;
  std::vector<uint8_t> raw;   // the record's own bytes, written as they are
  uint64_t offset = 0;        // zdis: where its tag lies
  uint32_t size = 0;          // zdis: how many bytes of the file it takes
  uint32_t global_index = 0;  // zas: a global symbol's index (derived initializer position)
  uint32_t line = 0;          // zas: where it was written
  uint32_t column = 0;

  uint32_t num(size_t i) const { return i < fields.size() ? fields[i].num : 0; }
};

// Sections in the order the reader takes them in.
enum Section : uint8_t { SEC_OPTIONS, SEC_FILES, SEC_TYPES, SEC_GLOBALS, SEC_INITS, SEC_COUNT };

// The header's offset word of each section (its index among the five words).
constexpr int kHeaderOffsetSlot[SEC_COUNT] = {0, 3, 2, 4, 1};
// The order in which this system's writer lays the sections out after the
// main stream.
constexpr Section kWriterOrder[SEC_COUNT] = {SEC_INITS, SEC_OPTIONS, SEC_TYPES, SEC_FILES,
                                             SEC_GLOBALS};
// Header fields: magic, version, check, five offsets, producer, [extra].
constexpr size_t kHeaderFirstOffset = 3;
constexpr size_t kHeaderProducer = 8;

const char *section_name(Section s);

struct Region {
  bool present = false;
  std::vector<Record> records;
  // zdis only.
  uint64_t offset = 0;        // where it starts
  uint64_t end = 0;           // after its closing 255 (or the end of the file)
  bool terminated = true;     // closed by a 255 rather than by the end of the file
  std::string problem;        // why decoding stopped early, empty when it did not
  uint64_t problem_at = 0;
};

struct Listing {
  bool have_header = false;
  Record header;
  Region sections[SEC_COUNT];
  Region stream;
  // zdis only.
  uint64_t file_size = 0;
  bool writer_layout = false;   // laid out as this system's writer lays files out
  std::string header_problem;   // why the header is not valid, empty when it is

  int version() const {
    return header.fields.size() > 1 ? static_cast<int16_t>(header.fields[1].num) : -72;
  }
};

} // namespace zor::text
