// ir/symtab.cpp - symbol names, the symbol printer and the level hook.
#include "ir/symtab.h"

#include <cctype>
#include <cstring>

#include "ir/demangle.h"
#include "ir/type.h"

namespace zor {

namespace {

int default_opt_level() { return 1; }

} // namespace

int (*ir_opt_level)() = default_opt_level;

bool is_temp_name(const char *name) {
  return name && std::strncmp(name, kTempPrefix, 2) == 0;
}

char temp_kind(const char *name) {
  if (!is_temp_name(name))
    return 0;
  char letter = name[2];
  if (letter != kTempLetterPlain && letter != kTempLetterCse)
    return 0;
  const char *digits = name + 3;
  if (!*digits)
    return 0;
  for (const char *p = digits; *p; ++p)
    if (!std::isdigit(static_cast<unsigned char>(*p)))
      return 0;
  return letter;
}

const char *storage_word(const SYMTAB &s) {
  if (s.flag_bits & SF_CREGISTER)
    return "cregister";
  if ((s.flag_bits & SF_REGISTER) || s.sclass == SC_REGISTER)
    return "register";
  if (s.sclass == SC_EXTERN_DEF || s.sclass == SC_EXTERN_REF)
    return "extern";
  if (s.sclass == SC_STATIC)
    return "static";
  return "";
}

std::string symbol_declaration(const SYMTAB &s) {
  std::string out = storage_word(s);
  if (!out.empty())
    out += " ";
  out += s.otype ? s.otype->print() : std::string("<no type> ");
  out += demangle(s.name());
  return out;
}

} // namespace zor
