#pragma once

#include <functional>

// The main queue (the Qt main event loop) and the global background queue.
namespace VNDispatch {

bool isMainThread();

// Runs the block later on the main thread.
void mainAsync(std::function<void()> block);

// Runs the block on the main thread and waits for it; runs it inline when
// called on the main thread.
void mainSync(const std::function<void()> &block);

// Runs the block on the main thread after the given delay.
void mainAfter(int milliseconds, std::function<void()> block);

// Runs the block on the global background queue.
void globalAsync(std::function<void()> block);

}  // namespace VNDispatch
