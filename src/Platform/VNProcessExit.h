#pragma once

// The end of main. Operation-queue workers are detached threads: a worker
// still busy while the process runs its static destructors and library
// clean-ups (OpenSSL, curl, Qt) may touch what they have freed and crash an
// otherwise good exit. So main ends through here.
namespace VNProcessExit {

// Lets busy workers finish for up to settleMs (running the main queue for
// their answers); returns the exit code when they did, else ends the process
// at once with it, without static destructors.
int finish(int exitCode, int settleMs = 5000);

}  // namespace VNProcessExit
