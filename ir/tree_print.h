// ir/tree_print.h - printing expression trees for the debug log and reports.
//
// Two forms:
//   source form  C-like infix text on one line ("a[i] = b + 1" style): an
//                operand is put in parentheses when its operator's printing
//                precedence is lower than its parent's; constants in C form,
//                symbols by name, conversions as casts;
//   dump form    one node per line, indented two blanks per depth: the dump
//                mnemonic, the type (kind letter and size in bits, e.g. "i32",
//                "u16", "f32", "p16") and the payload.
// The source form is one line without a newline; the dump ends every line
// with one.  Neither prints addresses.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "ir/xfloat.h"

namespace zor {

class NODE;
class TYPE;
struct PragmaRecord;

struct PrintOptions {
  // Source form: follow each name and constant by its type, as "x{int}".
  bool types = false;
};

std::string tree_source(const NODE *n, const PrintOptions &opt = {});
void print_tree_source(FILE *f, const NODE *n, const PrintOptions &opt = {});

std::string tree_dump(const NODE *n);
void print_tree_dump(FILE *f, const NODE *n);

// "#pragma UNROLL(" (or the kind's own opening) + the arguments joined by
// ", " + ")".
std::string pragma_text(const PragmaRecord &rec);
// The opening of a pragma of `kind` ("#pragma[%d] (" for kinds without a
// name of their own).
std::string pragma_head(uint8_t kind);

// A short C-like spelling of a type ("unsigned short", "const int *",
// "struct S").
std::string type_text(const TYPE *t);

// Constants in C form, as both printers of trees show them (this one and the
// I-code text form, tools/textform): a string literal with C escapes (octal
// for bytes outside printable ASCII), and the shortest decimal text of a
// floating value that reads back the same at precision `p` ("nan", "-inf",
// hexadecimal at extended precision).
std::string c_string_literal(const char *bytes, uint32_t length);
std::string float_c_form(const XFLOAT &v, XPrecision p);

} // namespace zor
