// The handshake with the web front-end server (front-end mode, "-q").
#pragma once

// Slot of the front-end channel.
extern int Scomid;

// Runs the prolog and session exchange on Scomid; the status start-up
// receives: -1 failed, -2 session deleted, otherwise the loop starts.
int crv_handshake();
