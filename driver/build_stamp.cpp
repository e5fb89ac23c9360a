// driver/build_stamp.cpp - coding of the build stamp.
#include "driver/build_stamp.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#ifndef ZOR_BUILD_HOST
#define ZOR_BUILD_HOST "unknown"
#endif
#ifndef ZOR_COMPILER_VERSION
#define ZOR_COMPILER_VERSION "0.0"
#endif
#ifndef ZOR_VERSION_TEXT
#define ZOR_VERSION_TEXT "0.0.0"
#endif
#ifndef ZOR_BRANCH
#define ZOR_BRANCH "Main"
#endif

namespace zor {

const char kToolTitle[] = "ZOR Optimizer";

const char *tool_version_text() { return "Version " ZOR_VERSION_TEXT; }

namespace {

struct BranchWord {
  const char *word;
  const char *code;
};

const BranchWord kBranchWords[] = {
    {"Release_", "ZA"},     {"Development_", "ZB"}, {"Feature_", "ZC"},
    {"Hotfix_", "ZD"},      {"Experimental_", "ZE"}, {"Maintenance_", "ZF"},
    {"Patch_", "ZG"},       {"Beta_", "ZH"},         {"Alpha_", "ZI"},
    {"Sandbox_", "ZJ"},
};

// The first `width` characters of `text` coded by `code`; missing
// characters are coded as "0".
std::string code_prefix(const char *text, size_t width, char (*code)(char)) {
  std::string out;
  for (size_t i = 0; i < width; ++i)
    out += code(text && i < std::strlen(text) ? text[i] : '0');
  return out;
}

// The host name is padded with blanks, which code as "%".
std::string code_host(const char *host) {
  std::string out;
  size_t len = host ? std::strlen(host) : 0;
  for (size_t i = 0; i < 8; ++i)
    out += code_host_char(i < len ? host[i] : ' ');
  return out;
}

int month_from_name(const char *name) {
  static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  for (int m = 0; m < 12; ++m)
    if (std::strncmp(kMonths + 3 * m, name, 3) == 0)
      return m + 1;
  return 1;
}

} // namespace

char code_host_char(char c) {
  unsigned char u = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(c)));
  if (u >= 'A' && u <= 'J')
    return static_cast<char>('0' + (u - 'A'));
  if (u >= 'K' && u <= 'Z')
    return static_cast<char>('A' + (u - 'K'));
  if (u >= '0' && u <= '9')
    return static_cast<char>('Q' + (u - '0'));
  return '%';
}

char code_version_char(char c) {
  if (c >= '0' && c <= '9')
    return code_host_char(c);
  if (c == '.')
    return 'A';
  if (c == '-')
    return 'B';
  return 'C';
}

std::string code_branch(const char *branch) {
  std::string out;
  const char *p = branch;
  for (int pos = 0; pos < 4 && *p; ++pos) {
    const BranchWord *known = nullptr;
    for (const BranchWord &w : kBranchWords)
      if (std::strncmp(p, w.word, std::strlen(w.word)) == 0)
        known = &w;
    if (known) {
      out += known->code;
      p += std::strlen(known->word);
      continue;
    }
    if (*p == 'Z')
      out += "ZZ";
    else if (*p == '9')
      out += "Z9";
    else if (*p == '_' || *p == '-' || *p == '.')
      out += *p;
    else
      out += code_host_char(*p);
    ++p;
  }
  return out;
}

std::string code_build_stamp(const BuildTime &when, const char *host,
                             const char *compiler_version, const char *product_version,
                             const char *branch) {
  std::string s = "1";
  s += static_cast<char>(when.year - 1935);
  int m = when.month - 1;   // "I" is skipped
  s += static_cast<char>(m < 8 ? 'A' + m : 'A' + m + 1);
  s += static_cast<char>(when.day < 10 ? '0' + when.day : 'A' + (when.day - 10));
  s += static_cast<char>('A' + when.hour % 24);
  s += '-';
  s += code_host(host);
  s += '-';
  s += code_prefix(compiler_version, 5, code_version_char);
  s += '-';
  s += code_prefix(product_version, 3, code_version_char);
  s += '-';
  s += code_branch(branch);
  return s;
}

const std::string &build_stamp() {
  static const std::string stamp = [] {
    // __DATE__ is "Mmm dd yyyy", __TIME__ "hh:mm:ss".
    const char *date = __DATE__;
    BuildTime t{std::atoi(date + 7), month_from_name(date), std::atoi(date + 4),
                std::atoi(__TIME__)};
    return code_build_stamp(t, ZOR_BUILD_HOST, ZOR_COMPILER_VERSION, ZOR_VERSION_TEXT,
                            ZOR_BRANCH);
  }();
  return stamp;
}

} // namespace zor
