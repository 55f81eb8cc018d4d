#include "amqp/amqp_address.h"

#include <cctype>
#include <stdexcept>

namespace {

std::string percent_decode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    if (i + 2 >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(s[i + 2])))
      throw std::invalid_argument("bad percent-encoding in '" + s + "'");
    out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
    i += 2;
  }
  return out;
}

}  // namespace

AmqpAddress AmqpAddress::parse(const std::string& text) {
  AmqpAddress a;
  std::string rest;
  if (text.rfind("amqp://", 0) == 0) {
    rest = text.substr(7);
  } else if (text.rfind("amqps://", 0) == 0) {
    a.tls = true;
    a.port = 5671;
    rest = text.substr(8);
  } else {
    throw std::invalid_argument("AMQP address should start with amqp:// or amqps://");
  }
  std::string authority = rest;
  if (auto slash = rest.find('/'); slash != std::string::npos) {
    authority = rest.substr(0, slash);
    std::string vhost = rest.substr(slash + 1);
    if (!vhost.empty()) a.vhost = percent_decode(vhost);
  }
  if (auto at = authority.rfind('@'); at != std::string::npos) {
    std::string login = authority.substr(0, at);
    authority = authority.substr(at + 1);
    auto colon = login.find(':');
    a.user = percent_decode(login.substr(0, colon));
    a.password = colon == std::string::npos ? "" : percent_decode(login.substr(colon + 1));
  }
  std::string port;
  if (!authority.empty() && authority.front() == '[') {
    auto close = authority.find(']');
    if (close == std::string::npos) throw std::invalid_argument("unclosed '[' in the host");
    a.host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') throw std::invalid_argument("bad text after the host");
      port = authority.substr(close + 2);
    }
  } else if (auto colon = authority.rfind(':'); colon != std::string::npos) {
    a.host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  } else {
    a.host = authority;
  }
  if (a.host.empty()) throw std::invalid_argument("AMQP address has no host");
  if (!port.empty()) {
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
      throw std::invalid_argument("bad port '" + port + "'");
    a.port = std::stoi(port);
    if (a.port < 1 || a.port > 65535) throw std::invalid_argument("bad port '" + port + "'");
  }
  return a;
}
