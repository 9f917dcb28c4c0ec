/* The classic parser of 4GL expression sources (classic.h): a formula
   ("@" expression), a column list ("!" expressions), a table key ("<"
   columns), or statements (assignments, labels, kept comments). Actions
   write the cells as rules reduce, so nodes come children first, as the
   current compiler's generator writes them. */

%{
#include <string>

#include "grammar/calltab.h"
#include "grammar/classic.h"
#include "grammar/gralex.h"
#include "grammar/gram.h"
#include "grammar/tokens.h"
#include "grammar/toktab.h"

// The parser's stack lives in its frame and never grows: a text nested
// deeper exhausts it (status 2), and an exception from the scanner or the
// builder leaves nothing behind.
#define YYINITDEPTH 2000
#define YYMAXDEPTH 2000
%}

%define api.prefix {gram}
%define api.token.prefix {TOK_}
%define parse.error verbose
%locations

%union {
  unsigned index;  /* a token's value; an expression's index */
  struct {
    unsigned first, last;
    int count;
  } list;          /* expressions chained through next */
  struct {
    unsigned code;
    int arity;
    unsigned call;
  } fn;            /* a function word: its code, its arity, its call when it has no argument list */
  struct {
    unsigned power;
    int line, column;
  } neg;           /* a negated power chain: its last power, where the "-" ends */
}

%code {
int gramlex();
void gramerror(const char* message);

namespace {

using grammar::SourcePos;
namespace code = grammar::code;

SourcePos start_of(const GRAMLTYPE& at) { return {static_cast<std::uint32_t>(at.first_line), static_cast<std::uint32_t>(at.first_column)}; }
SourcePos end_of(const GRAMLTYPE& at) { return {static_cast<std::uint32_t>(at.last_line), static_cast<std::uint32_t>(at.last_column)}; }

unsigned add(unsigned code, SourcePos at, unsigned objectId, unsigned header, unsigned tail) {
  return classic::Builder->addExpression(code, at, objectId, 0, header, tail);
}

unsigned binary(unsigned code, unsigned left, unsigned right, const GRAMLTYPE& op) {
  return add(code, end_of(op), 0, left, right);
}

// A call of `code` over the chain that starts at `first`.
unsigned call(unsigned code, unsigned first, SourcePos at) { return add(code, at, 0, first, 0); }

// Records a syntax error at `at`; the action then aborts.
void error(const GRAMLTYPE& at, const std::string& message) { gra_error(at.first_line, message.c_str(), at.first_column + 1); }

std::string upper(const char* name) { return grammar::Parser::toUpper(name); }

}  // namespace

#define FAIL(at, message) \
  do {                    \
    error(at, message);   \
    YYABORT;              \
  } while (0)
#define MARKER(at)                                                          \
  do {                                                                      \
    if ((at).first_line != 1 || (at).first_column != 0) FAIL(at, "a marker must open the text"); \
  } while (0)
/* A name the scanner could not store (it recorded the error). */
#define STORED(name) \
  do {               \
    if ((name) == 0) YYABORT; \
  } while (0)
}

/* ORDER TOKENS: the numbers of tokens.h (checked at the end). */
%token <index> DIM 291 MAXTAB 346 SIGMA 385 TABD 394 CAST 423 CLACMP 426
%token <index> boolean 433 comment 434 dbl_period 436 identif 442 integer 446 number 452 string 462 varsys 464
%token <index> w0 465 w1_fn 466 w1_nv 467 w2_fn 468 w3_fn 469 wn 470
/* The character "!" opening the text (gramlex): a column list. The word
   NOT, which the table gives the class "!", is a negation there too. */
%token <index> list_marker 600

%type <index> exp xterm pterm member primary target fnword key_column
%type <list> exp_list args key_columns
%type <fn> fnhead
%type <neg> negchain

%precedence LOWEST
%left '|' '?'
%left '&'
%left '=' '<' '>'
%left dbl_period
%left '+' '-'
%left '*' '/'
%precedence NEG
%left '^'
%precedence '('

%start start_rule

%%

/* A marker is the text's first character: elsewhere "!" is a negation,
   "@" and "<" no term. */
start_rule
  : '@' exp endlines              { MARKER(@1); classic::Result = $2; }
  | list_marker exp_list endlines { classic::Result = $2.first; }
  | '<' key_columns endlines      { MARKER(@1); classic::Result = $2.first; }
  | statements
  | statements assignment
  ;

endlines
  : %empty
  | endlines '\n'
  ;

statements
  : %empty
  | statements item
  ;

item
  : assignment end_of_statement
  | identif ':'                   { STORED($1); classic::Builder->addLabel($1); }
  | comment
  | '\n'
  | ':'
  ;

end_of_statement
  : '\n'
  | ':'
  | comment
  ;

assignment
  : target '=' exp                { classic::Builder->addInstruction(code::kAssign, start_of(@1), $1, $3, 0, 0); }
  | target '+' '=' exp            { classic::Builder->addInstruction(code::kAssign, start_of(@1), $1, $4, '+', 0); }
  | target '-' '=' exp            { classic::Builder->addInstruction(code::kAssign, start_of(@1), $1, $4, '-', 0); }
  | target '*' '=' exp            { classic::Builder->addInstruction(code::kAssign, start_of(@1), $1, $4, '*', 0); }
  | target '/' '=' exp            { classic::Builder->addInstruction(code::kAssign, start_of(@1), $1, $4, '/', 0); }
  ;

target
  : pterm                         { if (classic::Result == 0) classic::Result = $1; $$ = $1; }
  | '-' xterm                     { $$ = add(code::kUsub, end_of(@1), 0, $2, 0); if (classic::Result == 0) classic::Result = $$; }
  | '+' xterm                     { $$ = $2; if (classic::Result == 0) classic::Result = $$; }
  | '!' xterm                     { $$ = add(code::kNot, end_of(@1), 0, $2, 0); if (classic::Result == 0) classic::Result = $$; }
  ;

key_columns
  : key_column                    { $$ = {$1, $1, 1}; }
  | key_columns ',' key_column    { classic::Builder->chainExpressions($1.last, $3); $$ = {$1.first, $3, $1.count + 1}; }
  ;

key_column
  : identif                       { STORED($1); $$ = add(code::kVariable, end_of(@1), $1, 0, 0); }
  | '+' identif                   { STORED($2); $$ = add(code::kVariable, end_of(@2), $2, 0, 0); }
  | '-' identif                   { STORED($2); $$ = add(code::kDescending, end_of(@2), 0, add(code::kVariable, end_of(@2), $2, 0, 0), 0); }
  ;

exp_list
  : exp                           { $$ = {$1, $1, 1}; }
  | exp_list ',' exp              { classic::Builder->chainExpressions($1.last, $3); $$ = {$1.first, $3, $1.count + 1}; }
  ;

args
  : %empty                        { $$ = {0, 0, 0}; }
  | exp_list
  ;

exp
  : exp '|' exp                   { $$ = binary(264, $1, $3, @2); }
  | exp '?' exp                   { $$ = binary(265, $1, $3, @2); }
  | exp '&' exp                   { $$ = binary(266, $1, $3, @2); }
  | exp '=' exp                   { $$ = binary(271, $1, $3, @2); }
  | exp '<' exp                   { $$ = binary(269, $1, $3, @2); }
  | exp '>' exp                   { $$ = binary(267, $1, $3, @2); }
  | exp '<' '>' exp %prec '='     { $$ = binary(272, $1, $4, @3); }
  | exp '<' '=' exp %prec '='     { $$ = binary(270, $1, $4, @3); }
  | exp '>' '=' exp %prec '='     { $$ = binary(268, $1, $4, @3); }
  | exp dbl_period exp            { $$ = binary(code::kRange, $1, $3, @2); }
  | exp dbl_period %prec LOWEST   {
      /* Open only where a list item or a group ends, as the current
         compiler reads it: elsewhere a word after ".." is its operand. */
      if (gramchar != ')' && gramchar != ',') FAIL(gramlloc, "missing expression");
      $$ = binary(code::kRange, $1, 0, @2);
    }
  | exp '+' exp                   { $$ = binary(258, $1, $3, @2); }
  | exp '-' exp                   { $$ = binary(259, $1, $3, @2); }
  | exp '*' exp                   { $$ = binary(260, $1, $3, @2); }
  | exp '/' exp                   { $$ = binary(261, $1, $3, @2); }
  | exp '^' exp                   { $$ = binary(262, $1, $3, @2); }
  | exp '^' '^' exp %prec '^'     { $$ = binary(262, $1, $4, @3); }
  | xterm '%' exp %prec LOWEST    {
      classic::Builder->chainExpressions($1, $3);
      $$ = call(code::kMod, $1, end_of(@2));
    }
  | negchain %prec NEG            { $$ = add(code::kUsub, {static_cast<std::uint32_t>($1.line), static_cast<std::uint32_t>($1.column)}, 0, $1.power, 0); }
  | xterm
  ;

negchain
  : '-' xterm '^' exp %prec '^'       { $$ = {binary(262, $2, $4, @3), @1.last_line, @1.last_column}; }
  | '-' xterm '^' '^' exp %prec '^'   { $$ = {binary(262, $2, $5, @4), @1.last_line, @1.last_column}; }
  | negchain '^' exp %prec '^'        { $$ = {binary(262, $1.power, $3, @2), $1.line, $1.column}; }
  | negchain '^' '^' exp %prec '^'    { $$ = {binary(262, $1.power, $4, @3), $1.line, $1.column}; }
  ;

xterm
  : '-' xterm                     { $$ = add(code::kUsub, end_of(@1), 0, $2, 0); }
  | '+' xterm                     { $$ = $2; }
  | '!' xterm                     { $$ = add(code::kNot, end_of(@1), 0, $2, 0); }
  | pterm
  ;

pterm
  : primary
  | primary '(' args ')'          { $$ = add(code::kIndex, start_of(@2), 0, $1, $3.first); }
  | member
  | member '(' args ')'           { $$ = add(code::kIndex, start_of(@2), 0, $1, $3.first); }
  ;

member
  : pterm '.' identif             { STORED($3); $$ = add(code::kMember, end_of(@3), $3, $1, 0); }
  ;

primary
  : integer                       { $$ = add(code::kInteger, start_of(@1), $1, 0, 0); }
  | number                        { $$ = add(code::kDecimal, start_of(@1), $1, 0, 0); }
  | string                        { $$ = add(code::kString, start_of(@1), $1, 0, 0); }
  | boolean                       { $$ = add(code::kBoolean, end_of(@1), $1, 0, 0); }
  | identif                       {
      STORED($1);
      /* The current compiler reads such a word as a call. */
      if (findFunction(gt_cide(Gram_ctx, $1)) != nullptr)
        FAIL(@1, std::string("The function ") + gt_cide(Gram_ctx, $1) + " isn't managed");
      $$ = add(code::kVariable, end_of(@1), $1, 0, 0);
    }
  | varsys                        { $$ = add(code::kSystemVariable, end_of(@1), $1, 0, 0); }
  | '[' identif ']' identif       {
      STORED($2);
      STORED($4);
      int entry = stfcid(Gram_ctx, $2, $4);
      if (entry < 0) FAIL(@4, "stfcid failed with error " + std::to_string(entry));
      $$ = add(code::kClassIdent, end_of(@4), static_cast<unsigned>(entry), 0, 0);
    }
  | '[' integer '/' integer '/' integer ']' {
      int day = gt_int(Gram_ctx, $2), month = gt_int(Gram_ctx, $4), year = gt_int(Gram_ctx, $6);
      /* The scanner stored the parts as it met them: the date takes
         their place in the pool. */
      if ($2 != 0 && $4 == $2 + 1 && $6 == $4 + 1 && $6 == Gram_ctx->gr_int.gc_nbr) Gram_ctx->gr_int.gc_nbr -= 3;
      $$ = add(code::kDate, end_of(@1), classic::Builder->addDate(year, month, day), 0, 0);
    }
  | '(' exp ')'                   { $$ = $2; }
  | fnhead %prec LOWEST           {
      if ($1.arity != 0) FAIL(@1, "missing (");
      $$ = $1.call;
    }
  | fnhead '(' args ')'           {
      std::string name = upper(recup_tok(1, static_cast<int>($1.code)));
      if ($1.arity == 0) {
        $$ = add(code::kIndex, start_of(@2), 0, $1.call, $3.first);
      } else {
        if (name == "SIGMA") {
          if ($3.count != 3) FAIL(@1, "bad number of arguments for sigma");
          const s_exp* counter = gt_exp(Gram_ctx, $3.first);
          unsigned named = counter->code == 271 ? gt_exp(Gram_ctx, counter->header)->code : 0;
          if (named != code::kVariable && named != code::kSystemVariable && named != code::kClassIdent)
            FAIL(@1, "bad sigma syntax: identifier expected before = sign");
        }
        if (name == "EVALUE" && $3.count == 0) FAIL(@1, "bad number of arguments for evalue");
        $$ = call($1.code, $3.first, end_of(@1));
      }
    }
  ;

/* The function words of the token table, whatever their class: the
   current compiler's table says which compile and how. */
fnhead
  : fnword                        {
      std::string name = upper(recup_tok(1, static_cast<int>($1)));
      const s_fnc* function = findFunction(name);
      if (name == "NULL") {
        $$ = {code::kNull, 0, 0};
      } else if (function == nullptr || function->code == 0) {
        FAIL(@1, "The function " + name + " isn't managed");
      } else {
        $$ = {function->code, function->arity, 0};
      }
      if ($$.arity == 0) $$.call = add($$.code, end_of(@1), 0, 0, 0);
    }
  ;

fnword
  : w0 | w1_fn | w1_nv | w2_fn | w3_fn | wn | DIM | CAST | CLACMP | MAXTAB | TABD | SIGMA
  ;

%%

static_assert(+TOK_DIM == +gratok::DIM && +TOK_MAXTAB == +gratok::MAXTAB && +TOK_SIGMA == +gratok::SIGMA &&
              +TOK_TABD == +gratok::TABD && +TOK_CAST == +gratok::CAST && +TOK_CLACMP == +gratok::CLACMP &&
              +TOK_boolean == +gratok::boolean && +TOK_comment == +gratok::comment &&
              +TOK_dbl_period == +gratok::dbl_period && +TOK_identif == +gratok::identif &&
              +TOK_integer == +gratok::integer && +TOK_number == +gratok::number && +TOK_string == +gratok::string &&
              +TOK_varsys == +gratok::varsys && +TOK_w0 == +gratok::w0 && +TOK_w1_fn == +gratok::w1_fn &&
              +TOK_w1_nv == +gratok::w1_nv && +TOK_w2_fn == +gratok::w2_fn && +TOK_w3_fn == +gratok::w3_fn &&
              +TOK_wn == +gratok::wn);

int gramlex() {
  int token = gra_lex();
  gramlval.index = gra_lval.value;
  int line = static_cast<int>(gra_lval.line), end = static_cast<int>(gra_lval.column);
  gramlloc = {line, end - gra_get_leng(), line, end};
  if (token == '!' && line == 1 && end == 1 && gra_get_leng() == 1) return TOK_list_marker;
  return token;
}

void gramerror(const char* message) { gra_error(gramlloc.first_line, message, gramlloc.first_column + 1); }
