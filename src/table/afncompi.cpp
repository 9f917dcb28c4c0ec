#include "table/afncompi.h"

#include "calc/acalc.h"
#include "calc/fplan.h"
#include "functions/fnstring.h"
#include "grammar/toktab.h"
#include "table/filsrv.h"
#include "variables/varsys.h"

namespace {

struct Entry {
  int code;
  calc_fn handler;
};

// ORDER OPCODES: the built-in functions (2..190, handlers in
// src/functions), the operator codes of the compiled grammar (256..272),
// the literal loads (under their value's type code; the engine's compiler
// loads its string literals under 306 too), the variables (309) and the
// table service's field loads (335, 336).
const Entry kOperators[] = {
    {kValCode, fnval},
    {256, uminu},    {257, unot},       {258, sum},     {259, sub},      {260, prd},     {261, vlxdiv},
    {262, dpow},     {263, dpow},       {264, dor},     {265, dxor},     {266, dand},    {267, cgrth},
    {268, cgreq},    {269, clsth},      {270, clseq},   {271, cequa},    {272, cdiff},   {LBOOL, loadbool},
    {LINTG, loadint}, {LDCB, loaddcb},  {LDATE, loaddte}, {LSTRG, loadstu}, {LSTRU, loadstu}, {LUUID, loaduuid},
    {LDATETIME, loaddtm}, {309, varia_g}, {kKeyCompare, kcmp_g}, {kFieldLoad, chamfi_g},
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
