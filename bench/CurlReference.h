#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// libcurl in this process: the reference the processor driver's exchanges are measured against.

// One request as the driver sends it: method, target, content type (none when empty) and body.
struct CurlRequest
{
    std::string method;
    std::string target;
    std::string contentType;
    std::string body;
};

// One easy handle with Digest credentials: between requests it keeps its connection (when the
// server does) and its Digest state, so that later requests authenticate from the start.
class CurlClient
{
public:
    CurlClient(std::string origin, const std::string& user, const std::string& password);
    ~CurlClient();
    CurlClient(const CurlClient&) = delete;
    CurlClient& operator=(const CurlClient&) = delete;

    // Sets the handle up for the request; the request must stay alive until it has run.
    void prepare(const CurlRequest& request);
    // Runs the prepared request here; the HTTP status, or 0 when the exchange failed.
    long perform();
    long status() const;
    CURL* handle() const { return m_easy; }

private:
    std::string m_origin;
    CURL* m_easy = nullptr;
    curl_slist* m_headers = nullptr;
    std::string m_url;
    std::string m_typeHeader;
};

// A few clients on one multi handle, whose connections it keeps between batches.
class CurlMulti
{
public:
    CurlMulti(std::size_t clients, const std::string& origin, const std::string& user, const std::string& password);
    ~CurlMulti();
    CurlMulti(const CurlMulti&) = delete;
    CurlMulti& operator=(const CurlMulti&) = delete;

    // Sends every request, each client taking the next one in order as soon as it is free. False
    // when any exchange failed or was not accepted (200 or 204).
    bool sendAll(const std::vector<CurlRequest>& requests);

private:
    CURLM* m_multi = nullptr;
    std::vector<std::unique_ptr<CurlClient>> m_clients;
};
