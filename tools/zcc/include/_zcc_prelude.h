/* _zcc_prelude.h - included by zcc before every source file.
 *
 * _nassert(e) tells the optimizer that e holds; zcc turns the call into an
 * assertion statement (docs/icode.md, "Assertions").  It is declared here so
 * that programs need no header for it. */
void _nassert(int condition);
