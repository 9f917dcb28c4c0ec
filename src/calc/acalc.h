// The expression calculator: evaluation of the nodes of a compiled grammar
// through a dispatch table indexed by node code, the operators and the
// literal loads of that table.
//
// Every handler returns 0 or a negated error number; the first error ends
// the evaluation. Operators evaluate their operands through `Calculator`;
// temporaries are values on the stack, so scalar results and strings of up
// to 256 characters allocate nothing.
#pragma once

#include "calc/calcbase.h"
#include "image/vlxload.h"

using calc_fn = int (*)(res_u* result, grctx* g, s_exp* node, int code);

inline constexpr int kCodes = 387;
// The codes of a field of the current record and of a comparison with the
// table's current key, both answered by the table service.
inline constexpr unsigned kFieldLoad = 336;
inline constexpr unsigned kKeyCompare = 335;

// The table service's dispatch table, which evafsr evaluates with (the
// service fills it, fsring), and the table in force during an evaluation.
extern calc_fn Obef[kCodes];
extern calc_fn* Calculator;

int evafsr(res_u* result, grctx* g, unsigned node);
// As evafsr, for a node met `depth` levels down a tree: its own operands
// are held to the nesting limit from there.
int evafsr_at(res_u* result, grctx* g, unsigned node, int depth);
int calcul(res_u* result, grctx* g, unsigned node);
// The result's type code, or a negated error.
int evalue(res_u* result, grctx* g, unsigned node);
int evaint(grctx* g, unsigned node, int* out);
int executeOperation(res_u* result, grctx* g, s_exp* node, int (*op)(res_u*, res_u*));

// Handlers of the dispatch table.
int err_f(res_u* r, grctx* g, s_exp* e, int code);
int uminu(res_u* r, grctx* g, s_exp* e, int code);
int unot(res_u* r, grctx* g, s_exp* e, int code);
int sum(res_u* r, grctx* g, s_exp* e, int code);
int sub(res_u* r, grctx* g, s_exp* e, int code);
int prd(res_u* r, grctx* g, s_exp* e, int code);
int vlxdiv(res_u* r, grctx* g, s_exp* e, int code);
int dpow(res_u* r, grctx* g, s_exp* e, int code);
int dor(res_u* r, grctx* g, s_exp* e, int code);
int dxor(res_u* r, grctx* g, s_exp* e, int code);
int dand(res_u* r, grctx* g, s_exp* e, int code);
int cgrth(res_u* r, grctx* g, s_exp* e, int code);
int cgreq(res_u* r, grctx* g, s_exp* e, int code);
int clsth(res_u* r, grctx* g, s_exp* e, int code);
int clseq(res_u* r, grctx* g, s_exp* e, int code);
int cequa(res_u* r, grctx* g, s_exp* e, int code);
int cdiff(res_u* r, grctx* g, s_exp* e, int code);
int loadbool(res_u* r, grctx* g, s_exp* e, int code);
int loadint(res_u* r, grctx* g, s_exp* e, int code);
int loaddcb(res_u* r, grctx* g, s_exp* e, int code);
int loaddte(res_u* r, grctx* g, s_exp* e, int code);
int loadstu(res_u* r, grctx* g, s_exp* e, int code);
int loaduuid(res_u* r, grctx* g, s_exp* e, int code);
int loaddtm(res_u* r, grctx* g, s_exp* e, int code);
