// The front-end handshake is not built yet: front-end mode fails at once,
// as a failed handshake does.
#include "session/crvcom.h"

int Scomid;

int crv_handshake() { return -1; }
