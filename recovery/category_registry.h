#pragma once
// The table of category readers: which reader reads each data category.

#include <memory>

#include "readers/category_reader.h"

namespace recovery {

// A new reader for a category number (0-17), not yet opened; null for any
// other number.
std::unique_ptr<readers::ICategoryReader> MakeCategoryReader(int category);

}  // namespace recovery
