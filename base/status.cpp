#include "base/status.h"

namespace base {

std::string Status::Text() const {
  if (Ok()) return "ok";
  if (file_.empty()) return message_;
  return file_ + ": " + message_;
}

const char* CodeName(Status::Code code) {
  switch (code) {
    case Status::Code::kOk: return "ok";
    case Status::Code::kNotFound: return "not found";
    case Status::Code::kCorrupt: return "corrupt";
    case Status::Code::kUnreadable: return "unreadable";
  }
  return "unknown";
}

}  // namespace base
