#include "table/fsrarq.h"

#include "channel/divcom.h"
#include "channel/iocom.h"
#include "diagnostics/vlxerr.h"
#include "table/fsrelf.h"

using namespace vlx;

int Nutmsk = 255;
int Nutoff = 256;

namespace {

// A node whose generic reader calls the driver's handler for `Role`.
template <auto Reader, auto Role>
int served(int object, int event, const s_drv& driver) {
  return Reader(object, event, driver.*Role);
}

// A node whose role no driver of this program serves: its reader reads
// the parameters and answers as the default handler does.
template <auto Reader>
int unserved(int object, int event, const s_drv&) {
  return Reader(object, event, nullptr);
}

// A node without parameters whose handler answers itself.
template <auto Role>
int direct(int object, int event, const s_drv& driver) {
  return driver.*Role != nullptr ? (driver.*Role)(object, event) : 0;
}

}  // namespace

// ORDER FSRNODES: node numbers are the slots of the drivers' roles (s_drv)
// and the targets of Trans_nd_fsrarq.
const s_etn<s_drv> Tabnoeud_fsarq[kFsrNodes] = {
    /*  0 */ {nullptr, nullptr, 0, 0},
    /*  1 */ {nullptr, fsr_st, 0, -1},
    /*  2 */ {nullptr, fsr_op, 0, -1},
    /*  3 */ {nullptr, unserved<xndatm>, 0, -1},
    /*  4 */ {nullptr, unserved<xndatm>, 0, -1},
    /*  5 */ {nullptr, unserved<xndatm>, 0, -1},
    /*  6 */ {nullptr, unserved<xndu1s>, 0, -1},
    /*  7 */ {nullptr, served<xndst2, &s_drv::properties>, 0, -1},
    /*  8 */ {nullptr, unserved<xndcls>, -1, -1},
    /*  9 */ {nullptr, fsr_cd, 0, -1},
    /* 10 */ {nullptr, unserved<xnsatm>, 0, -1},
    /* 11 */ {nullptr, unserved<xndatm>, 0, -1},
    /* 12 */ {nullptr, unserved<xndust3>, 0, -1},
    /* 13 */ {nullptr, fsr_rd, 64, -1},
    /* 14 */ {nullptr, fsr_wr, 64, -1},
    /* 15 */ {nullptr, fsr_rw, 64, -1},
    /* 16 */ {nullptr, unserved<xnlatm>, 64, -1},
    /* 17 */ {nullptr, unserved<xndatm>, 64, -1},
    /* 18 */ {nullptr, unserved<xndatm>, 64, -1},
    /* 19 */ {nullptr, unserved<xnlatm>, 64, -1},
    /* 20 */ {nullptr, unserved<xnlatm>, 64, -1},
    /* 21 */ {nullptr, direct<&s_drv::close>, 64, -1},
    /* 22 */ {nullptr, unserved<xnlatm>, 64, -1},
    /* 23 */ {nullptr, unserved<xndatm>, 64, -1},
    /* 24 */ {nullptr, fsr_ck, 64, -1},
    /* 25 */ {nullptr, fsr_cs, 64, -1},
    /* 26 */ {nullptr, unserved<xndub2>, 64, -1},
    /* 27 */ {nullptr, fsr_ln, 64, -1},
    /* 28 */ {nullptr, unserved<xndub1>, 64, -1},
    /* 29 */ {nullptr, served<xndub1, &s_drv::remove_filter>, 64, -1},
    /* 30 */ {nullptr, fsr_up, 64, -1},
    /* 31 */ {nullptr, fsr_of, 64, -1},
    /* 32 */ {nullptr, nullptr, 64, -1},
    /* 33 */ {nullptr, fsr_ci, 64, -1},
    /* 34 */ {nullptr, unserved<xndsl2>, 64, -1},
    /* 35 */ {nullptr, fsr_es, 0, -1},
    /* 36 */ {nullptr, unserved<xnvst1>, 0, -1},
    /* 37 */ {nullptr, unserved<xnvst1>, 0, -1},
    /* 38 */ {nullptr, fsr_sl, 64, -1},
    /* 39 */ {nullptr, served<xndub1, &s_drv::remove_selection>, 64, -1},
    /* 40 */ {nullptr, fsr_gi, 64, -1},
    /* 41 */ {nullptr, fsr_xs, 64, -1},
    /* 42 */ {nullptr, unserved<xndub1>, 64, -1},
    /* 43 */ {nullptr, unserved<xndul2>, 64, -1},
    /* 44 */ {nullptr, fsr_gi, 64, -1},
    /* 45 */ {nullptr, fsr_as, 0, -1},
    /* 46 */ {nullptr, unserved<xndbl2>, 0, -1},
    /* 47 */ {nullptr, fsr_ad, 0, -1},
    /* 48 */ {nullptr, unserved<xndul2>, 0, -1},
    /* 49 */ {nullptr, fsr_cd, 0, -1},
    /* 50 */ {nullptr, unserved<xndu1s>, 0, -1},
    /* 51 */ {nullptr, unserved<xndul1>, 0, -1},
    /* 52 */ {nullptr, unserved<xndul1>, 0, -1},
    /* 53 */ {nullptr, unserved<xndul1>, 0, -1},
    /* 54 */ {nullptr, unserved<xndatm>, 64, -1},
    /* 55 */ {nullptr, fsr_wr, 64, -1},
    /* 56 */ {nullptr, unserved<xnlatm>, 64, -1},
    /* 57 */ {nullptr, fsr_version, 0, -1},
    /* 58 */ {nullptr, unserved<xndst1>, 64, -1},
    /* 59 */ {nullptr, fsr_sq, 64, -1},
    /* 60 */ {nullptr, unserved<xndatm>, 64, -1},
    /* 61 */ {nullptr, fsr_id, 0, -1},
    /* 62 */ {nullptr, unserved<xndl1s>, 62, -1},
    /* 63 */ {nullptr, unserved<xndl2s>, 62, -1},
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

const s_drv* Trans_fn_fsrarq[kDrivers];

void fsr_in(int driver, const s_drv* handlers) {
  if (driver >= 0 && driver < kDrivers) Trans_fn_fsrarq[driver] = handlers;
}

int fsr_an(int code, char* body, int length) {
  // Each request starts with no pending error: the last one was answered.
  raz_err();
  if (length <= 0) return 0;
  int driver = static_cast<unsigned char>(body[0]);
  if (driver >= kDrivers) {
    wc_ack(Icomfs, err_vlx(kErrInternal, "Unknown driver : %d", driver));
    return 0;
  }
  int st = afd_an<s_drv>(Tabnoeud_fsarq, Trans_nd_fsrarq, Trans_fn_fsrarq[driver], Icomfs, code, code != 0 ? 64 : 0,
                         body + 1, length - 1);
  return st < 0 ? st : 0;
}

int fsr_version(int object, int event, const s_drv&) {
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
