#pragma once

#include "display/http/md5.h"

#include <initializer_list>
#include <string>
#include <string_view>

// The hashing of HTTP Digest with MD5 (RFC 7616), the one algorithm the client answers.
namespace http_client {

// H of the parts joined by ":", as hexadecimal digits, without building the joined text.
Md5HexDigits digest_hash(std::initializer_list<std::string_view> parts);

// HA1 = H(user name, realm, password), kept for the last user name, realm and password it was
// asked for. A lane asks for it on every request and it changes only when the credentials or the
// server's realm do: kept, a request hashes two short texts instead of three. Being MD5's alone,
// it needs no algorithm in its key; every other input is compared whole on each use, so a new
// realm in a challenge or credentials changed by the operator are hashed afresh.
class ha1_cache
{
public:
    // The hexadecimal HA1; valid until the next call.
    std::string_view get(std::string_view username, std::string_view realm, std::string_view password);

private:
    bool holds(std::string_view username, std::string_view realm, std::string_view password) const;

    bool m_valid = false;
    std::string m_username;
    std::string m_realm;
    std::string m_password;
    Md5HexDigits m_ha1{};
};

} // namespace http_client
