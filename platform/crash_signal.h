#pragma once
// The system's report of a crash of the process: the signals of a fault
// (bad memory access, bus error, arithmetic fault, illegal instruction,
// abort), caught once on a stack of their own so that a stack overflow is
// caught too.

namespace platform {

// What runs when the process crashes. It runs inside a signal handler: it
// may only do what is safe there (no allocation, no locks; plain system
// calls such as a socket's are fine).
using CrashHandler = void (*)() noexcept;

// Installs handler for the crash signals. After it returns the signal's
// default action ends the process as the crash would have; a second crash
// while it runs is not caught again. Only the first call installs anything.
// Call it at start-up, before other threads run.
void InstallCrashSignalHandler(CrashHandler handler);

}  // namespace platform
