#pragma once
// Whether the program talks to a person at a terminal.

namespace platform {

// True when standard error is a terminal (progress bars are drawn there only
// then, so that logs and pipes get no control characters).
bool StderrIsTerminal();

}  // namespace platform
