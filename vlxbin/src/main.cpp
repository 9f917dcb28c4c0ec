// vlxsys: the system table server. One process serves one client channel.
#include "channel/fsrarq.h"
#include "session/kvscor.h"

namespace {

// Driver 3 with every slot on the default handler, so that the generic
// requests (version, end of session) are answered.
void sysisf() {
  const afd_fn handlers[kHandlerSlots] = {};
  fsr_in(3, handlers);
}

}  // namespace

int main(int argc, char** argv) {
  mainsf(argc, argv, 256, sysisf, nullptr, fsr_an, &Icomfs, nullptr);
}
