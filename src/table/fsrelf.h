// Decoders of the table requests: each reads its request's fields (and
// the raw bytes that follow the body: field descriptions, query lines,
// grammar sections), calls the driver's handler for its role (s_drv) and
// answers. The requests whose role this program does not serve read
// their fields and answer as the default handler does (status 0, zero
// values).
#pragma once

#include "table/fsrarq.h"

int fsr_op(int object, int event, const s_drv& driver);
int fsr_rd(int object, int event, const s_drv& driver);
int fsr_of(int object, int event, const s_drv& driver);
int fsr_cs(int object, int event, const s_drv& driver);
int fsr_sl(int object, int event, const s_drv& driver);
int fsr_st(int object, int event, const s_drv& driver);
int fsr_cd(int object, int event, const s_drv& driver);
int fsr_wr(int object, int event, const s_drv& driver);
int fsr_rw(int object, int event, const s_drv& driver);
int fsr_ck(int object, int event, const s_drv& driver);
int fsr_ln(int object, int event, const s_drv& driver);
int fsr_up(int object, int event, const s_drv& driver);
int fsr_ci(int object, int event, const s_drv& driver);
int fsr_es(int object, int event, const s_drv& driver);
int fsr_gi(int object, int event, const s_drv& driver);
int fsr_xs(int object, int event, const s_drv& driver);
int fsr_as(int object, int event, const s_drv& driver);
int fsr_ad(int object, int event, const s_drv& driver);
int fsr_sq(int object, int event, const s_drv& driver);
int fsr_id(int object, int event, const s_drv& driver);
