/* The classic parser of SData filter expressions (classic.h): "@" and one
   expression. Actions write the cells as rules reduce, children first. */

%{
#include <string>

#include "grammar/calltab.h"
#include "grammar/classic.h"
#include "grammar/gram.h"
#include "grammar/sdalex.h"
#include "grammar/tokens.h"

// As in gramparse.y: a stack that never grows.
#define YYINITDEPTH 2000
#define YYMAXDEPTH 2000
%}

%define api.prefix {sdata}
%define api.token.prefix {TOK_}
%define parse.error verbose
%locations

%union {
  unsigned index;  /* a token's value; an expression's index */
  struct {
    unsigned first, last;
    int count;
  } list;          /* expressions chained through next */
}

%code {
int sdatalex();
void sdataerror(const char* message);

namespace {

using grammar::SourcePos;
namespace code = grammar::code;

// A datetime token's value carries its type: this bit for a date-time
// (384), none for a date (307).
constexpr unsigned kDatetimeBit = 0x80000000u;

SourcePos start_of(const SDATALTYPE& at) { return {static_cast<std::uint32_t>(at.first_line), static_cast<std::uint32_t>(at.first_column)}; }
SourcePos end_of(const SDATALTYPE& at) { return {static_cast<std::uint32_t>(at.last_line), static_cast<std::uint32_t>(at.last_column)}; }

unsigned add(unsigned code, SourcePos at, unsigned objectId, unsigned header, unsigned tail, unsigned type = 0) {
  return classic::Builder->addExpression(code, at, objectId, type, header, tail);
}

unsigned binary(unsigned code, unsigned left, unsigned right, const SDATALTYPE& op) {
  return add(code, end_of(op), 0, left, right);
}

unsigned chain(unsigned first, unsigned next) {
  classic::Builder->chainExpressions(first, next);
  return first;
}

}  // namespace

#define FAIL(at, message)                                              \
  do {                                                                 \
    gra_error((at).first_line, (message).c_str(), (at).first_column + 1); \
    YYABORT;                                                           \
  } while (0)
}

/* ORDER TOKENS: the numbers of tokens.h (checked at the end). */
%token <index> eq 258 ne 259 lt 260 le 261 gt 262 ge 263 between 264 dand 265 dor 266 in 267 like 268
%token <index> mul 269 tnot 270 divide 271 mod 272 datetime 274 identif 275 integer 276 number 277
%token <index> string 278 boolean 279 nulldate 280 w1_fn 283 w2_fn 285 wn 286

%type <index> exp term fnword
%type <list> exp_list args

%left dor
%left dand
%left eq ne lt le gt ge like between in
%left '+' '-'
%left mul divide mod

%start start_rule

%%

start_rule
  : '@' exp                       { classic::Result = $2; }
  ;

exp_list
  : exp                           { $$ = {$1, $1, 1}; }
  | exp_list ',' exp              { chain($1.last, $3); $$ = {$1.first, $3, $1.count + 1}; }
  ;

args
  : %empty                        { $$ = {0, 0, 0}; }
  | exp_list
  ;

exp
  : exp dor exp                   { $$ = binary(264, $1, $3, @2); }
  | exp dand exp                  { $$ = binary(266, $1, $3, @2); }
  | exp eq exp                    { $$ = binary(271, $1, $3, @2); }
  | exp ne exp                    { $$ = binary(272, $1, $3, @2); }
  | exp lt exp                    { $$ = binary(269, $1, $3, @2); }
  | exp le exp                    { $$ = binary(270, $1, $3, @2); }
  | exp gt exp                    { $$ = binary(267, $1, $3, @2); }
  | exp ge exp                    { $$ = binary(268, $1, $3, @2); }
  | exp like exp                  { $$ = add(code::kLike, end_of(@2), 0, chain($1, $3), 0); }
  | exp between term dand term %prec between {
      unsigned bounds = binary(code::kAnd, $3, $5, @2);
      $$ = add(code::kBetween, end_of(@2), 0, chain($1, bounds), 0);
    }
  | exp in '(' exp_list ')' %prec in {
      unsigned found = add(code::kFind, end_of(@2), 0, chain($1, $4.first), 0);
      unsigned zero = add(code::kInteger, end_of(@2), classic::Builder->addInteger(0), 0, 0);
      $$ = binary(code::kNe, found, zero, @2);
    }
  | exp '+' exp                   { $$ = binary(258, $1, $3, @2); }
  | exp '-' exp                   { $$ = binary(259, $1, $3, @2); }
  | exp mul exp                   { $$ = binary(260, $1, $3, @2); }
  | exp divide exp                { $$ = binary(261, $1, $3, @2); }
  | exp mod exp                   { $$ = add(code::kMod, end_of(@2), 0, chain($1, $3), 0); }
  | term
  ;

term
  : '(' exp ')'                   { $$ = $2; }
  | integer                       { $$ = add(code::kInteger, start_of(@1), $1, 0, 0); }
  | number                        { $$ = add(code::kDecimal, start_of(@1), $1, 0, 0); }
  | string                        { $$ = add(code::kString, start_of(@1), $1, 0, 0); }
  | datetime                      {
      /* Where the date starts, after its opening "@". */
      SourcePos at{static_cast<std::uint32_t>(@1.first_line), static_cast<std::uint32_t>(@1.first_column + 1)};
      $$ = add($1 & kDatetimeBit ? code::kDatetime : code::kDate, at, $1 & ~kDatetimeBit, 0, 0);
    }
  | boolean                       { $$ = add(code::kBoolean, end_of(@1), $1, 0, 0); }
  | nulldate                      { $$ = add(code::kDatetime, end_of(@1), classic::Builder->addLargeInteger(0), 0, 0, 1); }
  | identif                       { $$ = add(code::kVariable, end_of(@1), $1, 0, 0); }
  | tnot term                     { $$ = add(code::kNot, end_of(@1), 0, $2, 0); }
  | '-' term                      { $$ = add(code::kUsub, end_of(@1), 0, $2, 0); }
  | '+' term                      { $$ = $2; }
  | fnword '(' args ')'           {
      const s_fnc* function = findSdataFunctionByCode($1);
      if ($3.count != function->arity) FAIL(@1, std::string("bad number of arguments for ") + function->name);
      if (function->code == 262) {
        /* pow(a, b) is the power operator. */
        $$ = add(function->code, end_of(@1), 0, $3.first, gt_exp(Gram_ctx, $3.first)->next);
        gt_exp(Gram_ctx, $3.first)->next = 0;
      } else {
        $$ = add(function->code, end_of(@1), 0, $3.first, 0);
      }
    }
  ;

fnword
  : w1_fn | w2_fn | wn
  ;

%%

static_assert(+TOK_eq == +sdatok::eq && +TOK_like == +sdatok::like && +TOK_mod == +sdatok::mod &&
              +TOK_datetime == +sdatok::datetime && +TOK_identif == +sdatok::identif &&
              +TOK_nulldate == +sdatok::nulldate && +TOK_w1_fn == +sdatok::w1_fn && +TOK_w2_fn == +sdatok::w2_fn &&
              +TOK_wn == +sdatok::wn);

int sdatalex() {
  int token = sda_lex();
  sdatalval.index = sda_lval.value | (token == TOK_datetime && sda_lval.type == grammar::code::kDatetime ? kDatetimeBit : 0);
  int line = static_cast<int>(sda_lval.line), end = static_cast<int>(sda_lval.column);
  sdatalloc = {line, end - sdataget_leng(), line, end};
  return token;
}

void sdataerror(const char* message) { gra_error(sdatalloc.first_line, message, sdatalloc.first_column + 1); }
