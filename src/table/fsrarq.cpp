#include "table/fsrarq.h"

#include "channel/divcom.h"
#include "channel/iocom.h"
#include "diagnostics/vlxerr.h"
#include "table/fsrelf.h"

using namespace vlx;

int Nutmsk = 255;
int Nutoff = 256;

// ORDER FSRNODES: node numbers are handler slots (Trans_fn_fsrarq) and the
// targets of Trans_nd_fsrarq.
const s_etn Tabnoeud_fsarq[kFsrNodes] = {
    /*  0 */ {nullptr, nullptr, 0, 0},
    /*  1 fsr_st */ {nullptr, fsr_st, 0, -1},
    /*  2 fsr_op */ {nullptr, fsr_op, 0, -1},
    /*  3 */ {nullptr, xndatm, 0, -1},
    /*  4 */ {nullptr, xndatm, 0, -1},
    /*  5 */ {nullptr, xndatm, 0, -1},
    /*  6 */ {nullptr, xndu1s, 0, -1},
    /*  7 */ {nullptr, xndst2, 0, -1},
    /*  8 */ {nullptr, xndcls, -1, -1},
    /*  9 fsr_cd */ {nullptr, fsr_cd, 0, -1},
    /* 10 */ {nullptr, xnsatm, 0, -1},
    /* 11 */ {nullptr, xndatm, 0, -1},
    /* 12 */ {nullptr, xndust3, 0, -1},
    /* 13 fsr_rd */ {nullptr, fsr_rd, 64, -1},
    /* 14 fsr_wr */ {nullptr, fsr_wr, 64, -1},
    /* 15 fsr_rw */ {nullptr, fsr_rw, 64, -1},
    /* 16 */ {nullptr, xnlatm, 64, -1},
    /* 17 */ {nullptr, xndatm, 64, -1},
    /* 18 */ {nullptr, xndatm, 64, -1},
    /* 19 */ {nullptr, xnlatm, 64, -1},
    /* 20 */ {nullptr, xnlatm, 64, -1},
    /* 21 */ {nullptr, nullptr, 64, -1},
    /* 22 */ {nullptr, xnlatm, 64, -1},
    /* 23 */ {nullptr, xndatm, 64, -1},
    /* 24 fsr_ck */ {nullptr, fsr_ck, 64, -1},
    /* 25 fsr_cs */ {nullptr, fsr_cs, 64, -1},
    /* 26 */ {nullptr, xndub2, 64, -1},
    /* 27 fsr_ln */ {nullptr, fsr_ln, 64, -1},
    /* 28 */ {nullptr, xndub1, 64, -1},
    /* 29 */ {nullptr, xndub1, 64, -1},
    /* 30 fsr_up */ {nullptr, fsr_up, 64, -1},
    /* 31 fsr_of */ {nullptr, fsr_of, 64, -1},
    /* 32 */ {nullptr, nullptr, 64, -1},
    /* 33 fsr_ci */ {nullptr, fsr_ci, 64, -1},
    /* 34 */ {nullptr, xndsl2, 64, -1},
    /* 35 fsr_es */ {nullptr, fsr_es, 0, -1},
    /* 36 */ {nullptr, xnvst1, 0, -1},
    /* 37 */ {nullptr, xnvst1, 0, -1},
    /* 38 fsr_sl */ {nullptr, fsr_sl, 64, -1},
    /* 39 */ {nullptr, xndub1, 64, -1},
    /* 40 fsr_gi */ {nullptr, fsr_gi, 64, -1},
    /* 41 fsr_xs */ {nullptr, fsr_xs, 64, -1},
    /* 42 */ {nullptr, xndub1, 64, -1},
    /* 43 */ {nullptr, xndul2, 64, -1},
    /* 44 fsr_gi */ {nullptr, fsr_gi, 64, -1},
    /* 45 fsr_as */ {nullptr, fsr_as, 0, -1},
    /* 46 */ {nullptr, xndbl2, 0, -1},
    /* 47 fsr_ad */ {nullptr, fsr_ad, 0, -1},
    /* 48 */ {nullptr, xndul2, 0, -1},
    /* 49 fsr_cd */ {nullptr, fsr_cd, 0, -1},
    /* 50 */ {nullptr, xndu1s, 0, -1},
    /* 51 */ {nullptr, xndul1, 0, -1},
    /* 52 */ {nullptr, xndul1, 0, -1},
    /* 53 */ {nullptr, xndul1, 0, -1},
    /* 54 */ {nullptr, xndatm, 64, -1},
    /* 55 fsr_wr */ {nullptr, fsr_wr, 64, -1},
    /* 56 */ {nullptr, xnlatm, 64, -1},
    /* 57 */ {nullptr, fsr_version, 0, -1},
    /* 58 */ {nullptr, xndst1, 64, -1},
    /* 59 fsr_sq */ {nullptr, fsr_sq, 64, -1},
    /* 60 */ {nullptr, xndatm, 64, -1},
    /* 61 fsr_id */ {nullptr, fsr_id, 0, -1},
    /* 62 */ {nullptr, xndl1s, 62, -1},
    /* 63 */ {nullptr, xndl2s, 62, -1},
    /* 64 */ {nullptr, nullptr, 64, 27},
};

// ORDER FSRNODES: state 0 owns entries 0..26 (and 66), state 64 owns 27..65.
const s_trs Trans_nd_fsrarq[kFsrTransitions] = {
    {0, 0},   {1, 0},   {2, 0},   {3, 0},   {4, 0},   {5, 0},   {6, 0},   {7, 0},   {8, 0},   {9, 0},
    {10, 0},  {11, 0},  {12, 0},  {35, 0},  {36, 0},  {37, 0},  {45, 0},  {49, 0},  {50, 0},  {51, 0},
    {52, 0},  {53, 0},  {57, 0},  {61, 0},  {62, 0},  {63, 0},  {0, 0},   {64, 64}, {13, 64}, {14, 64},
    {15, 64}, {16, 64}, {17, 64}, {18, 64}, {19, 64}, {20, 64}, {21, 64}, {22, 64}, {23, 64}, {24, 64},
    {25, 64}, {26, 64}, {27, 64}, {28, 64}, {29, 64}, {30, 64}, {31, 64}, {33, 64}, {32, 64}, {34, 64},
    {38, 64}, {39, 64}, {40, 64}, {41, 64}, {42, 64}, {43, 64}, {44, 64}, {46, 64}, {47, 64}, {48, 64},
    {54, 64}, {55, 64}, {56, 64}, {58, 64}, {59, 64}, {60, 64}, {0, 0},
};

afd_fn Trans_fn_fsrarq[kDrivers][kHandlerSlots];

void fsr_in(int driver, const afd_fn handlers[kHandlerSlots]) {
  if (driver < 0 || driver >= kDrivers) return;
  for (int slot = 0; slot < kHandlerSlots; ++slot)
    Trans_fn_fsrarq[driver][slot] = handlers[slot] != nullptr ? handlers[slot] : afd_default();
}

int fsr_an(int code, char* body, int length) {
  // Each request starts with no pending error: the last one was answered.
  raz_err();
  if (length <= 0) return 0;
  int driver = static_cast<unsigned char>(body[0]);
  if (driver >= kDrivers) {
    wc_ack(Icomfs, err_vlx(26, "Unknown driver : %d", driver));
    return 0;
  }
  int st = afd_an(Tabnoeud_fsarq, Trans_nd_fsrarq, Trans_fn_fsrarq[driver], kHandlerSlots, Icomfs, code,
                  code != 0 ? 64 : 0, body + 1, length - 1);
  return st < 0 ? st : 0;
}

int fsr_version(int object, int event, afd_fn handler) {
  (void)handler;
  log::trace(log::automaton, "fsr_version: car = %d nob = %d", event, object);
  int client = nxtlng();
  int version = client >= kServiceVersion ? kServiceVersion : client;
  setProtocolVersion(Iak, version);
  sethdvcom(Iak, version);
  if (version >= 11) {
    Nutmsk = 1023;
    Nutoff = 1024;
  }
  return afd_ack_value(0, kServiceVersion);
}
