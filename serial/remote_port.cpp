// Reading remote port names (see remote_port.h).
#include "serial/remote_port.h"

#include "serial/ascii.h"

namespace serial {
namespace {

constexpr std::string_view kTolerateControl = "?ign_set_control";

bool Fail(std::string* why, const char* reason) {
  if (why != nullptr) *why = reason;
  return false;
}

// A host name or IPv4 address: letters, digits, '-', '.', '_'.
bool PlainHostOk(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  for (char c : host) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '.' || c == '_';
    if (!ok) return false;
  }
  return true;
}

// The inside of "[...]": hexadecimal digits, ':' and '.' (an embedded IPv4).
bool Ipv6Ok(std::string_view host) {
  if (host.size() < 2 || host.size() > 45) return false;
  for (char c : host) {
    const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
                    c == ':' || c == '.';
    if (!ok) return false;
  }
  return host.find(':') != std::string_view::npos;
}

bool PortNumberOk(std::string_view text, uint16_t* port) {
  if (text.empty() || text.size() > 5 || text[0] == '0') return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value < 1 || value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

bool IsRemotePortName(std::string_view name) {
  return StartsWithNoCase(name, kRemoteScheme);
}

bool ParseRemotePort(std::string_view name, RemotePort* out, std::string* why) {
  if (!IsRemotePortName(name)) return Fail(why, "not an rfc2217:// name");
  name.remove_prefix(kRemoteScheme.size());
  const size_t query = name.find('?');
  if (query != std::string_view::npos) {
    if (name.substr(query) != kTolerateControl)
      return Fail(why, "the only option is ?ign_set_control");
    name = name.substr(0, query);
  }
  std::string_view host;
  std::string_view rest;
  if (!name.empty() && name[0] == '[') {
    const size_t close = name.find(']');
    if (close == std::string_view::npos) return Fail(why, "an IPv6 address lacks its ']'");
    host = name.substr(1, close - 1);
    if (!Ipv6Ok(host)) return Fail(why, "not an IPv6 address between the brackets");
    rest = name.substr(close + 1);
  } else {
    const size_t colon = name.find(':');
    host = name.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : name.substr(colon);
    if (!PlainHostOk(host)) return Fail(why, "no valid host name or address");
  }
  if (rest.empty() || rest[0] != ':') return Fail(why, "no :PORT after the host");
  uint16_t port = 0;
  if (!PortNumberOk(rest.substr(1), &port)) return Fail(why, "the port is not a number 1..65535");
  out->host = std::string(host);
  out->port = port;
  return true;
}

std::string HostPortText(const RemotePort& remote) {
  const bool v6 = remote.host.find(':') != std::string::npos;
  return (v6 ? "[" + remote.host + "]" : remote.host) + ":" + std::to_string(remote.port);
}

std::string RemotePortKey(std::string_view name) {
  RemotePort remote;
  if (!ParseRemotePort(name, &remote)) return std::string(name);
  remote.host = LowerAscii(remote.host);
  return std::string(kRemoteScheme) + HostPortText(remote);
}

std::string ShownPortName(std::string_view device) {
  RemotePort remote;
  return ParseRemotePort(device, &remote) ? HostPortText(remote) : std::string(device);
}

}  // namespace serial
