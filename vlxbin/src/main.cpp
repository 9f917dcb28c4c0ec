// vlxsys: the system table server. One process serves one client channel.
#include "channel/divcom.h"
#include "session/kvscor.h"
#include "table/afncompi.h"
#include "table/fsrarq.h"
#include "table/sysop.h"

int main(int argc, char** argv) {
  mainsf(argc, argv, 256, sysisf, nullptr, fsr_an, &Icomfs, fsring);
}
