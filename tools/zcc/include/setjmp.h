/* setjmp.h - zcc's own.  A jmp_buf holds the number zrun gives the place
 * setjmp was called from.  longjmp returns to that call, which must still
 * be running, and runs the statement that called setjmp again, setjmp now
 * returning the value (1 for 0).  Use setjmp as C allows: as the whole
 * condition of an if, switch or loop, compared with a constant, under !, or
 * as a statement or the right side of an assignment of its own. */
#ifndef _ZCC_SETJMP_H
#define _ZCC_SETJMP_H
typedef int jmp_buf[1];
int setjmp(jmp_buf env);
void longjmp(jmp_buf env, int val);
#endif
