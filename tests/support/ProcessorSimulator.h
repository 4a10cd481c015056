#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A stand-in for the LED processor's HTTP interface, for tests: an HTTP/1.1 server on
// 127.0.0.1 with an ephemeral port. It keeps connections open between requests unless told
// otherwise (setKeepAlive), and counts the connections it accepts (connections()).
//
// - Replies are scripted per method and target (setRoute, matched exactly on the whole target,
//   query included), or computed by a handler (setHandler) for requests no route matches;
//   anything else gets 404. A route may hold a sequence of replies: each request takes the
//   next one and the last repeats (for example "busy", "busy", "idle").
// - Digest authentication (requireDigest): MD5 with qop=auth by default, an opaque value, and
//   base64 nonces that end in "=" and change on rotateNonce(). Every request is checked
//   strictly against the credentials (user name, realm, nonce, uri, opaque, nc, cnonce and the
//   response hash); a request that fails gets 401 with a fresh challenge (stale=true when only
//   the nonce was old) and never reaches a route. A strict server (Digest::strict) gives every
//   connection a nonce of its own and checks each nonce's counts as a standard server does.
// - What a small embedded server does: a cap on the connections open at once (setConnectionLimit)
//   and a slow mode that works on one request at a time (setSlow).
// - A reply can wait before answering, close without answering, cut its body short or never
//   answer at all (the connection stays open until the client goes). setStalled(true) makes
//   new connections be accepted and then never read, so a large request stalls in its write.
// - A kept connection's idle time can end as servers with an idle limit end it: closed without a
//   word, closed after "408 Request Timeout", or interrupted by a stray reply nobody asked for;
//   after a set idle time (setIdleEnd), or just as the next request arrives (raceNextRequest).
// - Every request read is logged (method, target, headers in order, body, verdict).
//
// The server runs on a thread of its own; every public member may be called from any thread
// (one mutex guards the script and the log). A handler runs on the server's thread, outside
// that mutex. The destructor closes every connection and joins the thread.
class ProcessorSimulator
{
public:
    enum class Ending
    {
        Answer,             // write the reply, then close
        CloseWithoutAnswer, // read the request, then close without a word
        TruncatedBody,      // announce the whole body, send half of it, then close
        NeverAnswer,        // read the request and stay silent until the client closes
        Raw,                // write the body as the whole response in one write, then close
    };

    // What happens to a connection after a reply that was answered.
    enum class KeepAlive
    {
        On,      // it stays open for the next request, unless the client asks to close it
        Off,     // the reply says "Connection: close", and the server closes it
        Dropped, // the reply promises to keep it, then the server closes it at once (the close
                 // leaves with the reply), as one whose idle limit ran out between two requests
    };

    // How the server ends a kept connection's idle time (a connection that has answered a
    // request and waits for the next).
    enum class IdleEnd
    {
        Stay,       // it stays open however long it is idle (the start)
        Close,      // closed without a word; a request that already arrived stays unread
        Timeout408, // "408 Request Timeout" with "Connection: close", then closed; what the client
                    // still sends is read and dropped, never answered (a lingering close)
        StrayReply, // a whole reply nobody asked for, kStrayStatus without a body; the connection
                    // stays open, and a request that already arrived is answered after it
    };
    static constexpr unsigned kStrayStatus = 204;

    using Header = std::pair<std::string, std::string>;

    struct Reply
    {
        unsigned status = 200;
        std::string body;
        std::string contentType = "application/json"; // no Content-Type when empty
        std::vector<Header> headers;                  // further fields, in this order
        std::chrono::milliseconds delay{0};           // wait this long before the ending
        Ending ending = Ending::Answer;

        static Reply json(std::string body, unsigned status = 200);
        static Reply text(std::string body, unsigned status = 200);
        static Reply withEnding(Ending ending);
    };

    struct Request
    {
        std::string method;
        std::string target;
        std::vector<Header> headers;
        std::string body;
        bool authorized = false; // passed the Digest check, or no check is required
        std::chrono::steady_clock::time_point received; // when the whole request had been read
        std::size_t connection = 0; // the connection it came on, counted from 1 in order of acceptance

        // The first field of that name (case-insensitive), if any.
        std::optional<std::string> header(std::string_view name) const;
        std::size_t headerCount(std::string_view name) const;
        // A parameter of the Digest Authorization field, unquoted; empty when absent.
        std::string authParam(std::string_view name) const;
    };

    struct Digest
    {
        std::string username = "admin";
        std::string password = "secret";
        std::string realm = "Kestra";
        std::string qop = "auth";                           // offered list; none when empty
        std::optional<std::string> opaque = "5ccc069c403ebaf9f0171e9517f40e41"; // not sent when absent
        std::string algorithm;                              // not sent when empty
        std::vector<std::string> challengesBefore;          // WWW-Authenticate fields sent first
        // As a strict standard server: each connection gets a nonce of its own, good on that
        // connection only (another nonce gets 401 with stale=true), and the requests made with a
        // nonce must count 1, 2, 3 ... in the order they arrive (any other count gets 401).
        bool strict = false;
    };

    struct Connections
    {
        std::size_t accepted = 0; // served, whether or not they carried a request
        std::size_t refused = 0;  // closed at once for the connection limit
        std::size_t peak = 0;     // the most open at one time
    };

    using Handler = std::function<Reply(const Request&)>;
    using Watcher = std::function<void(const Request&)>;

    ProcessorSimulator();
    ~ProcessorSimulator();
    ProcessorSimulator(const ProcessorSimulator&) = delete;
    ProcessorSimulator& operator=(const ProcessorSimulator&) = delete;

    // Targets of the processor's interface.
    static constexpr const char* kDataTarget = "/api/v1/data";
    static constexpr const char* kGenerateTarget = "/api/v1/media/generate";
    static constexpr const char* kLayoutTarget = "/api/v1/data?dev.receivers&sys.fixtures";
    static constexpr const char* kStatusTarget =
        "/api/v1/data?dev.display.brightness&dev.display.cct&dev.display.cctDuv&dev.display.gamma"
        "&dev.display.eotfType&dev.display.lumaMax&dev.display.tileBpc&dev.display.gains&dev.display.out.adjust"
        "&dev.display.out.curves.enabled&dev.ingest.testPattern.enabled&dev.ingest.testPattern.type"
        "&dev.ingest.outputFreq";

    // Canned layout replies (GET kLayoutTarget).
    enum class Layout
    {
        // "00:1a:2b:00:00:01" at (0, 0), 182 x 120 pixels of 4 x 3 LDMs, with the LDMs "1"
        // (gains 0.1, 0.2, 0.3, i 0), "2" (i -1) and "10" (0.5, 0.25, 0, i -0.9);
        // "00:1a:2b:00:00:02" at (182, 0), the same type and size, with the LDMs "1" and "2";
        // "00:1a:2b:00:00:03" at (0, 120), of another type, without "ldms".
        // Fixture "K-100" (the first two) supports mesh uniformity, "K-300" does not.
        Wall,
        // The Wall plus a receiver of the type "K-200", which "sys.fixtures" lacks.
        MissingFixture,
        // "00:1a:2b:00:00:01" reports 0 LDM columns with one LDM; "00:1a:2b:00:00:02" has
        // 4 x 3 LDMs named "0", "3", "13" and "x", of which only "3" lies in the tile.
        Malformed,
    };
    static std::string layout(Layout layout);
    // A layout of `tiles` mesh-capable tiles (fixture "K-100") side by side from (0, 0), each
    // width x height pixels of ldmsW x ldmsH LDMs, every LDM present with zero gains. Tile k
    // (from 1) is the receiver "00:1a:2b:00:HH:LL" with k in the last two bytes (hexadecimal).
    // With tilesPerRow, the tiles fill rows of that many from the top left, row after row.
    static std::string meshTiles(unsigned tiles, unsigned width, unsigned height, unsigned ldmsW, unsigned ldmsH,
                                 unsigned tilesPerRow = 0);
    static std::string tileName(unsigned tile);
    // A canned status reply (GET kStatusTarget): brightness 42.5, cct 5600, cctDuv 0.001, gamma
    // 2.2, eotfType "pq", lumaMax 1000, display gains 0.95, 1, 0.9, output gain 0.8, 0.7, 0.6,
    // curves off, test pattern on, output frequency 50.
    static std::string status();

    static constexpr const char* host() { return "127.0.0.1"; }
    std::uint16_t port() const;
    std::string address() const; // "127.0.0.1:<port>"

    void requireDigest(); // with the defaults of Digest
    void requireDigest(Digest digest);
    void allowAnonymous();
    void rotateNonce(); // requests with the old nonce get 401 with stale=true
    std::string nonce() const;

    void setRoute(std::string method, std::string target, std::vector<Reply> replies);
    void setRoute(std::string method, std::string target, Reply reply);
    void setHandler(Handler handler);
    // Shows every request, once judged, to watcher (on the server's thread, in order of arrival,
    // outside the mutex). With keepLog false, requests are no longer logged: a run at the scale
    // of a whole wall would otherwise keep every body it ever sent.
    void watchRequests(Watcher watcher, bool keepLog = true);
    void setStalled(bool stalled);
    void setKeepAlive(KeepAlive keepAlive); // On at the start
    // At most this many connections open at once; a further one is closed as soon as it is
    // accepted. 0 (the start) sets no limit.
    void setConnectionLimit(std::size_t limit);
    // Works on one request at a time, whatever its connection, taking this long over each; the
    // requests that arrive meanwhile wait their turn. 0 (the start) answers at once.
    void setSlow(std::chrono::milliseconds perRequest);
    Connections connections() const;
    // Ends every kept connection's idle time after `idle` without the next request.
    void setIdleEnd(IdleEnd end, std::chrono::milliseconds idle);
    // Ends the idle time of the next kept connection that a request arrives on, just as the
    // request's first bytes arrive, as an idle limit running out while the request was on its
    // way: the request crosses the server's close unread, or comes after a stray reply. Once.
    void raceNextRequest(IdleEnd end);
    // How many idle times the server has ended so far (each counted once its end has been sent).
    std::size_t idleEnds() const;
    // How many replies to requests the server has written whole so far.
    std::size_t repliesSent() const;
    // Answers updates as the processor does: PATCH of the data and POST of the media generator
    // with 204 and no body. Routes set later for the same targets take their place.
    void acceptUpdates();
    // Answers mesh uploads as the processor does, for requests no route matches (it sets the
    // handler): every "/cal?raw&continuation=" file POST and "/calSave?type=user" POST with 204,
    // and every tile's "/calBusy" GET with the next of tileStates (the last repeats), counted per
    // tile. Anything else gets 404.
    void acceptMeshUploads(std::vector<Reply> tileStates);
    // The same, but each tile's "/calBusy" answers "busy" from its last file (continuation=false)
    // until busyFor has passed, and "idle" otherwise, however often it is asked.
    void acceptMeshUploads(std::chrono::milliseconds busyFor);

    // A test pattern the processor was asked to show: 0 none, 1 white, 2 the generated grid of
    // cells of width x height pixels (each with a rectangle in its centre).
    struct TestPattern
    {
        int mode = 0;
        int width = 0;
        int height = 0;
        bool operator==(const TestPattern&) const = default;
    };
    // The test patterns asked for by accepted requests, in order of arrival. The pattern switched
    // off just before a grid is generated is part of the grid's request and not listed.
    std::vector<TestPattern> testPatterns() const;

    std::vector<Request> requests() const;
    std::size_t requestCount() const;
    // The requests of that method and target that passed authentication, in order of arrival,
    // and their bodies (for a PATCH, the JSON document that reached the processor).
    std::vector<Request> accepted(std::string_view method, std::string_view target) const;
    std::vector<std::string> bodies(std::string_view method, std::string_view target) const;
    // Bytes that clients sent on stalled connections and nobody read.
    std::size_t stalledBytes() const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};
