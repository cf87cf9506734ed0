#include "recovery/analysis.h"

#include "backup/file_list_db.h"
#include "db/progress.h"
#include "platform/message_target.h"
#include "recovery/category_registry.h"

namespace recovery {
namespace {

int Outcome(const readers::ICategoryReader& reader, const base::Status& opened) {
  if (opened.Kind() == base::Status::Code::kUnreadable) return kAnalysisListed;
  const base::CategoryInfo& category = reader.Category();
  if (category.chatAccounts) {
    const std::size_t accounts = reader.Accounts().size();
    if (accounts > 1) return kAnalysisChooseAccount;
    // One account of a chat app: its list is shown even when it holds
    // nothing yet. Its files (a media category) are shown like any others.
    if (category.kind != base::CategoryKind::kMedia) return accounts == 1 ? kAnalysisListed : kAnalysisNothing;
  }
  return reader.ResultList().empty() ? kAnalysisNothing : kAnalysisListed;
}

}  // namespace

int RunAnalysis(int category, backup::CFileListDB& index, std::unique_ptr<readers::ICategoryReader>& reader,
                platform::IMessageTarget* target, const std::array<void*, 5>& groupRows,
                const std::atomic<bool>* stop) {
  reader.reset();
  reader = MakeCategoryReader(category);
  int outcome = kAnalysisNothing;
  if (reader) {
    db::AnalysisProgress progress(target, stop);
    try {
      if (stop != nullptr && stop->load()) throw db::AnalysisStopped();
      const base::Status opened = reader->Open(index);
      if (opened.Kind() != base::Status::Code::kUnreadable) {
        readers::LoadContext context;
        context.progress = &progress;
        context.groupRows = groupRows;
        reader->Load(context);
      }
      outcome = Outcome(*reader, opened);
    } catch (const db::AnalysisStopped&) {
      // Half-loaded records are no result: they go with their reader.
      reader.reset();
      outcome = kAnalysisStopped;
    }
  }
  index.Close();
  if (target != nullptr) target->Post(platform::kWmAnalysisDone, static_cast<std::uintptr_t>(outcome), 0);
  return outcome;
}

}  // namespace recovery
