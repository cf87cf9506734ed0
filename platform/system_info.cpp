#include "platform/system_info.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <array>
#include <fstream>

namespace platform {
namespace {

std::string FirstLine(const char* file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

std::string HostName() {
  std::array<char, 256> host{};
  if (::gethostname(host.data(), host.size() - 1) != 0) return {};
  return host.data();
}

std::string MachineSerial() {
  std::string serial = FirstLine("/etc/machine-id");
  if (serial.empty()) serial = FirstLine("/var/lib/dbus/machine-id");
  return serial;
}

std::string KernelRelease() {
  utsname name{};
  if (::uname(&name) != 0) return {};
  return name.release;
}

}  // namespace platform
