#pragma once
// Status: how an operation of the core ended. Opening a backup, opening a
// database, scanning a file for deleted rows and writing an export all
// answer with one: ok, or why not, naming the file concerned.
//
// A damaged input is not "nothing found": a reader that could not read a
// file says so with a Status, and the command line and the windows show it.

#include <string>
#include <utility>

namespace base {

class Status {
 public:
  enum class Code {
    kOk,
    kNotFound,    // the file is not there (an app that is not on the phone)
    kCorrupt,     // the file is there but its bytes are not what they must be
    kUnreadable,  // the file is there but cannot be read or written (rights, disk)
    kNeedsPassword,  // an encrypted backup opened without its password
    kWrongPassword,  // an encrypted backup opened with another password than its own
    kCancelled,      // the user stopped the run; what it finished stays, the rest was not written
  };

  // Ok.
  Status() = default;
  static Status NotFound(std::string file, std::string message) {
    return Status(Code::kNotFound, std::move(file), std::move(message));
  }
  static Status Corrupt(std::string file, std::string message) {
    return Status(Code::kCorrupt, std::move(file), std::move(message));
  }
  static Status Unreadable(std::string file, std::string message) {
    return Status(Code::kUnreadable, std::move(file), std::move(message));
  }

  static Status NeedsPassword(std::string file, std::string message) {
    return Status(Code::kNeedsPassword, std::move(file), std::move(message));
  }
  static Status WrongPassword(std::string file, std::string message) {
    return Status(Code::kWrongPassword, std::move(file), std::move(message));
  }
  static Status Cancelled(std::string file, std::string message) {
    return Status(Code::kCancelled, std::move(file), std::move(message));
  }

  bool Ok() const { return code_ == Code::kOk; }
  Status::Code Kind() const { return code_; }
  // The file the status concerns (may be empty), and what went wrong.
  const std::string& File() const { return file_; }
  const std::string& Message() const { return message_; }
  // "<file>: <message>", or the message alone without a file; "ok" when ok.
  std::string Text() const;

 private:
  Status(Code code, std::string file, std::string message)
      : code_(code), file_(std::move(file)), message_(std::move(message)) {}

  Code code_ = Code::kOk;
  std::string file_;
  std::string message_;
};

}  // namespace base
