/* ctype.h - zcc's own: the character classes of ASCII.  Characters above
 * 127 and EOF are in no class. */
#ifndef _ZCC_CTYPE_H
#define _ZCC_CTYPE_H
int isdigit(int c);
int isalpha(int c);
int isalnum(int c);
int isspace(int c);
int isupper(int c);
int islower(int c);
int isxdigit(int c);
int isprint(int c);
int ispunct(int c);
int isgraph(int c);
int iscntrl(int c);
int toupper(int c);
int tolower(int c);
#endif
