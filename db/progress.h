#pragma once
// Analysis progress: the readers report a percentage, which goes to the
// registered target as the message kWmAnalysisProgress (lParam = percent).

#include "platform/message_target.h"

namespace db {

// Registers the target that receives progress, or none (nullptr). The target
// must outlive its registration. Thread-safe.
void SetProgressTarget(platform::IMessageTarget* target);

// Posts a new percentage: percent itself, or the last posted value plus
// percent when relative is set. Does nothing without a target. Thread-safe.
void ReportProgress(bool relative, float percent);

}  // namespace db
