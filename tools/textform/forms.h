// tools/textform/forms.h - the fields of every record, for decoding, encoding,
// printing and parsing.
//
// A Form lists a record's fields in the order of their bytes.  Each field has
// a text type (how it is spelled), a keyword (or none: a positional field,
// written in `rank` order right after the record's keyword) and a default: a
// keyword field whose value equals its default is left out of the text, and
// zas fills it in.  Fields that exist only in some format versions, or only
// for some value of an earlier field, carry a condition.
//
// Type records (tag 116) have a form per kind; their first two bytes (the
// type identifier and the kind) are not part of the form.  Node records are
// described by node_fields() in the same terms.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/textform/model.h"

namespace zor::text {

// How a field is spelled.
enum class FT : uint8_t {
  Num,       // uleb, decimal
  SNum,      // sleb, decimal
  Byte,      // byte, decimal
  SByte,     // byte read as signed, decimal
  Flag,      // byte, its value (0 or 1 as a rule)
  Short,     // short, unsigned decimal
  HexShort,  // short, 0x hexadecimal
  Word,      // word, decimal
  Text,      // text, quoted
  Counted,   // counted text, quoted
  Pos,       // position FILE:LINE:COL or -
  Type,      // type ref: a type name, %tN or -
  GSym,      // uleb global symbol index: @name or @#N
  Label,     // uleb label number: L<n>
  Quals,     // uleb qualifier bits: qualifier words joined by commas
  EhtKind,   // uleb exception-table entry kind: its name
  EnumVal,   // enumerator value: sleb or uleb by the enumeration's type
  IconVal,   // ICON value: sleb or uleb by the node's type
  Texts,     // uleb count and texts: the quoted texts
  Shorts,    // byte count and shorts: the numbers
  Blob,      // the rest of the payload: hex bytes
  Groups9,   // nine flags announcing groups 2..9 and 0: group numbers
  Group7,    // flag announcing group 7: the group number 7
  Fixed,     // byte fixed by the form's keyword (structure variety, rec108 form)
  SymName,   // symbol name text: the symbol's label
};

// Defaults of keyword fields.
enum class Def : uint8_t {
  Req,         // positional, always written
  Zero,
  Two,
  NoPos,
  NoType,
  IntSize,     // the data model's size of the form's integral variety
  IntAlign,
  FloatSize,
  FloatAlign,
  Ptr,         // 16
  BaseSize,    // size of the type named by the form's first type field
  BaseAlign,
  ArraySize,   // element size times count
  ComplexSize, // twice the part's size
  SymSize,     // size of the symbol's type
  SymAlign,
  AttrCount,   // number of attribute lists that follow (structural)
  InitPos,     // where the symbol's initializer record lies (layout)
  Derived,     // filled in from what follows (entry handler count)
};

using When = bool (*)(int version, const std::vector<Field> &before);

struct FieldForm {
  const char *name;   // keyword; null for a positional field
  FT ft;
  Def def = Def::Req;
  uint8_t rank = 0;   // text order of positional fields
  When when = nullptr;
};

struct Form {
  const char *keyword;
  Role role;           // Stream for main-stream forms, Type for type kinds, ...
  uint8_t tag;
  int kind = -1;       // type record kind
  uint8_t fixed = 0;   // the value of an FT::Fixed field
  std::vector<FieldForm> fields;
};

// The form of a main-stream or section record with this tag (null for tags
// without one: node records and unknown tags).
const Form *record_form(Role role, uint8_t tag);
// The form of a type record of this kind; `variety` selects among structure,
// union and class.  Null for an unknown kind.
const Form *type_form(uint8_t kind, uint8_t variety);
// Record forms by keyword: a type body keyword when `type_body`, else a
// record keyword valid for `role`.
const Form *form_by_keyword(const std::string &word, bool type_body, Role role);
// The fields of a node record after the operator byte and the type ref.
const std::vector<FieldForm> &node_fields(uint32_t op);

// Whether the field exists for this version and the fields before it.
inline bool field_present(const FieldForm &f, int version, const std::vector<Field> &before) {
  return !f.when || f.when(version, before);
}

// The encoding of a field of text type `ft`; `is_signed` picks sleb for
// EnumVal and IconVal.
Enc field_enc(FT ft, bool is_signed);

// Names of the exception-table entry kinds and of the qualifier bits.
const char *eht_kind_name(uint32_t kind);
const char *qualifier_name(unsigned bit);

// Type body keywords of the integral and floating varieties, by kind.
const char *builtin_type_name(uint8_t kind);
// The kind of a builtin type name, or -1.
int builtin_type_kind(const std::string &name);

} // namespace zor::text

namespace zor::text {

// Where each of a form's fields sits in a record's field list, given the
// version and the record's fields; -1 for a field that is absent.  `first` is
// the index of the form's first field (2 for type records).
std::vector<int> field_slots(const Form &form, int version, const std::vector<Field> &fields,
                             size_t first);

} // namespace zor::text
