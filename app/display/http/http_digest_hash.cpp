#include "display/http/http_digest_hash.h"

namespace http_client {

Md5HexDigits digest_hash(std::initializer_list<std::string_view> parts)
{
    constexpr std::string_view kSeparator = ":";
    Md5State state;
    bool first = true;
    for (const std::string_view part : parts) {
        if (!first)
            md5Update(state, kSeparator);
        first = false;
        md5Update(state, part);
    }
    return md5HexDigits(md5Final(state));
}

std::string_view ha1_cache::get(std::string_view username, std::string_view realm, std::string_view password)
{
    if (!holds(username, realm, password)) {
        m_ha1 = digest_hash({username, realm, password});
        m_username = username;
        m_realm = realm;
        m_password = password;
        m_valid = true;
    }
    return view(m_ha1);
}

bool ha1_cache::holds(std::string_view username, std::string_view realm, std::string_view password) const
{
    return m_valid && username == m_username && realm == m_realm && password == m_password;
}

} // namespace http_client
