#pragma once
// Which records of a category's list a view filter and a search text keep,
// as the record browser filters them.

#include <string>
#include <vector>

#include "db/items.h"

namespace readers {

// viewFilter: 0 all, 1 only deleted records, 2 only records not deleted.
// search (empty: none): a record is kept when its title or search text
// contains it; a group record (a conversation) also when one of its
// members' search text does. Returns the kept records in list order.
std::vector<db::BaseItem*> FilterRecords(const std::vector<db::BaseItem*>& list, int viewFilter,
                                         const std::string& search);

}  // namespace readers
