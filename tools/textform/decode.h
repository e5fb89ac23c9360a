// tools/textform/decode.h - reading an I-code image into a Listing.
//
// The decoder walks the bytes the way the reader does: the header, the
// option-set section, the file-name, type, global-symbol and initializer
// sections, then the main stream, each record's fields in the reader's order
// and with the reader's primitive decoding (icode/byte_stream.h).  It never
// gives up on the whole file: where the structure cannot be followed (a node
// record expected and another tag found, an operator above 163, a tree too
// deep, a wrong record inside a symbol's attribute lists or an exception
// table), the region stops there and says why, with the reader's message.
// What the reader would reject for its meaning (an unknown symbol index, a
// type used before it is defined) is decoded like anything else.
//
// Every record whose bytes are not what its fields encode to (numbers in
// more bytes than needed, a length that does not match, a value the text
// cannot spell) keeps its bytes in `raw`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/textform/context.h"
#include "tools/textform/model.h"

namespace zor::text {

Listing decode_image(const std::vector<uint8_t> &bytes);

// What a raw record of the text stands for, decoded from its bytes: a record
// of `role` at a point where `ctx` describes the file.  `handlers` is the
// count of an exception-table catch entry, for its handlers record.  Gives
// nullopt and a reason when the bytes are not one such record.
std::optional<Record> decode_raw_record(const std::vector<uint8_t> &bytes, Role role,
                                        const Context &ctx, uint32_t handlers,
                                        std::string &why);

// Whether a type record kind defines a type (rather than opening or closing
// a group or adding a member).
bool is_defining_kind(int kind);

// The number of operand records that follow a node record of operator `op`.
unsigned node_operands(uint32_t op);

// Tells the context about a record, in the order the reader takes records in:
// scope changes, symbols entered, types bound, file names.  A type or symbol
// gets `label` when given, else the label zdis derives for it.
void apply_record(Context &ctx, const Record &rec, const std::string *label = nullptr);

} // namespace zor::text
