// Remote port names: a serial line on a network serial server that speaks
// the Telnet COM port control option (RFC 2217), named as
// "rfc2217://HOST:PORT".
//
// HOST is an IPv4 address, an IPv6 address in brackets ("[::1]") or a host
// name; PORT is a TCP port 1..65535. The scheme is matched without regard to
// letter case. One query is accepted and changes nothing,
// "?ign_set_control" (other tools' way of saying that unacknowledged
// modem-line control is tolerated, which the port here always does). Any
// other shape is not a valid remote name: ParseRemotePort says why, so no
// reader ever connects somewhere the user did not mean.
#ifndef SERIAL_REMOTE_PORT_H
#define SERIAL_REMOTE_PORT_H

#include <cstdint>
#include <string>
#include <string_view>

namespace serial {

inline constexpr std::string_view kRemoteScheme = "rfc2217://";

struct RemotePort {
  std::string host;  // without the brackets of an IPv6 address
  uint16_t port = 0;
};

// True when `name` starts with the remote scheme: the name is then a remote
// port name, valid or not, and never a device path.
bool IsRemotePortName(std::string_view name);

// Reads "rfc2217://HOST:PORT". false (and *why set to a short reason) when
// the name is not a valid remote port name.
bool ParseRemotePort(std::string_view name, RemotePort* out, std::string* why = nullptr);

// "HOST:PORT", with an IPv6 address in brackets: how messages name the
// server ("port busy: 127.0.0.1:7001").
std::string HostPortText(const RemotePort& remote);

// One text per server line: "rfc2217://HOST:PORT" with the host in lower
// case and no option, so two names of the same line compare equal (the
// name itself when it is not a valid remote name).
std::string RemotePortKey(std::string_view name);

// How messages name a port: HOST:PORT for a valid remote name, else the name
// as given.
std::string ShownPortName(std::string_view device);

}  // namespace serial

#endif  // SERIAL_REMOTE_PORT_H
