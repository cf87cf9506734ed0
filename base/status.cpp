#include "base/status.h"

namespace base {

std::string Status::Text() const {
  if (Ok()) return "ok";
  if (file_.empty()) return message_;
  return file_ + ": " + message_;
}

}  // namespace base
