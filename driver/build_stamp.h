// driver/build_stamp.h - the build stamp of the information-file header.
//
// The stamp codes when, where and with what the tool was built into one line
// of letters and digits: "1", year, month, day, hour, "-", host, "-",
// compiler version, "-", product version, "-", branch.
#pragma once

#include <string>

namespace zor {

struct BuildTime {
  int year;    // e.g. 2017
  int month;   // 1..12
  int day;     // 1..31
  int hour;    // 0..24 (24 counts as 0)
};

// Host-name coding: letters upper-cased, "A".."J" -> "0".."9", "K".."Z" ->
// "A".."P", digits -> "Q".."Z", anything else "%".
char code_host_char(char c);
// Version coding: digits as for the host, "." -> "A", "-" -> "B", else "C".
char code_version_char(char c);
// Branch coding, four positions: a known branch word gives its two-letter
// code ("Release_" -> "ZA", ...), "Z" -> "ZZ", "9" -> "Z9", "_", "-" and "."
// stay, anything else as for the host.
std::string code_branch(const char *branch);

// The whole stamp, a pure function of its inputs.
std::string code_build_stamp(const BuildTime &when, const char *host,
                             const char *compiler_version, const char *product_version,
                             const char *branch);

// The stamp of this build: compile date and time, and the build host,
// compiler version, product version and branch recorded at configure time.
const std::string &build_stamp();

// Title and version text of the information-file header.
extern const char kToolTitle[];
const char *tool_version_text();

} // namespace zor
