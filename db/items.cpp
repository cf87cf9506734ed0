#include "db/items.h"

namespace db {
namespace {
const std::string kEmpty;
}  // namespace

const std::string& BaseItem::Title() const { return kEmpty; }
const std::string& BaseItem::SearchText() const { return kEmpty; }

void DeleteAll(ItemList& list) {
  while (!list.empty()) list.pop_back();
}

}  // namespace db
