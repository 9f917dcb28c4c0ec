// Kerberos authentication of the channel (option "-k").
//
// The platform's Kerberos exchange is not part of this server: this layer
// records the credential cache named by KRB_CC_NAME and succeeds, so that
// the option keeps its order of effects at start-up and the channel's
// security mode (2) is announced.
#pragma once

int krbini();
int krbget(int flags, const char* principal);
int krbdft(const char* cache);
void krbmcl();
// The cache recorded by krbdft ("" when none).
