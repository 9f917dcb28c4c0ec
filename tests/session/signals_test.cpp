// The signal routines in process: what the operating system's handler
// does at once and what waits for the request loop.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "channel/iocom.h"
#include "session/kvscor.h"

namespace {

bool Inside;

// SIGHUP, caught as start-up catches it, with a handler that tells where
// it ran by the exit status: 9 inside raise, else 10 x argument + signal.
void catch_hangup() {
  int modes[kSignals] = {}, arguments[kSignals] = {};
  modes[SIGHUP] = 2;
  arguments[SIGHUP] = 3;
  sigvlx(modes, arguments, 63, [](int argument, int signal) { std::_Exit(Inside ? 9 : argument * 10 + signal); });
}

TEST(SignalsDeathTest, TheHandlerOnlyRecords) {
  EXPECT_EXIT(
      {
        catch_hangup();
        Inside = true;
        ::raise(SIGHUP);
        Inside = false;
        std::_Exit(7);
      },
      ::testing::ExitedWithCode(7), "");
}

// The recorded signal runs its handler when the loop asks, or when a
// blocking read is waiting, not before.
TEST(SignalsDeathTest, TheLoopActsOnWhatWasRecorded) {
  EXPECT_EXIT(
      {
        catch_hangup();
        ::raise(SIGHUP);
        sigpend();
        std::_Exit(7);
      },
      ::testing::ExitedWithCode(31), "");
  // A channel read that waits for a request: the signal interrupts it.
  EXPECT_EXIT(
      {
        catch_hangup();
        int fds[2];
        if (::pipe(fds) != 0) std::_Exit(8);
        pid_t parent = ::getpid();
        if (::fork() == 0) {
          ::usleep(100000);
          ::kill(parent, SIGHUP);
          std::_Exit(0);
        }
        unsigned char byte;
        r_pipe(fds[0], &byte, 1, 0);
        std::_Exit(7);
      },
      ::testing::ExitedWithCode(31), "");
}

}  // namespace
