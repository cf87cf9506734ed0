#pragma once
// The analysis of one data category: its reader made from the table of
// category readers, opened on the backup, loaded, and kept (with its
// records) until the next analysis replaces it.
//
// Threads: RunAnalysis runs on the analysis worker; it reaches the window
// that follows it only through posted messages. One analysis at a time.

#include <array>
#include <atomic>
#include <memory>

#include "readers/category_reader.h"

namespace backup {
class CFileListDB;
}
namespace platform {
class IMessageTarget;
}

namespace recovery {

// WM_ANALYSIS_DONE's wParam.
inline constexpr int kAnalysisChooseAccount = 1;
inline constexpr int kAnalysisListed = 2;
inline constexpr int kAnalysisNothing = 4;
// Stopped on request: the category page again.
inline constexpr int kAnalysisStopped = 3;

// One analysis of a category (0-17) on an opened index: replaces reader with
// a new one of the category (the old one and its records go first), opens
// and loads it, closes the index, and posts WM_ANALYSIS_DONE to target (if
// any) with kAnalysisListed when there are records (or the backup's manifest
// could not be searched), kAnalysisNothing when there are none, and for the
// chat categories kAnalysisChooseAccount when several accounts were found
// (the user picks one with ChooseAccount first). Returns that outcome.
// Progress goes to target as kWmAnalysisProgress. groupRows are the
// browser's rows the media categories' top groups are bound to. A number
// outside 0-17 leaves reader empty and gives kAnalysisNothing. Once stop
// (when given) is set, the readers stop at their next progress report: the
// reader is dropped (left empty) and the outcome is kAnalysisStopped.
int RunAnalysis(int category, backup::CFileListDB& index, std::unique_ptr<readers::ICategoryReader>& reader,
                platform::IMessageTarget* target, const std::array<void*, 5>& groupRows = {},
                const std::atomic<bool>* stop = nullptr);

}  // namespace recovery
