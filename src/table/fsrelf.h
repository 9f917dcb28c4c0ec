// Decoders of the table requests: each reads its request's fields (and
// the raw bytes that follow the body: field descriptions, query lines,
// grammar sections), calls the driver's handler and answers.
//
// Driver handler signatures, by slot:
//   open (2)          int (s_opn* request) -> table slot
//   read (13)         int (slot, key, lock, mode, flags, const s_keyv* key,
//                          int found[16], criterion, value, int flags[16], char* text)
//   read by keys (31) int (slot, key, lock, count, const s_keyv* first,
//                          const s_keyv* second, mode, criterion, int found[16],
//                          value, int flags[16], char* text)
//   add filter (25)   int (slot, grctx*, node, criterion)
//   selection (38)    int (slot, grctx*, node, flags, selection)
// The requests whose role this program does not serve read their fields
// and answer as the default handler does (status 0, zero values).
#pragma once

#include "channel/afd.h"

struct s_keyv {
  const unsigned char* bytes;
  int length;
};

int fsr_op(int object, int event, afd_fn handler);
int fsr_rd(int object, int event, afd_fn handler);
int fsr_of(int object, int event, afd_fn handler);
int fsr_cs(int object, int event, afd_fn handler);
int fsr_sl(int object, int event, afd_fn handler);
int fsr_st(int object, int event, afd_fn handler);
int fsr_cd(int object, int event, afd_fn handler);
int fsr_wr(int object, int event, afd_fn handler);
int fsr_rw(int object, int event, afd_fn handler);
int fsr_ck(int object, int event, afd_fn handler);
int fsr_ln(int object, int event, afd_fn handler);
int fsr_up(int object, int event, afd_fn handler);
int fsr_ci(int object, int event, afd_fn handler);
int fsr_es(int object, int event, afd_fn handler);
int fsr_gi(int object, int event, afd_fn handler);
int fsr_xs(int object, int event, afd_fn handler);
int fsr_as(int object, int event, afd_fn handler);
int fsr_ad(int object, int event, afd_fn handler);
int fsr_sq(int object, int event, afd_fn handler);
int fsr_id(int object, int event, afd_fn handler);
