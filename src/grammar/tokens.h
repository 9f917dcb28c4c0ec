// Token numbers of the 4GL's two classic grammars: the named tokens of the
// expression and statement grammar (from 258, in a fixed order) and those
// of the SData filter grammar (also from 258). A single character is the
// token whose number is its code; 0 ends the input.
//
// ORDER TOKENS: the classic parsers declare their tokens in exactly these
// orders, and the token table (toktab.inc) stores these numbers as word
// classes; change all of them together.
#pragma once

namespace gratok {
enum : int {
    ADDITM = 258, AFFOND, ANASQL, APPEND, APPENDCL, AS, ASSIGN, AT, BLKEDT, BOITE, BOOK, BOXACT, BOXINP,
    BUTTON, BY, CALL, CALLSTOR, CALLWS, CALZON, CASE, CHAR, CHOOSE, CLLDAP, CLOSE, CLOSEXML, CODED, COLUMNS,
    COMBO, CONSTANT, CURR, DECLASS, DEFAULT, DELETEREC, DIM, DISCMB, EDI, ELSE, ELSIF, ENDCASE, ENDIF,
    ENDSTOR, EXECSQL, EXECWS, EXTENDED, EXTERN, FIELD, FIL, FILTER, FLUSH, FNCMET, FNCZON, FOLDER, FOR,
    FORMULE, FROM, FUNC, FCTSTR, GETSEQ, GETFIRSTCHILD, GETNEXTCHILD, GETLASTCHILD, GETROOTELEMENT, GETPARENT,
    GETNBCHILD, GETCHILDBYNAME, GETFIRSTCHILDBYNAME, GETNEXTCHILDBYNAME, GETLASTCHILDBYNAME, GLOBAL, GRISE,
    HINT, HINTNL, HLPBOX, IF, INFIMG, INFTXT, INI, INPWIN, IOMODE, KEY, KILL, LIB, LINK, LISTBOX, LOCAL, MASK,
    MATRA, MAXROWS, MAXTAB, MEN, MESSAGE, METHODE, MODELM, MODRNG, MODZON, NEXT, NOHINT, NOHINTWS, NXLDAP,
    ONEVT, ONKEY, OPLDAP, ORDER, PARTBOX, PBOXINS, PILLTB, PMT, PROCEDURE, PSVLX, PUTSEQ, RAZ, RDSEQ,
    READPATCHLINE, REB, REPEAT, REPORT, REPSTA, REWRITE, RUNOBJ, SAXPARSE, SEEK, SETBFN, SETCOD, SETMODE, SQL,
    SRLDAP, SELDEST, SIGMA, SIZED, SLEEP, SORTA, SSL, STARTING, STEP, STORPRO, SYSTEM, TABD, THEN, TITCOL,
    TITLED, TO, TRBEGIN, UNTIL, UPDATE, USING, VALUE, VARIABLE, WEND, WHEN, WHERE, WHILE, WITH, WRITE, WRSEQ,
    XML, NEW, FREE, PARSESTC, SETSTC, CONVXML, CLOSECOM, CRVRECV, CRVSEND, FFLUSH, WRITEB, CAST, RWKEY, DLKEY,
    CLACMP, LOGICCLOSE, GROUP, FREEGROUP, FREEZE, UNTRUST, CLBEXECUTE, boolean, comment, dbl_colon,
    dbl_period, debug_word, end_of_file, end_word, first_last, go_word, identif, input_mask_word, ins_dela,
    instr_trans, integer, lock_word, m0, m01, m_lis, m_pmt, number, on_go_word, open_word, opvlxd, opsock,
    other_directions, print_word, read_word, read_xml, sens_tri, string, type_word, varsys, w0, w1_fn, w1_nv,
    w2_fn, w3_fn, wn,
};
static_assert(comment == 434 && dbl_colon == 435 && dbl_period == 436 && identif == 442 && integer == 446 &&
              number == 452 && string == 462 && varsys == 464 && w0 == 465 && wn == 470);
// A token no grammar accepts: the scanner's answer to a byte that cannot
// stand in a source (a NUL), after it has recorded the error.
inline constexpr int undefined = 257;
}  // namespace gratok

namespace sdatok {
enum : int {
    eq = 258, ne, lt, le, gt, ge, between, dand, dor, in, like, mul, tnot, divide, mod, pow, datetime,
    identif, integer, number, string, boolean, nulldate, varsys, w0, w1_fn, w1_nv, w2_fn, wn, INTERV,
};
static_assert(INTERV == 287);
inline constexpr int undefined = 257;
}  // namespace sdatok
