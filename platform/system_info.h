#pragma once
// What the running system says about itself: its name on the network, the
// identifier of the installation and the version of its kernel.
//
// Threads: any thread.

#include <string>

namespace platform {

// The machine's host name; empty when the system gives none.
std::string HostName();

// The installation's machine identifier (/etc/machine-id, else the D-Bus
// copy of it), without its line end; empty when there is none.
std::string MachineSerial();

// The kernel's release text (e.g. "6.1.0-18-amd64"); empty when the system
// gives none.
std::string KernelRelease();

}  // namespace platform
