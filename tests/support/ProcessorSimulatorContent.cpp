#include "support/ProcessorSimulator.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

// What the simulated processor shows and takes: its layouts, status and tiles, the handlers that
// accept mesh uploads and updates, and what the recorded requests asked for. The server itself,
// its connections and Digest checks are in ProcessorSimulator.cpp.

std::string ProcessorSimulator::layout(Layout layout)
{
    const std::string wallReceivers = R"(
        "00:1a:2b:00:00:01": {"x": 0, "y": 0,
            "info": {"type": "K-100", "pixelsW": 182, "pixelsH": 120, "ldmsW": 4, "ldmsH": 3},
            "ldms": {"1": {"gains": {"r": 0.1, "g": 0.2, "b": 0.3, "i": 0}},
                     "2": {"gains": {"r": 0, "g": 0, "b": 0, "i": -1}},
                     "10": {"gains": {"r": 0.5, "g": 0.25, "b": 0, "i": -0.9}}}},
        "00:1a:2b:00:00:02": {"x": 182, "y": 0,
            "info": {"type": "K-100", "pixelsW": 182, "pixelsH": 120, "ldmsW": 4, "ldmsH": 3},
            "ldms": {"1": {"gains": {"r": 0, "g": 0, "b": 0, "i": 0}},
                     "2": {"gains": {"r": 0, "g": 0, "b": 0, "i": 0}}}},
        "00:1a:2b:00:00:03": {"x": 0, "y": 120,
            "info": {"type": "K-300", "pixelsW": 100, "pixelsH": 100, "ldmsW": 2, "ldmsH": 2}})";
    const std::string fixtures = R"(
        "sys": {"fixtures": {"K-100": {"cal": {"uniformity": {"mesh": true}}},
                             "K-300": {"cal": {"uniformity": {"mesh": false}}}}})";
    switch (layout) {
    case Layout::Wall:
        return R"({"dev": {"receivers": {)" + wallReceivers + "}}," + fixtures + "}";
    case Layout::MissingFixture:
        return R"({"dev": {"receivers": {)" + wallReceivers + R"(,
            "00:1a:2b:00:00:04": {"x": 400, "y": 0, "info": {"type": "K-200", "pixelsW": 100, "pixelsH": 100,
                "ldmsW": 1, "ldmsH": 1}, "ldms": {"1": {"gains": {"i": 0}}}}}},)"
            + fixtures + "}";
    case Layout::Malformed:
        return R"({"dev": {"receivers": {
            "00:1a:2b:00:00:01": {"x": 0, "y": 0,
                "info": {"type": "K-300", "pixelsW": 100, "pixelsH": 100, "ldmsW": 0, "ldmsH": 2},
                "ldms": {"1": {"gains": {"i": 0}}}},
            "00:1a:2b:00:00:02": {"x": 100, "y": 0,
                "info": {"type": "K-300", "pixelsW": 100, "pixelsH": 90, "ldmsW": 4, "ldmsH": 3},
                "ldms": {"0": {"gains": {"i": 0}}, "3": {"gains": {"i": 0}}, "13": {"gains": {"i": 0}},
                         "x": {"gains": {"i": 0}}}}}},)"
            + fixtures + "}";
    }
    return {};
}

std::string ProcessorSimulator::status()
{
    return R"({"dev": {
        "display": {"brightness": 42.5, "cct": 5600, "cctDuv": 0.001, "gamma": 2.2, "eotfType": "pq",
                    "lumaMax": 1000, "tileBpc": 12, "gains": {"r": 0.95, "g": 1, "b": 0.9},
                    "out": {"adjust": {"enabled": true, "gain": {"r": 0.8, "g": 0.7, "b": 0.6}},
                            "curves": {"enabled": false}}},
        "ingest": {"testPattern": {"enabled": true, "type": "white"}, "outputFreq": 50}}})";
}

std::string ProcessorSimulator::tileName(unsigned tile)
{
    char name[32];
    std::snprintf(name, sizeof name, "00:1a:2b:00:%02x:%02x", (tile >> 8) & 0xFF, tile & 0xFF);
    return name;
}

std::string ProcessorSimulator::meshTiles(unsigned tiles, unsigned width, unsigned height, unsigned ldmsW,
                                          unsigned ldmsH, unsigned tilesPerRow)
{
    const unsigned perRow = tilesPerRow == 0 ? tiles : tilesPerRow;
    std::string receivers;
    for (unsigned tile = 1; tile <= tiles; ++tile) {
        std::string ldms;
        for (unsigned ldm = 1; ldm <= ldmsW * ldmsH; ++ldm)
            ldms += (ldm > 1 ? ", \"" : "\"") + std::to_string(ldm) + R"(": {"gains": {"r": 0, "g": 0, "b": 0, "i": 0}})";
        receivers += (tile > 1 ? ", \"" : "\"") + tileName(tile) + "\": {\"x\": " + std::to_string((tile - 1) % perRow * width)
            + ", \"y\": " + std::to_string((tile - 1) / perRow * height) + R"(, "info": {"type": "K-100", "pixelsW": )" + std::to_string(width) + R"(, "pixelsH": )"
            + std::to_string(height) + R"(, "ldmsW": )" + std::to_string(ldmsW) + R"(, "ldmsH": )"
            + std::to_string(ldmsH) + R"(}, "ldms": {)" + ldms + "}}";
    }
    return R"({"dev": {"receivers": {)" + receivers
        + R"(}}, "sys": {"fixtures": {"K-100": {"cal": {"uniformity": {"mesh": true}}}}}})";
}

namespace {

// Answers mesh uploads as the processor does: file POSTs and saves with 204, a tile's "/calBusy"
// with stateOf(tile's target, tile); onLastFile(tile) when a tile's last file arrives.
ProcessorSimulator::Handler meshUploads(std::function<ProcessorSimulator::Reply(const std::string&)> stateOf,
                                        std::function<void(const std::string&)> onLastFile)
{
    using Reply = ProcessorSimulator::Reply;
    return [stateOf = std::move(stateOf), onLastFile = std::move(onLastFile)](const ProcessorSimulator::Request& request) {
        constexpr std::string_view prefix = "/api/v1/tile/";
        const std::string_view target = request.target;
        if (!target.starts_with(prefix))
            return Reply::text("not found", 404);
        const std::string tile(target.substr(prefix.size(), target.find('/', prefix.size()) - prefix.size()));
        if (request.method == "POST" && target.find("/cal?raw&continuation=") != std::string_view::npos) {
            if (target.ends_with("continuation=false") && onLastFile)
                onLastFile(tile);
            return Reply::text("", 204);
        }
        if (request.method == "POST" && target.ends_with("/calSave?type=user"))
            return Reply::text("", 204);
        if (request.method == "GET" && target.ends_with("/calBusy") && stateOf)
            return stateOf(tile);
        return Reply::text("not found", 404);
    };
}

} // namespace

void ProcessorSimulator::acceptMeshUploads(std::vector<Reply> tileStates)
{
    struct Polls
    {
        std::mutex mutex;
        std::map<std::string, std::size_t> byTile;
    };
    auto polls = std::make_shared<Polls>();
    std::function<Reply(const std::string&)> stateOf;
    if (!tileStates.empty()) {
        stateOf = [polls, tileStates = std::move(tileStates)](const std::string& tile) {
            std::lock_guard lock(polls->mutex);
            const std::size_t poll = polls->byTile[tile]++;
            return tileStates[std::min(poll, tileStates.size() - 1)];
        };
    }
    setHandler(meshUploads(std::move(stateOf), {}));
}

void ProcessorSimulator::acceptMeshUploads(std::chrono::milliseconds busyFor)
{
    using Clock = std::chrono::steady_clock;
    struct Busy
    {
        std::mutex mutex;
        std::map<std::string, Clock::time_point> until;
    };
    auto busy = std::make_shared<Busy>();
    setHandler(meshUploads(
        [busy](const std::string& tile) {
            std::lock_guard lock(busy->mutex);
            const auto until = busy->until.find(tile);
            return Reply::text(until != busy->until.end() && Clock::now() < until->second ? "busy" : "idle");
        },
        [busy, busyFor](const std::string& tile) {
            std::lock_guard lock(busy->mutex);
            busy->until[tile] = Clock::now() + busyFor;
        }));
}

void ProcessorSimulator::acceptUpdates()
{
    setRoute("PATCH", kDataTarget, Reply::json("", 204));
    setRoute("POST", kGenerateTarget, Reply::json("", 204));
}

std::vector<ProcessorSimulator::Request> ProcessorSimulator::accepted(std::string_view method,
                                                                    std::string_view target) const
{
    std::vector<Request> found;
    std::lock_guard lock(m_impl->m_mutex);
    for (const Request& request : m_impl->m_log) {
        if (request.authorized && request.method == method && request.target == target)
            found.push_back(request);
    }
    return found;
}

std::vector<std::string> ProcessorSimulator::bodies(std::string_view method, std::string_view target) const
{
    std::vector<std::string> found;
    for (const Request& request : accepted(method, target))
        found.push_back(request.body);
    return found;
}

std::vector<ProcessorSimulator::TestPattern> ProcessorSimulator::testPatterns() const
{
    std::vector<TestPattern> patterns;
    for (const Request& request : requests()) {
        if (!request.authorized)
            continue;
        const QJsonObject body =
            QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
        if (request.method == "POST" && request.target == kGenerateTarget) {
            const QJsonArray step =
                body.value(QLatin1String("draw")).toArray().at(0).toObject().value(QLatin1String("step")).toArray();
            patterns.push_back({2, step.at(0).toInt(), step.at(1).toInt()});
            continue;
        }
        if (request.method != "PATCH" || request.target != kDataTarget)
            continue;
        const QJsonObject testPattern = body.value(QLatin1String("dev"))
                                            .toObject()
                                            .value(QLatin1String("ingest"))
                                            .toObject()
                                            .value(QLatin1String("testPattern"))
                                            .toObject();
        if (testPattern.isEmpty())
            continue;
        if (testPattern.value(QLatin1String("enabled")).toBool()
            && testPattern.value(QLatin1String("type")).toString() == QLatin1String("white"))
            patterns.push_back({1});
        else if (testPattern.contains(QLatin1String("mediaEnabled")))
            patterns.push_back({0});
    }
    return patterns;
}
