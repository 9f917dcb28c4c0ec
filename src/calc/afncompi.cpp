// The table service's dispatch table: which handler answers which code.
#include "calc/acalc.h"
#include "calc/fplan.h"
#include "functions/fnstring.h"
#include "grammar/toktab.h"
#include "table/filsrv.h"
#include "variables/varsys.h"

calc_fn Obef[kCodes];

namespace {

struct Entry {
  int code;
  calc_fn handler;
};

// ORDER OPCODES: the built-in functions (2..190, handlers in
// src/functions), the operator and operand codes of the compiled grammar
// (256..272, 299..384; the engine's compiler loads its string literals
// under 306, clients under 378), the variables (309) and the table
// service's field loads (335, 336).
const Entry kOperators[] = {
    {kValCode, fnval},
    {256, uminu}, {257, unot},    {258, sum},     {259, sub},      {260, prd},     {261, vlxdiv},
    {262, dpow},  {263, dpow},    {264, dor},     {265, dxor},     {266, dand},    {267, cgrth},
    {268, cgreq}, {269, clsth},   {270, clseq},   {271, cequa},    {272, cdiff},   {299, loadbool},
    {302, loadint}, {303, loaddcb}, {306, loadstu}, {307, loaddte}, {378, loadstu}, {383, loaduuid},
    {384, loaddtm}, {309, varia_g}, {335, kcmp_g}, {336, chamfi_g},
};

}  // namespace

int fsring() {
  // Names for the functions' error details; without memory for them the
  // details carry the codes alone, and the functions still work.
  iniTokTab();
  for (calc_fn& f : Obef) f = err_f;
  for (const Entry& e : kOperators) Obef[e.code] = e.handler;
  Plan_view = chamfi_view;
  return 0;
}
