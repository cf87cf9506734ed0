#include "platform/tcp_send.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace platform {
namespace {

bool WriteAll(int socket, const std::uint8_t* bytes, std::size_t size) noexcept {
  while (size > 0) {
    const ssize_t sent = ::send(socket, bytes, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool ConnectWithin(int socket, const sockaddr_in& address, int timeoutMs) noexcept {
  const int flags = ::fcntl(socket, F_GETFL, 0);
  if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) != 0) return false;
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS) return false;
    pollfd wait{socket, POLLOUT, 0};
    if (::poll(&wait, 1, timeoutMs) != 1) return false;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return false;
  }
  return ::fcntl(socket, F_SETFL, flags) == 0;
}

}  // namespace

std::optional<std::uint32_t> ParseIpv4Address(std::string_view text) {
  in_addr address{};
  if (::inet_pton(AF_INET, std::string(text).c_str(), &address) != 1) return std::nullopt;
  return address.s_addr;
}

bool SendOverTcp(std::uint32_t addressNetworkOrder, std::uint16_t port, const std::uint8_t* bytes, std::size_t size,
                 int connectTimeoutMs) noexcept {
  const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = addressNetworkOrder;
  const bool sent = ConnectWithin(socket, address, connectTimeoutMs) && WriteAll(socket, bytes, size);
  ::close(socket);
  return sent;
}

}  // namespace platform
