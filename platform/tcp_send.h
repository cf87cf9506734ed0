#pragma once
// Sending bytes to a server over TCP/IPv4 without waiting for a reply: the
// transport of the program's reports.
//
// Threads: any thread; SendOverTcp also from a signal handler.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace platform {

// An IPv4 address in dotted form ("a.b.c.d") in network byte order; nothing
// for any other text (host names included).
std::optional<std::uint32_t> ParseIpv4Address(std::string_view text);

// One connection to addressNetworkOrder:port: connects (giving up after
// connectTimeoutMs), writes all size bytes, closes. Returns whether every
// byte was written. Makes only async-signal-safe calls and allocates
// nothing, so a crash handler may use it.
bool SendOverTcp(std::uint32_t addressNetworkOrder, std::uint16_t port, const std::uint8_t* bytes, std::size_t size,
                 int connectTimeoutMs) noexcept;

}  // namespace platform
