// The table service's dispatch table: which handler of the calculator, of
// the built-in functions or of the service itself answers which node code
// of a received grammar.
#pragma once

// Fills Obef: err_f everywhere, then the operators and literal loads, the
// built-in functions and the service's field loads, with their record
// view (Plan_view).
int fsring();
