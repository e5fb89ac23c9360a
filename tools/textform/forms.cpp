// tools/textform/forms.cpp - the field tables of the I-code records.
#include "tools/textform/forms.h"

#include <cstring>

#include "ir/opcodes.h"
#include "icode/record_tags.h"

namespace zor::text {
namespace {

// Conditions on the format version and on earlier fields.
bool v_ge_76(int v, const std::vector<Field> &) { return v >= -76; }
bool v_75_73(int v, const std::vector<Field> &) { return v >= -75 && v < -73; }
bool v_ge_84(int v, const std::vector<Field> &) { return v >= -84; }
bool v_ge_81(int v, const std::vector<Field> &) { return v >= -81; }
bool v_ge_74(int v, const std::vector<Field> &) { return v >= -74; }
bool v_lt_85(int v, const std::vector<Field> &) { return v < -85; }
bool v_ge_85(int v, const std::vector<Field> &) { return v >= -85; }
bool form_0(int, const std::vector<Field> &b) { return b.size() > 1 && b[1].num == 0; }
bool form_1(int, const std::vector<Field> &b) { return b.size() > 1 && b[1].num == 1; }
bool form_01(int, const std::vector<Field> &b) { return b.size() > 1 && b[1].num <= 1; }
bool form_2(int, const std::vector<Field> &b) { return b.size() > 1 && b[1].num == 2; }

using F = FieldForm;

// Main-stream records (and the records of the sections, by role).
const std::vector<Form> &record_forms() {
  static const std::vector<Form> forms = {
      {"function", Role::Stream, TAG_FUNC_BEGIN, -1, 0,
       {F{nullptr, FT::Pos, Def::Req, 1}, F{nullptr, FT::GSym, Def::Req, 0}}},
      {"body", Role::Stream, TAG_BODY_BEGIN, -1, 0, {F{nullptr, FT::Pos}}},
      {"block", Role::Stream, TAG_BLOCK_BEGIN, -1, 0, {F{nullptr, FT::Pos}}},
      {"endblock", Role::Stream, TAG_BLOCK_END, -1, 0, {F{nullptr, FT::Pos}}},
      {"end", Role::Stream, TAG_FUNC_END, -1, 0, {F{nullptr, FT::Pos}}},
      {"pos", Role::Stream, TAG_POSITION, -1, 0, {F{nullptr, FT::Pos}}},
      {"stmt", Role::Stream, TAG_STATEMENT, -1, 0, {F{nullptr, FT::Pos}}},
      {"label", Role::Stream, TAG_LABEL, -1, 0, {F{nullptr, FT::Label}}},
      {"asm", Role::Stream, TAG_ASM, -1, 0, {F{nullptr, FT::Text, Def::Req, 0}, F{nullptr, FT::Pos, Def::Req, 1}}},
      {"pragma", Role::Stream, TAG_PRAGMA, -1, 0, {F{nullptr, FT::Text}}},
      {"attr", Role::Stream, TAG_ATTRIBUTES, -1, 0,
       {F{nullptr, FT::Num, Def::Req, 0}, F{nullptr, FT::Texts, Def::Req, 1}}},
      {"init", Role::Stream, TAG_INITIALIZER, -1, 0, {F{nullptr, FT::GSym}}},
      {"eht", Role::Stream, TAG_EHT, -1, 0, {F{"count", FT::Num, Def::Derived}}},
      {"scope", Role::Stream, TAG_DECL_SCOPE_BEGIN, -1, 0,
       {F{nullptr, FT::GSym, Def::Req, 0}, F{nullptr, FT::SNum, Def::Req, 1},
        F{nullptr, FT::Byte, Def::Req, 2}, F{nullptr, FT::Num, Def::Req, 3},
        F{nullptr, FT::Pos, Def::Req, 4}}},
      {"endscope", Role::Stream, TAG_DECL_SCOPE_END, -1, 0, {F{nullptr, FT::Pos}}},
      {"symref", Role::Stream, TAG_SYMBOL_REF, -1, 0,
       {F{nullptr, FT::Num, Def::Req, 0}, F{nullptr, FT::SNum, Def::Req, 1},
        F{nullptr, FT::SNum, Def::Req, 2}, F{nullptr, FT::Byte, Def::Req, 3}}},
      {"rec108", Role::Stream, TAG_RECORD_108, -1, 0,
       {F{nullptr, FT::Num, Def::Req, 0}, F{nullptr, FT::Byte, Def::Req, 1},
        F{nullptr, FT::Num, Def::Req, 2, form_01}, F{nullptr, FT::SNum, Def::Req, 3, form_0},
        F{nullptr, FT::Num, Def::Req, 3, form_1}, F{nullptr, FT::Type, Def::Req, 4, form_01},
        F{nullptr, FT::SNum, Def::Req, 5, form_01}, F{nullptr, FT::Num, Def::Req, 6, form_01},
        F{nullptr, FT::Num, Def::Req, 7, form_2}}},
      {"rec38", Role::Stream, TAG_RECORD_38, -1, 0,
       {F{nullptr, FT::Num, Def::Req, 0}, F{nullptr, FT::Num, Def::Req, 1},
        F{nullptr, FT::Num, Def::Req, 2}, F{nullptr, FT::Num, Def::Req, 3},
        F{nullptr, FT::Num, Def::Req, 4}, F{nullptr, FT::Short, Def::Req, 5}}},
      {"rec45", Role::Stream, TAG_RECORD_45, -1, 0,
       {F{nullptr, FT::Num, Def::Req, 0}, F{nullptr, FT::Num, Def::Req, 1},
        F{nullptr, FT::Num, Def::Req, 2}, F{nullptr, FT::Num, Def::Req, 3},
        F{nullptr, FT::Num, Def::Req, 4}}},
      {"ddedge", Role::Stream, TAG_DDEDGE, -1, 0,
       {F{nullptr, FT::Num, Def::Req, 0}, F{nullptr, FT::Num, Def::Req, 1},
        F{nullptr, FT::Num, Def::Req, 2}}},
      {"rec59", Role::Stream, TAG_RECORD_59, -1, 0,
       {F{nullptr, FT::Num, Def::Req, 0}, F{nullptr, FT::Byte, Def::Req, 1},
        F{nullptr, FT::Shorts, Def::Req, 2}}},
      {"byte", Role::Stream, TAG_BYTE_RECORD, -1, 0, {F{nullptr, FT::Byte}}},
      {"file", Role::Stream, TAG_FILE_NAME, -1, 0, {F{nullptr, FT::Text}}},
      {"skipped", Role::Stream, TAG_SKIPPED, -1, 0,
       {F{nullptr, FT::Pos, Def::Req, 0}, F{nullptr, FT::Blob, Def::Req, 1}}},
      // The symbol record: its label, type, then keyword fields.
      {"symbol", Role::Stream, TAG_SYMBOL, -1, 0,
       {F{nullptr, FT::SymName, Def::Req, 0}, F{"size", FT::Num, Def::SymSize},
        F{"offset", FT::Num, Def::Zero}, F{"class", FT::Byte, Def::Two},
        F{"flags", FT::HexShort, Def::Zero}, F{nullptr, FT::Type, Def::Req, 1},
        F{"type2", FT::Type, Def::NoType}, F{"align", FT::Num, Def::SymAlign},
        F{"attrs", FT::Byte, Def::AttrCount}, F{"initpos", FT::Num, Def::InitPos},
        F{"optset", FT::Num, Def::Zero}, F{"at", FT::Pos, Def::NoPos}}},
      // Section records.
      {"option", Role::Option, TAG_OPTION_SET, -1, 0,
       {F{nullptr, FT::Num, Def::Req, 0}, F{nullptr, FT::Texts, Def::Req, 1}}},
      {"file", Role::FileName, TAG_FILE_NAME, -1, 0, {F{nullptr, FT::Text}}},
      {"init", Role::Init, TAG_INITIALIZER, -1, 0, {F{nullptr, FT::GSym}}},
      // Records that belong to others.
      {"attr", Role::Attr, TAG_ATTRIBUTES, -1, 0,
       {F{nullptr, FT::Num, Def::Req, 0}, F{nullptr, FT::Texts, Def::Req, 1}}},
      {"entry", Role::EhtEntry, TAG_EHT_ENTRY, -1, 0,
       {F{nullptr, FT::Num, Def::Req, 0}, F{nullptr, FT::EhtKind, Def::Req, 1},
        F{"next", FT::Num, Def::Zero}, F{"count", FT::Num, Def::Derived}}},
      {"cleanup", Role::EhtCleanup, TAG_STATEMENT, -1, 0, {F{nullptr, FT::Pos}}},
      // Handlers are spelled by the printer and parser themselves: a list of
      // (type-name label flag) triples whose count is the entry's.
      {"handlers", Role::EhtHandlers, TAG_EHT_HANDLERS, -1, 0, {}},
  };
  return forms;
}

// Type records, by kind.  The integral varieties share one layout.
std::vector<Form> make_type_forms() {
  std::vector<Form> forms;
  const uint8_t int_kinds[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 50, 51};
  for (uint8_t k : int_kinds)
    forms.push_back({builtin_type_name(k), Role::Type, TAG_TYPE, k, 0,
                     {F{"explicit", FT::Flag, Def::Zero}, F{"size", FT::Num, Def::IntSize},
                      F{"align", FT::Num, Def::IntAlign}, F{"f4", FT::Flag, Def::Zero},
                      F{"f5", FT::Flag, Def::Zero}}});
  for (uint8_t k = 10; k <= 12; ++k)
    forms.push_back({builtin_type_name(k), Role::Type, TAG_TYPE, k, 0,
                     {F{"size", FT::Num, Def::FloatSize}, F{"align", FT::Num, Def::FloatAlign}}});
  forms.push_back({"fixed", Role::Type, TAG_TYPE, 13, 0,
                   {F{"scale", FT::SByte, Def::Zero}, F{"f2", FT::Flag, Def::Zero},
                    F{nullptr, FT::Type}, F{"size", FT::Num, Def::BaseSize},
                    F{"align", FT::Num, Def::BaseAlign}}});
  forms.push_back({"complex", Role::Type, TAG_TYPE, 36, 0,
                   {F{"size", FT::Num, Def::ComplexSize}, F{"align", FT::Num, Def::BaseAlign},
                    F{nullptr, FT::Type}}});
  forms.push_back({"pointer", Role::Type, TAG_TYPE, 15, 0,
                   {F{nullptr, FT::Type}, F{"size", FT::Num, Def::Ptr},
                    F{"align", FT::Num, Def::Ptr}}});
  forms.push_back({"reference", Role::Type, TAG_TYPE, 16, 0,
                   {F{nullptr, FT::Type}, F{"size", FT::Num, Def::Ptr},
                    F{"align", FT::Num, Def::Ptr}}});
  forms.push_back({"qualified", Role::Type, TAG_TYPE, 17, 0,
                   {F{nullptr, FT::Type, Def::Req, 0}, F{nullptr, FT::Quals, Def::Req, 1},
                    F{"size", FT::Num, Def::BaseSize}, F{"align", FT::Num, Def::BaseAlign}}});
  forms.push_back({"typedef", Role::Type, TAG_TYPE, 14, 0,
                   {F{nullptr, FT::Text, Def::Req, 0}, F{nullptr, FT::Type, Def::Req, 1},
                    F{"size", FT::Num, Def::BaseSize}, F{"align", FT::Num, Def::BaseAlign},
                    F{"f5", FT::Flag, Def::Zero}, F{"f6", FT::Flag, Def::Zero},
                    F{"at", FT::Pos, Def::NoPos}}});
  forms.push_back({"array", Role::Type, TAG_TYPE, 18, 0,
                   {F{nullptr, FT::Type, Def::Req, 0}, F{nullptr, FT::Num, Def::Req, 1},
                    F{"size", FT::Num, Def::ArraySize}, F{"align", FT::Num, Def::BaseAlign},
                    F{"f5", FT::Flag, Def::Zero}, F{"f6", FT::Flag, Def::Zero},
                    F{"vector", FT::Flag, Def::Zero, 0, v_ge_76},
                    F{"f8", FT::Flag, Def::Zero, 0, v_75_73}}});
  forms.push_back({"ptrmember", Role::Type, TAG_TYPE, 19, 0,
                   {F{nullptr, FT::Type, Def::Req, 0}, F{nullptr, FT::Type, Def::Req, 1},
                    F{"size", FT::Num, Def::Ptr}, F{"align", FT::Num, Def::Ptr}}});
  forms.push_back({"function", Role::Type, TAG_TYPE, 20, 0,
                   {F{nullptr, FT::Type}, F{"f2", FT::Flag, Def::Zero},
                    F{"f3", FT::Flag, Def::Zero}, F{"b4", FT::Byte, Def::Zero},
                    F{"f5", FT::Flag, Def::Zero}}});
  forms.push_back({"enum", Role::Type, TAG_TYPE, 22, 0,
                   {F{nullptr, FT::Text, Def::Req, 0}, F{"size", FT::Num, Def::BaseSize},
                    F{"align", FT::Num, Def::BaseAlign}, F{nullptr, FT::Type, Def::Req, 1},
                    F{"special", FT::Flag, Def::Zero, 0, v_ge_81},
                    F{"at", FT::Pos, Def::NoPos}}});
  const char *short_names[] = {"struct", "union", "class"};
  const char *full_names[] = {"fullstruct", "fullunion", "fullclass"};
  for (uint8_t v = 0; v < 3; ++v) {
    forms.push_back({short_names[v], Role::Type, TAG_TYPE, 24, v,
                     {F{nullptr, FT::Fixed}, F{nullptr, FT::Text, Def::Req, 0},
                      F{"f3", FT::Flag, Def::Zero}, F{"f4", FT::Flag, Def::Zero},
                      F{"size", FT::Num, Def::Zero}, F{"align", FT::Num, Def::Zero},
                      F{"groups", FT::Group7, Def::Zero}, F{"f8", FT::Flag, Def::Zero, 0, v_ge_84},
                      F{"special", FT::Flag, Def::Zero, 0, v_ge_81},
                      F{"at", FT::Pos, Def::NoPos}}});
    forms.push_back({full_names[v], Role::Type, TAG_TYPE, 25, v,
                     {F{nullptr, FT::Fixed}, F{nullptr, FT::Text, Def::Req, 0},
                      F{"f3", FT::Flag, Def::Zero}, F{"f4", FT::Flag, Def::Zero},
                      F{"size", FT::Num, Def::Zero}, F{"align", FT::Num, Def::Zero},
                      F{"n7", FT::Num, Def::Zero}, F{"groups", FT::Groups9, Def::Zero},
                      F{"f17", FT::Flag, Def::Zero, 0, v_ge_84},
                      F{"special", FT::Flag, Def::Zero, 0, v_ge_81},
                      F{"at", FT::Pos, Def::NoPos}}});
  }
  forms.push_back({"void", Role::Type, TAG_TYPE, 49, 0, {}});
  // Attribute groups and their members.
  forms.push_back({"group", Role::Type, TAG_TYPE, 254, 0, {F{nullptr, FT::Byte}}});
  forms.push_back({"endgroup", Role::Type, TAG_TYPE, 255, 0, {F{nullptr, FT::Byte}}});
  forms.push_back({"param", Role::Type, TAG_TYPE, 21, 0,
                   {F{nullptr, FT::Type, Def::Req, 0}, F{"f2", FT::Flag, Def::Zero},
                    F{"n3", FT::Num, Def::Zero}, F{nullptr, FT::Text, Def::Req, 1}}});
  forms.push_back({"enumerator", Role::Type, TAG_TYPE, 23, 0,
                   {F{nullptr, FT::Text, Def::Req, 0}, F{nullptr, FT::EnumVal, Def::Req, 1},
                    F{"at", FT::Pos, Def::NoPos}}});
  forms.push_back({"base", Role::Type, TAG_TYPE, 29, 0,
                   {F{nullptr, FT::Type, Def::Req, 0}, F{nullptr, FT::SNum, Def::Req, 1},
                    F{nullptr, FT::Byte, Def::Req, 2}, F{nullptr, FT::Flag, Def::Req, 3}}});
  forms.push_back({"member30", Role::Type, TAG_TYPE, 30, 0,
                   {F{nullptr, FT::Type, Def::Req, 0}, F{nullptr, FT::Byte, Def::Req, 1}}});
  forms.push_back({"member31", Role::Type, TAG_TYPE, 31, 0,
                   {F{nullptr, FT::Text, Def::Req, 0}, F{nullptr, FT::Type, Def::Req, 1}}});
  forms.push_back({"member32", Role::Type, TAG_TYPE, 32, 0, {F{nullptr, FT::Type}}});
  forms.push_back({"member33", Role::Type, TAG_TYPE, 33, 0, {F{nullptr, FT::Type}}});
  forms.push_back({"member", Role::Type, TAG_TYPE, 28, 0,
                   {F{nullptr, FT::Num, Def::Req, 0}, F{nullptr, FT::Text, Def::Req, 1},
                    F{nullptr, FT::Type, Def::Req, 2}, F{"b4", FT::Byte, Def::Zero},
                    F{"offset", FT::SNum, Def::Zero}, F{"fti", FT::Byte, Def::Zero, 0, v_ge_74},
                    F{"f1", FT::Flag, Def::Zero, 0, v_lt_85}, F{"n", FT::Num, Def::Zero, 0, v_lt_85},
                    F{"f2", FT::Flag, Def::Zero, 0, v_lt_85},
                    F{"n", FT::Num, Def::Zero, 0, v_ge_85}, F{"f1", FT::Flag, Def::Zero, 0, v_ge_85},
                    F{"f2", FT::Flag, Def::Zero, 0, v_ge_85}, F{"f3", FT::Flag, Def::Zero, 0, v_ge_85},
                    F{"at", FT::Pos, Def::NoPos}}});
  forms.push_back({"member34", Role::Type, TAG_TYPE, 34, 0,
                   {F{nullptr, FT::Text, Def::Req, 0}, F{nullptr, FT::Type, Def::Req, 1},
                    F{nullptr, FT::Byte, Def::Req, 2}}});
  forms.push_back({"member35", Role::Type, TAG_TYPE, 35, 0,
                   {F{nullptr, FT::Text, Def::Req, 0}, F{nullptr, FT::Type, Def::Req, 1},
                    F{nullptr, FT::Byte, Def::Req, 2}, F{nullptr, FT::SNum, Def::Req, 3},
                    F{nullptr, FT::Flag, Def::Req, 4}, F{nullptr, FT::Flag, Def::Req, 5},
                    F{nullptr, FT::Flag, Def::Req, 6}, F{nullptr, FT::Flag, Def::Req, 7}}});
  return forms;
}

const std::vector<Form> &type_forms() {
  static const std::vector<Form> forms = make_type_forms();
  return forms;
}

} // namespace

const char *section_name(Section s) {
  static const char *const names[SEC_COUNT] = {"options", "files", "types", "globals",
                                               "initializers"};
  return s < SEC_COUNT ? names[s] : "?";
}

const Form *record_form(Role role, uint8_t tag) {
  // Records of the main stream serve the sections that hold the same record.
  Role look = role;
  if (role == Role::Symbol)
    look = Role::Stream;
  for (const Form &f : record_forms())
    if (f.tag == tag && f.role == look)
      return &f;
  return nullptr;
}

const Form *type_form(uint8_t kind, uint8_t variety) {
  for (const Form &f : type_forms())
    if (f.kind == kind && (f.fields.empty() || f.fields[0].ft != FT::Fixed || f.fixed == variety))
      return &f;
  return nullptr;
}

const Form *form_by_keyword(const std::string &word, bool type_body, Role role) {
  if (type_body) {
    for (const Form &f : type_forms())
      if (word == f.keyword)
        return &f;
    return nullptr;
  }
  Role look = role == Role::Symbol ? Role::Stream : role;
  for (const Form &f : record_forms())
    if (word == f.keyword && f.role == look)
      return &f;
  return nullptr;
}

const std::vector<FieldForm> &node_fields(uint32_t op) {
  static const std::vector<FieldForm> none;
  static const std::vector<FieldForm> label = {F{nullptr, FT::Label}};
  static const std::vector<FieldForm> name = {F{nullptr, FT::Num, Def::Req, 0},
                                              F{nullptr, FT::Num, Def::Req, 1}};
  static const std::vector<FieldForm> scon = {F{nullptr, FT::Counted}};
  static const std::vector<FieldForm> icon = {F{nullptr, FT::IconVal}};
  static const std::vector<FieldForm> text = {F{nullptr, FT::Text}};
  static const std::vector<FieldForm> field = {F{"flag", FT::SByte, Def::Req, 2},
                                               F{nullptr, FT::Num, Def::Req, 1},
                                               F{nullptr, FT::Type, Def::Req, 0}};
  static const std::vector<FieldForm> snum = {F{nullptr, FT::SNum}};
  static const std::vector<FieldForm> num = {F{nullptr, FT::Num}};
  static const std::vector<FieldForm> num2 = {F{nullptr, FT::Num, Def::Req, 0},
                                              F{nullptr, FT::Num, Def::Req, 1}};
  static const std::vector<FieldForm> ddnode = {F{nullptr, FT::Num, Def::Req, 0},
                                                F{nullptr, FT::Num, Def::Req, 1},
                                                F{nullptr, FT::Byte, Def::Req, 2}};
  switch (op) {
  case LABEL: return label;
  case NAME: return name;
  case SCON: return scon;
  case ICON: return icon;
  case FCON:
  case LCON:
  case ICALL:
  case UICALL:
  case MCALL:
  case UMCALL: return text;
  case FIELD: return field;
  case VREG: return snum;
  case SKIP:
  case SWITCH:
  case UCALL:
  case EPVAL: return num;
  case CALL: return num2;
  case DDNODE: return ddnode;
  default: return none;   // the operator carries no fields
  }
}

Enc field_enc(FT ft, bool is_signed) {
  switch (ft) {
  case FT::Num:
  case FT::Type:
  case FT::GSym:
  case FT::Label:
  case FT::Quals:
  case FT::EhtKind: return Enc::Uleb;
  case FT::SNum: return Enc::Sleb;
  case FT::Byte:
  case FT::SByte:
  case FT::Flag:
  case FT::Group7:
  case FT::Fixed: return Enc::Byte;
  case FT::Short:
  case FT::HexShort: return Enc::Short;
  case FT::Word: return Enc::Word;
  case FT::Text:
  case FT::SymName: return Enc::Text;
  case FT::Counted: return Enc::Counted;
  case FT::Pos: return Enc::Pos;
  case FT::EnumVal:
  case FT::IconVal: return is_signed ? Enc::Sleb : Enc::Uleb;
  case FT::Texts: return Enc::Texts;
  case FT::Shorts: return Enc::Shorts;
  case FT::Blob: return Enc::Blob;
  case FT::Groups9: return Enc::Flags9;
  }
  return Enc::Uleb;
}

const char *eht_kind_name(uint32_t kind) {
  static const char *const names[] = {"root", "cleanup", "catch", "cleanupend", "catchend",
                                      "terminate"};
  return kind < 6 ? names[kind] : nullptr;
}

const char *qualifier_name(unsigned bit) {
  static const char *const names[] = {"const", "volatile", "packed", "near",
                                      "far", "ioport", "restrict", "onchip"};
  return bit < 8 ? names[bit] : nullptr;
}

const char *builtin_type_name(uint8_t kind) {
  static const char *const ints[] = {"bool", "char", "uchar", "wchar", "short", "ushort",
                                     "int", "uint", "long", "ulong"};
  if (kind <= 9)
    return ints[kind];
  switch (kind) {
  case 10: return "float";
  case 11: return "double";
  case 12: return "ldouble";
  case 49: return "void";
  case 50: return "llong";
  case 51: return "ullong";
  default: return nullptr;
  }
}

int builtin_type_kind(const std::string &name) {
  for (int k = 0; k <= 51; ++k) {
    const char *n = builtin_type_name(static_cast<uint8_t>(k));
    if (n && name == n)
      return k;
  }
  return -1;
}

} // namespace zor::text

namespace zor::text {

std::vector<int> field_slots(const Form &form, int version, const std::vector<Field> &fields,
                             size_t first) {
  std::vector<int> slots;
  size_t next = first;
  for (const FieldForm &f : form.fields) {
    if (field_present(f, version, fields)) {
      slots.push_back(static_cast<int>(next));
      ++next;
    } else {
      slots.push_back(-1);
    }
  }
  return slots;
}

} // namespace zor::text
