// icode/record_tags.h - record tags of the I-code format.
//
// Every record is a tag byte, a uleb payload length and the payload; tag 255
// alone ends a stream or a section.  The reader, the writer and the test
// image builder share these names.
#pragma once

#include <cstdint>

namespace zor {

enum RecordTag : uint8_t {
  TAG_FUNC_BEGIN = 1,        // pos, uleb global symbol index
  TAG_FUNC_END = 2,          // pos
  TAG_BLOCK_BEGIN = 3,       // pos
  TAG_BLOCK_END = 4,         // pos
  TAG_BODY_BEGIN = 5,        // pos
  TAG_POSITION = 6,          // pos
  TAG_HEADER = 8,            // file header
  TAG_SKIPPED = 34,          // pos and more; skipped by its length
  TAG_SYMBOL = 35,           // symbol record, then its attribute lists
  TAG_ASM = 36,              // text, pos
  TAG_RECORD_38 = 38,        // five ulebs, short; ignored
  TAG_LABEL = 42,            // uleb label number
  TAG_RECORD_45 = 45,        // five ulebs; ignored
  TAG_STATEMENT = 46,        // pos, then a node record
  TAG_PRAGMA = 47,           // text
  TAG_DDEDGE = 58,           // three ulebs
  TAG_RECORD_59 = 59,        // uleb, byte, byte n, n shorts; ignored
  TAG_EHT_HANDLERS = 63,     // handlers of a catch entry
  TAG_BYTE_RECORD = 64,      // byte
  TAG_EHT_ENTRY = 91,        // uleb id, kind, next, count
  TAG_EHT = 93,              // uleb entry count, then the entries
  TAG_ATTRIBUTES = 94,       // uleb kind, uleb n, n texts
  TAG_NODE = 101,            // node record, operands follow
  TAG_INITIALIZER = 105,     // uleb global symbol index, then trees
  TAG_RECORD_108 = 108,      // uleb, byte form, form fields; ignored
  TAG_OPTION_SET = 111,      // uleb set number, uleb n, n texts
  TAG_TYPE = 116,            // type record
  TAG_DECL_SCOPE_BEGIN = 123,
  TAG_SYMBOL_REF = 124,      // uleb, sleb scope, sleb index, byte; ignored
  TAG_DECL_SCOPE_END = 125,  // pos
  TAG_FILE_NAME = 126,       // text
  TAG_END = 255,
};

} // namespace zor
