// The C library zrun provides to programs: a text is split into words with
// ctype, its numbers read with strtol, the words sorted with qsort and a
// comparator of the program and found again with bsearch, lines built with
// sprintf, snprintf and a variadic function of the program (vsnprintf),
// and the math functions computed in single precision, as double is.
// RUN: %zcc %s -o %t.if
// RUN: %zrun %t.if | FileCheck %s
// RUN: %zopt -o2 %t.if %t.o2 && %zrun %t.o2 | FileCheck %s
#include <ctype.h>
#include <stdint.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

struct lib_probe {
  long n;
  char c;
};

static const char *text = "The 3 quick foxes, 0x1F owls & 12 Cats; -7 dogs!";

static int by_text(const void *a, const void *b) {
  return strcmp(*(const char *const *)a, *(const char *const *)b);
}

// Appends a formatted piece to line, never past its size.
static int append(char *line, int size, const char *format, ...) {
  int used = (int)strlen(line);
  va_list ap;
  va_start(ap, format);
  int n = vsnprintf(line + used, size - used, format, ap);
  va_end(ap);
  return n;
}

int main(void) {
  // Classes of the characters.
  int alpha = 0, upper = 0, digit = 0, space = 0, punct = 0, xdigit = 0;
  for (const char *p = text; *p; p++) {
    alpha += isalpha(*p) != 0;
    upper += isupper(*p) != 0;
    digit += isdigit(*p) != 0;
    space += isspace(*p) != 0;
    punct += ispunct(*p) != 0;
    xdigit += isxdigit(*p) != 0;
  }
  printf("%d %d %d %d %d %d %d %d\n", alpha, upper, digit, space, punct, xdigit,
         isalnum('_') != 0, iscntrl('\n') != 0);
  // CHECK: 27 3 6 10 5 14 0 1

  // Words, lower-cased, and numbers (any base strtol recognises).
  char words[8][10];
  int nwords = 0;
  long sum = 0;
  const char *p = text;
  while (*p) {
    if (isalpha(*p)) {
      int n = 0;
      while (isalpha(*p) && n < 9)
        words[nwords][n++] = (char)tolower(*p++);
      words[nwords++][n] = 0;
    } else if (isdigit(*p) || (*p == '-' && isdigit(p[1]))) {
      char *end;
      sum += strtol(p, &end, 0);
      p = end;
    } else {
      p++;
    }
  }
  printf("%d words, sum %ld\n", nwords, sum);
  // CHECK-NEXT: 6 words, sum 39

  const char *order[8];
  for (int i = 0; i < nwords; i++)
    order[i] = words[i];
  qsort(order, nwords, sizeof order[0], by_text);
  char line[40] = "";
  for (int i = 0; i < nwords; i++)
    append(line, sizeof line, i ? " %s" : "%s", order[i]);
  printf("%s\n", line);
  // CHECK-NEXT: cats dogs foxes owls quick the
  const char *key = "owls";
  const char **found = bsearch(&key, order, nwords, sizeof order[0], by_text);
  printf("owls at %d\n", found ? (int)(found - order) : -1);
  // CHECK-NEXT: owls at 3

  // A line cut by snprintf; the count is what the whole line takes.
  char small[12];
  int n = snprintf(small, sizeof small, "%s|%5.2f|%-4d|", "sum", 3.14159, -42);
  char upper_copy[12];
  int k = sprintf(upper_copy, "%c%c%c", toupper(small[0]), toupper(small[1]), toupper(small[2]));
  printf("%d [%s] %d %s %s\n", n, small, k, upper_copy, strrchr(small, '|'));
  // CHECK-NEXT: 15 [sum| 3.14|-] 3 SUM |-

  // The math functions, rounded to single precision.
  printf("%.6f %.6f %.6f %.4f\n", sin(1.0), cosf(0.5f), atan2(1.0, -1.0), exp(1.0));
  // CHECK-NEXT: 0.841471 0.877583 2.356194 2.7183
  printf("%.1f %.1f %.1f %.1f %g %g\n", round(2.5), round(-2.5), trunc(-2.7), hypot(3.0, 4.0),
         pow(2.0, 0.5) * pow(2.0, 0.5), log10(1000.0));
  // CHECK-NEXT: 3.0 -3.0 -2.0 5.0 2 3
  printf("%g %g %.5f %.5f\n", fmin(-0.5, 2.0), fmaxf(-0.5f, 2.0f), tanh(0.5), log(10.0));
  // CHECK-NEXT: -0.5 2 0.46212 2.30259
  // The size_t, ptrdiff_t and intmax_t length modifiers.
  printf("%zu %td %jd\n", sizeof(struct lib_probe), &text[5] - &text[1], (intmax_t)-1 << 40);
  // CHECK-NEXT: 4 4 -1099511627776
  // No clock: time is the epoch and clock 0, so runs repeat exactly.
  time_t now, t2 = time(&now);
  printf("%ld %ld %ld %g\n", (long)now, (long)t2, (long)clock(), difftime(t2 + 90, t2));
  // CHECK-NEXT: 0 0 0 90
  return 0;
}
