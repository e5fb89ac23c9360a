/* stddef.h - zcc's own: types follow the ZOR data model (16-bit units). */
#ifndef _ZCC_STDDEF_H
#define _ZCC_STDDEF_H
typedef unsigned int size_t;
typedef int ptrdiff_t;
#ifndef __cplusplus
typedef unsigned short wchar_t;
#endif
#define NULL ((void *)0)
#define offsetof(type, member) __builtin_offsetof(type, member)
#endif
