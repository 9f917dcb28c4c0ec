#include "table/afncompi.h"

#include "calc/acalc.h"
#include "calc/fplan.h"
#include "functions/afnc2.h"
#include "functions/afnc3.h"
#include "functions/afnsum.h"
#include "functions/fnargs.h"
#include "grammar/toktab.h"
#include "table/filsrv.h"
#include "variables/varsys.h"

namespace {

struct Entry {
  int code;
  calc_fn handler;
};

// ORDER OPCODES: the built-in functions (2..190, codes in
// src/functions/fnargs.h, ORDER FNCODES), the operator codes of the
// compiled grammar (256..272), the literal loads (under their value's type
// code; the engine's compiler loads its string literals under 306 too), the
// variables (309) and the table service's field loads (335, 336).
const Entry kOperators[] = {
    {kFnTime, fntime},       {kFnTimeD, fntimed},     {kFnInt, fnint},         {kFnAbs, fnabs},
    {kFnAr2, fnar2},         {kFnLen, fnlen},         {kFnVal, fnval},         {kFnAscii, fnascii},
    {kFnYear, fnymd},        {kFnMonth, fnymd},       {kFnDay, fnymd},         {kFnNday, fnnday},
    {kFnDayn, fndayn},       {kFnNumD, fnnum},        {kFnSpaceD, fnspace},    {kFnChrD, fnchr},
    {kFnNdayD, fnnday},      {kFnDayD, fndayd},       {kFnMonthD, fnmonthd},   {kFnStringD, fnstring},
    {kFnInstr, fninstr},     {kFnLeftD, fnleft},      {kFnRightD, fnright},    {kFnMidD, fnmid},
    {kFnSegD, fnseg},        {kFnGdatD, fngdat},      {kFnPat, fnpat},         {kFnMin, fnsum},
    {kFnMax, fnsum},         {kFnSum, fnsum},         {kFnPrd, fnsum},         {kFnAvg, fnsum},
    {kFnVar, fnsum},         {kFnUni, fnfind},        {kFnSigma, fnsigma},     {kFnVireblc, fnvireblc},
    {kFnToupper, fncase},    {kFnTolower, fncase},    {kFnFind, fnfind},       {kFnWeek, fnweek},
    {kFnEomonth, fneomonth}, {kFnAddmonth, fnaddmonth}, {kFnAweek, fnaweek},   {kFnCtrans, fnctrans},
    {kFnLike, fnlike},
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
  Plan_functions = {{kFnVal, fnval}, {kFnLen, fnlen}, {kFnLeftD, fnleft}, {kFnToupper, fncase}};
  return 0;
}
