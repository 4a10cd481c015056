#include "CurlReference.h"

#include <cstddef>
#include <map>
#include <mutex>

namespace {

std::size_t discard(char*, std::size_t size, std::size_t count, void*)
{
    return size * count;
}

bool accepted(long status)
{
    return status == 200 || status == 204;
}

} // namespace

CurlClient::CurlClient(std::string origin, const std::string& user, const std::string& password)
    : m_origin(std::move(origin))
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_easy = curl_easy_init();
    curl_easy_setopt(m_easy, CURLOPT_HTTPAUTH, long(CURLAUTH_DIGEST));
    curl_easy_setopt(m_easy, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(m_easy, CURLOPT_PASSWORD, password.c_str());
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, discard);
    curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
}

CurlClient::~CurlClient()
{
    curl_easy_cleanup(m_easy);
    curl_slist_free_all(m_headers);
}

void CurlClient::prepare(const CurlRequest& request)
{
    m_url = m_origin + request.target;
    curl_easy_setopt(m_easy, CURLOPT_URL, m_url.c_str());
    if (request.method == "GET") {
        curl_easy_setopt(m_easy, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(m_easy, CURLOPT_CUSTOMREQUEST, nullptr);
    } else {
        curl_easy_setopt(m_easy, CURLOPT_POST, 1L);
        curl_easy_setopt(m_easy, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(m_easy, CURLOPT_POSTFIELDSIZE, long(request.body.size()));
        curl_easy_setopt(m_easy, CURLOPT_CUSTOMREQUEST, request.method == "POST" ? nullptr : request.method.c_str());
    }
    // Without a type of its own libcurl would name the form encoding; the driver sends none then.
    curl_slist_free_all(m_headers);
    m_typeHeader = request.contentType.empty() ? "Content-Type:" : "Content-Type: " + request.contentType;
    m_headers = curl_slist_append(nullptr, m_typeHeader.c_str());
    curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_headers);
}

long CurlClient::perform()
{
    return curl_easy_perform(m_easy) == CURLE_OK ? status() : 0;
}

long CurlClient::status() const
{
    long code = 0;
    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &code);
    return code;
}

CurlMulti::CurlMulti(std::size_t clients, const std::string& origin, const std::string& user,
                     const std::string& password)
    : m_multi(curl_multi_init())
{
    curl_multi_setopt(m_multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, long(clients));
    curl_multi_setopt(m_multi, CURLMOPT_MAX_HOST_CONNECTIONS, long(clients));
    for (std::size_t i = 0; i < clients; ++i)
        m_clients.push_back(std::make_unique<CurlClient>(origin, user, password));
}

CurlMulti::~CurlMulti()
{
    m_clients.clear();
    curl_multi_cleanup(m_multi);
}

bool CurlMulti::sendAll(const std::vector<CurlRequest>& requests)
{
    std::map<CURL*, CurlClient*> byHandle;
    std::size_t next = 0;
    std::size_t running = 0;
    bool allAccepted = true;
    const auto start = [&](CurlClient& client) {
        if (next == requests.size())
            return;
        client.prepare(requests[next++]);
        curl_multi_add_handle(m_multi, client.handle());
        ++running;
    };
    for (const auto& client : m_clients) {
        byHandle[client->handle()] = client.get();
        start(*client);
    }
    while (running > 0) {
        int active = 0;
        curl_multi_perform(m_multi, &active);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            CurlClient& client = *byHandle[message->easy_handle];
            allAccepted = allAccepted && message->data.result == CURLE_OK && accepted(client.status());
            curl_multi_remove_handle(m_multi, message->easy_handle);
            --running;
            start(client);
        }
        if (running > 0)
            curl_multi_poll(m_multi, nullptr, 0, 100, nullptr);
    }
    return allAccepted && next == requests.size();
}
