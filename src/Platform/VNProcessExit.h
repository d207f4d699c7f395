#pragma once

#include <functional>

// The end of main. Operation-queue workers are detached threads: a worker
// still busy while the process runs its static destructors and library
// clean-ups (OpenSSL, curl, Qt) may touch what they have freed and crash an
// otherwise good exit. So main ends through here.
namespace VNProcessExit {

// Lets busy workers finish for up to settleMs (running the main queue for
// their answers); returns the exit code when they did, else ends the process
// at once with it, without static destructors. The steps registered with
// beforeExit() run first, on the calling thread.
int finish(int exitCode, int settleMs = 5000);

// A step for finish() to run before it lets the workers settle: a thread of
// one's own to stop, or work to hand to a queue (whose workers finish()
// then waits for) while the libraries are still whole. Steps run in the
// order registered, once.
void beforeExit(std::function<void()> step);

}  // namespace VNProcessExit
