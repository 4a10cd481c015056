// The processor driver's correction meshes against the loopback simulator: the files built per
// LDM (decoded with the library's reader), their upload per tile, the wait for each tile's
// state, and the commit.
#include "support/KestraFixture.h"

#include "support/Lighttpd.h"
#include "support/MessageCapture.h"

#include "formats/CorvaneCalFileHandler.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Reply = ProcessorSimulator::Reply;
using Request = ProcessorSimulator::Request;
using Mesh = CorvaneCalFile::Mesh;

// One step of the file's 16-bit samples.
constexpr float kSampleStep = 1.0f / 32768.0f;

// One uploaded mesh file, from its request.
struct Upload
{
    std::string tile;
    std::string ldm;
    std::string continuation;
    std::string body;
    std::chrono::steady_clock::time_point received;
};

Mesh decode(const std::string& bytes)
{
    std::istringstream in(bytes);
    return CorvaneCalFile::Handler().readStreamMesh(in);
}

std::string tileOf(const std::string& target)
{
    const std::string prefix = "/api/v1/tile/";
    const std::size_t end = target.find('/', prefix.size());
    return target.substr(prefix.size(), end - prefix.size());
}

bool isFilePost(const Request& r)
{
    return r.method == "POST" && r.target.find("/cal?raw&continuation=") != std::string::npos;
}

bool isStatePoll(const Request& r)
{
    return r.method == "GET" && r.target.ends_with("/calBusy");
}

bool isCommit(const Request& r)
{
    return r.method == "POST" && r.target.ends_with("/calSave?type=user");
}

// The mesh cells of an LDM, as the templaters lay them: across x down cells over each tile, each
// naming the display LDM that contains it (0 for none); the red gain of cell k (counted over the
// whole wall) is chosen so that its sample is (k + 1) / 64.
struct Cells
{
    std::vector<Macropixel> records;
    QList<Macropixel*> list() { QList<Macropixel*> l; for (auto& r : records) l.append(&r); return l; }
};

Cells templateCells(Kestra& kestra, uint across, uint down)
{
    Cells cells;
    for (uint t = 1; t <= kestra.tileCount(); ++t) {
        const Tile& tile = kestra.tile(t);
        const float width = tile.width / float(across);
        const float height = tile.height / float(down);
        for (uint i = 0; i < across * down; ++i) {
            Macropixel cell(0, float(i % across) * width + tile.x, float(i / across) * height + tile.y, width, height);
            cell.tileNumber = tile.number;
            const Macropixel* ldm = kestra.findLdm(tile.number, int(cell.x), int(cell.y));
            cell.indexInTile = ldm ? ldm->number : 0;
            cell.redGain = double(cells.records.size() + 1) / 64.0 - 1.0;
            cells.records.push_back(cell);
        }
    }
    return cells;
}

// One cell per display LDM, naming the LDM by its number on the wall, with zero gains.
Cells flatCells(Kestra& kestra)
{
    Cells cells;
    for (uint n = 1; n <= kestra.ldmCount(); ++n) {
        Macropixel cell = kestra.ldm(n);
        cell.indexInTile = n;
        cell.redGain = cell.greenGain = cell.blueGain = 0.0;
        cells.records.push_back(cell);
    }
    return cells;
}

class KestraMesh : public KestraFixture
{
protected:
    KestraMesh()
    {
        connectToSimulator();
        kestra->setTileStateTiming({20ms, 200ms, 1500ms});
        simulator.acceptMeshUploads({Reply::text("busy"), Reply::text("idle")});
    }

    void serveLayout(const std::string& layout)
    {
        simulator.setRoute("GET", ProcessorSimulator::kLayoutTarget, Reply::json(layout));
        ASSERT_TRUE(kestra->fetchOutputConfig().ok());
    }

    std::vector<Upload> uploads() const
    {
        std::vector<Upload> found;
        for (const Request& r : simulator.requests()) {
            if (!r.authorized || !isFilePost(r))
                continue;
            const std::string rest = r.target.substr(std::string("/api/v1/tile/").size());
            const std::size_t slash = rest.find('/');
            const std::size_t cal = rest.find("/cal?raw&continuation=");
            found.push_back({rest.substr(0, slash), rest.substr(slash + 1, cal - slash - 1),
                             rest.substr(cal + std::string("/cal?raw&continuation=").size()), r.body, r.received});
        }
        return found;
    }

    std::vector<Request> matching(bool (*predicate)(const Request&)) const
    {
        std::vector<Request> found;
        for (const Request& r : simulator.requests()) {
            if (r.authorized && predicate(r))
                found.push_back(r);
        }
        return found;
    }

    // A wall of mesh tiles of two LDMs each, reset (uploaded and committed).
    ErrorType resetWall(unsigned tiles)
    {
        simulator.setRoute("GET", ProcessorSimulator::kLayoutTarget,
                           Reply::json(ProcessorSimulator::meshTiles(tiles, 40, 20, 2, 1)));
        if (!kestra->fetchOutputConfig().ok() || kestra->tileCount() != tiles)
            return ErrorType::failure(ErrorType::Fatal, QStringLiteral("the wall did not load"));
        return kestra->resetMesh();
    }

    // Every tile of the wall took both its files, was seen busy and idle, and was committed once,
    // in name order, after its own last state poll.
    void expectWholeWallCommitted(unsigned tiles)
    {
        std::map<std::string, std::vector<std::string>> files;
        for (const Upload& u : uploads())
            files[u.tile].push_back(u.ldm + "/" + u.continuation);
        ASSERT_EQ(files.size(), tiles);
        for (const auto& [tile, sent] : files)
            EXPECT_EQ(sent, (std::vector<std::string>{"1/true", "2/false"})) << tile;

        std::map<std::string, std::chrono::steady_clock::time_point> lastPoll;
        for (const Request& poll : matching(isStatePoll))
            lastPoll[tileOf(poll.target)] = poll.received;
        const std::vector<Request> commits = matching(isCommit);
        ASSERT_EQ(commits.size(), tiles);
        for (unsigned t = 0; t < tiles; ++t) {
            const std::string tile = tileOf(commits[t].target);
            EXPECT_EQ(tile, ProcessorSimulator::tileName(t + 1));
            ASSERT_TRUE(lastPoll.contains(tile));
            EXPECT_GE(commits[t].received, lastPoll[tile]) << tile;
        }
    }
};

void expectGrid(const Vector2D<float>& grid, std::size_t rows, std::size_t columns, float value)
{
    ASSERT_EQ(grid.height(), rows);
    for (const auto& row : grid) {
        ASSERT_EQ(row.size(), columns);
        for (float v : row)
            EXPECT_NEAR(v, value, kSampleStep);
    }
}

} // namespace

TEST_F(KestraMesh, ResetUploadsOneFlatMeshPerLdmInTextOrderThenCommitsEveryTile)
{
    serveLayout(ProcessorSimulator::layout(ProcessorSimulator::Layout::Wall));
    ASSERT_TRUE(kestra->resetMesh().ok());

    // Tile 1's LDMs in text order; only the last file of each tile ends the sequence.
    std::vector<std::pair<std::string, std::string>> first;
    std::vector<std::pair<std::string, std::string>> second;
    const std::map<std::string, std::array<float, 3>> gains1{
        {"1", {0.1f, 0.2f, 0.3f}}, {"2", {0.0f, 0.0f, 0.0f}}, {"10", {0.5f, 0.25f, 0.0f}}};
    for (const Upload& u : uploads()) {
        (u.tile == kMac1 ? first : second).emplace_back(u.ldm, u.continuation);
        const Mesh mesh = decode(u.body);
        SCOPED_TRACE(u.tile + " LDM " + u.ldm);
        EXPECT_EQ(mesh.name, "Velotrim continuous");
        ASSERT_EQ(mesh.grids.size(), 3u);
        const std::array<float, 3> gain = u.tile == kMac1 ? gains1.at(u.ldm) : std::array<float, 3>{0, 0, 0};
        for (std::size_t c = 0; c < 3; ++c)
            expectGrid(mesh.grids[c], 3, 3, gain[c] + 1.0f);
        EXPECT_EQ(mesh.windowX, 0.5f);
        EXPECT_EQ(mesh.windowY, 0.5f);
        EXPECT_EQ(mesh.windowWidth, 1.0f);
        EXPECT_EQ(mesh.windowHeight, 1.0f);
        EXPECT_EQ(mesh.factor, 1.0f);
    }
    using Flags = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(first, (Flags{{"1", "true"}, {"10", "true"}, {"2", "false"}}));
    EXPECT_EQ(second, (Flags{{"1", "true"}, {"2", "false"}}));

    // One save per tile, in name order, after every tile's state was read back.
    const std::vector<Request> commits = matching(isCommit);
    ASSERT_EQ(commits.size(), 2u);
    EXPECT_EQ(tileOf(commits[0].target), kMac1);
    EXPECT_EQ(tileOf(commits[1].target), kMac2);
    EXPECT_TRUE(commits[0].body.empty());
    EXPECT_GE(commits[0].received, matching(isStatePoll).back().received);
}

TEST_F(KestraMesh, AFailedTileStopsAloneAndNothingIsCommitted)
{
    serveLayout(ProcessorSimulator::layout(ProcessorSimulator::Layout::Wall));
    simulator.setRoute("POST", "/api/v1/tile/" + std::string(kMac1) + "/10/cal?raw&continuation=true",
                       Reply::text("refused", 500));

    MessageCapture log;
    const ErrorType result = kestra->resetMesh();
    EXPECT_EQ(result.kind, ErrorType::Fatal);
    EXPECT_EQ(result.message.toStdString(), "UploadLdms: tile 00:1a:2b:00:00:01, ldm 10, http status 500");
    EXPECT_TRUE(log.messages().contains(result.message));

    std::vector<std::string> sent;
    for (const Upload& u : uploads())
        sent.push_back(u.tile + "/" + u.ldm);
    std::sort(sent.begin(), sent.end());
    // The failing tile sends nothing after its failure and is never polled; the other finishes.
    EXPECT_EQ(sent, (std::vector<std::string>{std::string(kMac1) + "/1", std::string(kMac1) + "/10",
                                              std::string(kMac2) + "/1", std::string(kMac2) + "/2"}));
    for (const Request& poll : matching(isStatePoll))
        EXPECT_EQ(tileOf(poll.target), kMac2);
    EXPECT_FALSE(matching(isStatePoll).empty());
    EXPECT_TRUE(matching(isCommit).empty());
}

TEST_F(KestraMesh, ErrorsOfSeveralTilesComeInTileNameOrder)
{
    serveLayout(ProcessorSimulator::layout(ProcessorSimulator::Layout::Wall));
    // The first tile fails last.
    Reply late = Reply::text("busy elsewhere", 503);
    late.delay = 300ms;
    simulator.setRoute("POST", "/api/v1/tile/" + std::string(kMac1) + "/1/cal?raw&continuation=true", late);
    simulator.setRoute("GET", "/api/v1/tile/" + std::string(kMac2) + "/calBusy", Reply::text("", 500));

    const ErrorType result = kestra->resetMesh();
    EXPECT_EQ(result.kind, ErrorType::Fatal);
    EXPECT_EQ(result.message.toStdString(), "UploadLdms: tile 00:1a:2b:00:00:01, ldm 1, http status 503\n"
                                            "UploadLdms: tile 00:1a:2b:00:00:02, http status 500");
    EXPECT_TRUE(matching(isCommit).empty());
}

TEST_F(KestraMesh, SamplesAreTheGainPlusOneBelowTwoAndNeverNegative)
{
    serveLayout(ProcessorSimulator::layout(ProcessorSimulator::Layout::Wall));
    ASSERT_EQ(kestra->ldmCount(), 5u);
    struct Case
    {
        double gain;
        float sample;
    };
    // One case per LDM of the wall, in its list order.
    const std::array<Case, 5> cases{{{1.5, 1.999f}, {0.999, 1.999f}, {0.5, 1.5f}, {0.0, 1.0f}, {-1.5, 0.0f}}};
    Cells cells = flatCells(*kestra);
    for (std::size_t i = 0; i < cases.size(); ++i)
        cells.records[i].greenGain = cases[i].gain;
    QList<Macropixel*> list = cells.list();
    ASSERT_TRUE(kestra->setMeshRGBs(list, 1.0f).ok());

    std::map<std::string, float> byFile;
    for (const Upload& u : uploads())
        byFile[u.tile + "/" + u.ldm] = decode(u.body).grids.at(1).at(1).at(1);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Macropixel& ldm = kestra->ldm(uint(i + 1));
        const std::string key = ldm.name.toStdString() + "/" + std::to_string(ldm.indexInTile);
        SCOPED_TRACE("gain " + std::to_string(cases[i].gain));
        ASSERT_TRUE(byFile.contains(key));
        EXPECT_NEAR(byFile[key], cases[i].sample, kSampleStep);
    }
}

TEST_F(KestraMesh, ANonFiniteGainIsRefusedBeforeAnythingIsSent)
{
    serveLayout(ProcessorSimulator::layout(ProcessorSimulator::Layout::Wall));
    const std::size_t before = simulator.requestCount();
    for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        Cells cells = flatCells(*kestra);
        cells.records.back().blueGain = bad;
        QList<Macropixel*> list = cells.list();
        EXPECT_EQ(kestra->setMeshRGBs(list, 1.0f).kind, ErrorType::Fatal);
    }
    EXPECT_EQ(simulator.requestCount(), before);
}

// Template cells over a tile of 10 x 1 LDMs, 20 x 2 cells: on a tile of 200 pixels every LDM is
// 20 pixels wide and holds two columns of cells on a regular grid; on one of 199 pixels the LDMs
// are 19 pixels wide while the cells are 9.95, and their offsets no longer divide evenly.
struct PlacementCase
{
    const char* name;
    unsigned tileWidth;
    bool regular;
};

void PrintTo(const PlacementCase& c, std::ostream* os)
{
    *os << c.name;
}

class KestraMeshPlacement : public KestraMesh, public ::testing::WithParamInterface<PlacementCase>
{
};

TEST_P(KestraMeshPlacement, EveryCellLandsInItsLdmGridAndTheBorderRepeatsTheEdge)
{
    const PlacementCase& param = GetParam();
    serveLayout(ProcessorSimulator::meshTiles(1, param.tileWidth, 10, 10, 1));
    ASSERT_EQ(kestra->ldmCount(), 10u);
    Cells cells = templateCells(*kestra, 20, 2);
    QList<Macropixel*> list = cells.list();
    MessageCapture log;
    ASSERT_TRUE(kestra->setMeshRGBs(list, 1.0f).ok());
    const QStringList messages = log.messages();
    const bool warned = std::any_of(messages.begin(), messages.end(), [](const QString& m) {
        return m.contains(QLatin1String("do not lie on a regular grid"));
    });
    EXPECT_EQ(warned, !param.regular);

    const std::vector<Upload> files = uploads();
    ASSERT_EQ(files.size(), 10u);
    for (const Upload& u : files) {
        SCOPED_TRACE("LDM " + u.ldm);
        uint number = 0; // the display's number of the LDM with this index
        for (uint n = 1; n <= kestra->ldmCount(); ++n)
            if (std::to_string(kestra->ldm(n).indexInTile) == u.ldm)
                number = n;
        // The LDM's cells in wall order: rows by y, columns by x.
        std::vector<const Macropixel*> mine;
        for (const Macropixel& c : cells.records)
            if (c.indexInTile == number)
                mine.push_back(&c);
        ASSERT_EQ(mine.size(), 4u);
        const Vector2D<float> red = decode(u.body).grids.at(0);
        ASSERT_EQ(red.height(), 4u);
        ASSERT_EQ(red.width(), 4u);
        for (std::size_t k = 0; k < mine.size(); ++k) {
            const std::size_t row = 1 + k / 2;
            const std::size_t column = 1 + k % 2;
            EXPECT_NEAR(red[row][column], float(mine[k]->redGain + 1.0), kSampleStep) << row << "," << column;
        }
        for (std::size_t row = 0; row < 4; ++row) {
            const std::size_t inner = std::clamp<std::size_t>(row, 1, 2);
            for (std::size_t column = 0; column < 4; ++column) {
                EXPECT_GT(red[row][column], 0.0f) << "hole at " << row << "," << column;
                EXPECT_EQ(red[row][column], red[inner][std::clamp<std::size_t>(column, 1, 2)]);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(, KestraMeshPlacement,
                         ::testing::Values(PlacementCase{"EvenlyDividingTile", 200, true},
                                           PlacementCase{"TileOf199Pixels", 199, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The tile's answers to the state poll, and how the upload ends.
struct StateCase
{
    const char* name;
    std::vector<Reply> states;
    std::string error; // empty: success; "%1" stands for the tile
    std::size_t polls; // 0: not checked
};

void PrintTo(const StateCase& c, std::ostream* os)
{
    *os << c.name;
}

class KestraMeshState : public KestraMesh, public ::testing::WithParamInterface<StateCase>
{
};

TEST_P(KestraMeshState, TheStateWaitEnds)
{
    const StateCase& param = GetParam();
    serveLayout(ProcessorSimulator::meshTiles(1, 40, 20, 2, 1));
    simulator.acceptMeshUploads(param.states);
    Cells cells = flatCells(*kestra);
    QList<Macropixel*> list = cells.list();
    QElapsedTimer clock;
    clock.start();
    const ErrorType result = kestra->setMeshRGBs(list, 1.0f);
    EXPECT_LT(clock.elapsed(), 5000);

    const QString tile = QString::fromStdString(ProcessorSimulator::tileName(1));
    EXPECT_EQ(result.message, param.error.empty() ? QString() : QString::fromStdString(param.error).arg(tile));
    EXPECT_EQ(result.kind, param.error.empty() ? 0 : ErrorType::Fatal);
    if (param.polls != 0) {
        EXPECT_EQ(matching(isStatePoll).size(), param.polls);
    }
}

INSTANTIATE_TEST_SUITE_P(
    , KestraMeshState,
    ::testing::Values(StateCase{"IdleOnly", {Reply::text("idle")}, "", 0},
                      StateCase{"BusyBusyIdle", {Reply::text("busy"), Reply::text("busy"), Reply::text("idle")}, "", 3},
                      StateCase{"BusyWithLineFeedIsNotBusy",
                                {Reply::text("busy\n"), Reply::text("busy"), Reply::text("idle")}, "", 3},
                      StateCase{"BusyForever", {Reply::text("busy")}, "UploadLdms: tile %1, timed out waiting for idle", 0},
                      StateCase{"FailingGet", {Reply::text("broken", 500)}, "UploadLdms: tile %1, http status 500", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(KestraMesh, CancelPendingEndsASleepingPollAtOnce)
{
    serveLayout(ProcessorSimulator::meshTiles(1, 40, 20, 2, 1));
    kestra->setTileStateTiming({10s, 30s, 60s});
    simulator.acceptMeshUploads({Reply::text("busy")});
    Cells cells = flatCells(*kestra);
    QList<Macropixel*> list = cells.list();
    QTimer::singleShot(300, kestra.get(), [this] { kestra->cancelPending(); });
    QElapsedTimer clock;
    clock.start();
    const ErrorType result = kestra->setMeshRGBs(list, 1.0f);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(result.kind, ErrorType::Fatal);
    EXPECT_TRUE(result.message.startsWith(QLatin1String("UploadLdms: tile 00:1a:2b:00:00:01, network error")))
        << result.message.toStdString();
    EXPECT_EQ(matching(isStatePoll).size(), 2u); // "busy" at once, then one poll for "idle"
}

TEST_F(KestraMesh, TilesUploadAtTheSameTime)
{
    serveLayout(ProcessorSimulator::layout(ProcessorSimulator::Layout::Wall));
    Reply busy = Reply::text("busy");
    Reply idle = Reply::text("idle");
    busy.delay = idle.delay = 100ms;
    simulator.acceptMeshUploads({busy, idle});
    Cells cells = flatCells(*kestra);
    QList<Macropixel*> list = cells.list();
    ASSERT_TRUE(kestra->setMeshRGBs(list, 1.0f).ok());

    std::map<std::string, std::chrono::steady_clock::time_point> firstPost;
    std::map<std::string, std::chrono::steady_clock::time_point> lastPoll;
    for (const Upload& u : uploads())
        firstPost.try_emplace(u.tile, u.received);
    for (const Request& poll : matching(isStatePoll))
        lastPoll[tileOf(poll.target)] = poll.received;
    ASSERT_EQ(firstPost.size(), 2u);
    ASSERT_EQ(lastPoll.size(), 2u);
    const auto latestStart = std::max(firstPost[kMac1], firstPost[kMac2]);
    EXPECT_LT(latestStart, std::min(lastPoll[kMac1], lastPoll[kMac2]));
}

TEST_F(KestraMesh, CellsOfNoKnownTileOrLdmAreSkippedAndNeverReachAnEmptyTileName)
{
    serveLayout(ProcessorSimulator::layout(ProcessorSimulator::Layout::Wall));
    Cells cells = flatCells(*kestra);
    cells.records.resize(1);
    Macropixel noLdm = cells.records[0];
    noLdm.indexInTile = 0; // a template cell outside every LDM
    Macropixel noTile = cells.records[0];
    noTile.tileNumber = 99;
    Macropixel farLdm = cells.records[0];
    farLdm.indexInTile = 99;
    cells.records.insert(cells.records.end(), {noLdm, noTile, farLdm});

    MessageCapture log;
    QList<Macropixel*> list = cells.list();
    ASSERT_TRUE(kestra->setMeshRGBs(list, 1.0f).ok());
    ASSERT_TRUE(kestra->commitMeshRGBs(list).ok());
    const QStringList messages = log.messages();
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                            [](const QString& m) { return m.contains(QLatin1String("which the wall does not have")); }),
              3);
    EXPECT_EQ(uploads().size(), 1u);
    EXPECT_EQ(matching(isCommit).size(), 1u);

    // Only cells that cannot be placed: refused, nothing sent.
    const std::size_t before = simulator.requestCount();
    Cells unplaced;
    unplaced.records = {noLdm, noTile, farLdm};
    QList<Macropixel*> none = unplaced.list();
    const ErrorType result = kestra->setMeshRGBs(none, 1.0f);
    EXPECT_EQ(result.kind, ErrorType::Fatal);
    EXPECT_FALSE(result.message.isEmpty());
    EXPECT_EQ(simulator.requestCount(), before);
    for (const Request& r : simulator.requests())
        EXPECT_EQ(r.target.find("/tile//"), std::string::npos) << r.target;
}

TEST_F(KestraMesh, AnEmptyListSendsNothingAndSucceeds)
{
    serveLayout(ProcessorSimulator::layout(ProcessorSimulator::Layout::Wall));
    const std::size_t before = simulator.requestCount();
    QList<Macropixel*> none;
    EXPECT_TRUE(kestra->setMeshRGBs(none, 1.0f).ok());
    EXPECT_TRUE(kestra->commitMeshRGBs(none).ok());
    EXPECT_EQ(simulator.requestCount(), before);
}

// The servers a 400-tile wall must get through: a strict standard one (a nonce per connection,
// counts checked per nonce, no more connections than the driver keeps), and one that closes every
// kept connection between two requests.
struct ServerCase
{
    const char* name;
    bool strict;
    ProcessorSimulator::KeepAlive keepAlive;
};

void PrintTo(const ServerCase& c, std::ostream* os)
{
    *os << c.name;
}

class KestraMeshServer : public KestraMesh, public ::testing::WithParamInterface<ServerCase>
{
};

TEST_P(KestraMeshServer, AWallOf400TilesIsUploadedAndCommittedWhole)
{
    constexpr unsigned kTiles = 400;
    const ServerCase& param = GetParam();
    ProcessorSimulator::Digest digest;
    digest.strict = param.strict;
    simulator.requireDigest(digest);
    simulator.setKeepAlive(param.keepAlive);
    simulator.setConnectionLimit(Kestra::kProcessorLanes);

    const ErrorType result = resetWall(kTiles);
    ASSERT_TRUE(result.ok()) << result.message.toStdString();
    expectWholeWallCommitted(kTiles);

    const ProcessorSimulator::Connections connections = simulator.connections();
    EXPECT_EQ(connections.refused, 0u);
    EXPECT_LE(connections.peak, Kestra::kProcessorLanes);
    if (param.keepAlive == ProcessorSimulator::KeepAlive::On) {
        EXPECT_LE(connections.accepted, Kestra::kProcessorLanes);
    }
    // Without keep-alive every request takes a connection of its own, and only one.
    if (param.keepAlive == ProcessorSimulator::KeepAlive::Dropped) {
        EXPECT_EQ(connections.accepted, simulator.requestCount());
    }
}

INSTANTIATE_TEST_SUITE_P(
    , KestraMeshServer,
    ::testing::Values(ServerCase{"StrictKeptAlive", true, ProcessorSimulator::KeepAlive::On},
                      ServerCase{"ClosingBetweenRequests", false, ProcessorSimulator::KeepAlive::Dropped}),
    [](const auto& info) { return std::string(info.param.name); });

// A server that ends each kept connection with "408 Request Timeout" soon after its last reply:
// lanes wait between a tile's state polls, so requests cross the 408 again and again. Each such
// request goes once more on a new connection (the server never acted on it), and the wall goes
// through whole. Without a connection limit: a limit would count a dropped connection until the
// server has seen it close, which is not what this shows.
TEST_F(KestraMesh, AWallGoesThroughAServerThatEndsIdleConnectionsWith408)
{
    constexpr unsigned kTiles = 400;
    constexpr auto kServersIdleLimit = 5ms;
    simulator.setIdleEnd(ProcessorSimulator::IdleEnd::Timeout408, kServersIdleLimit);

    const ErrorType result = resetWall(kTiles);
    ASSERT_TRUE(result.ok()) << result.message.toStdString();
    expectWholeWallCommitted(kTiles);
    EXPECT_GT(simulator.idleEnds(), 0u) << "no connection was ever ended idle";
}

// A server that works on one request at a time: every exchange that waits for a connection waits
// outside its time limit, so a wall far larger than the limit allows at once still goes through.
TEST_F(KestraMesh, ASlowServerTakesTheWholeWallWithinEachExchangesLimit)
{
    constexpr unsigned kTiles = 50;
    constexpr auto kPerRequest = 8ms;
    kestra->setExchangeTimeLimit(250ms);
    simulator.setRoute("GET", ProcessorSimulator::kLayoutTarget,
                       Reply::json(ProcessorSimulator::meshTiles(kTiles, 40, 20, 2, 1)));
    ASSERT_TRUE(kestra->fetchOutputConfig().ok());
    simulator.setSlow(kPerRequest);

    const ErrorType result = kestra->resetMesh();
    ASSERT_TRUE(result.ok()) << result.message.toStdString();
    expectWholeWallCommitted(kTiles);
}

// A commit the processor refuses: the text names the tile, what failed and how many tiles were
// committed before it; the processor's page goes to the log, on one line and shortened.
TEST_F(KestraMesh, ARefusedCommitNamesTheTileAndTheTilesCommittedBeforeIt)
{
    constexpr unsigned kTiles = 4;
    std::string page = "<!DOCTYPE html>\n<html>\n<head><title>500 Internal Server Error</title></head>\n<body>\n";
    for (int line = 0; line < 10; ++line)
        page += "<p>The calibration store is full; free some space and try again.</p>\n";
    page += "</body>\n</html>\n";
    Reply refused = Reply::text(page, 500);
    refused.contentType = "text/html";
    simulator.setRoute("POST", "/api/v1/tile/" + ProcessorSimulator::tileName(3) + "/calSave?type=user", refused);

    MessageCapture log;
    const ErrorType result = resetWall(kTiles);
    EXPECT_EQ(result.kind, ErrorType::Retryable);
    EXPECT_EQ(result.message.toStdString(), "commitMeshRGBs: tile " + ProcessorSimulator::tileName(3)
                                                + ", http status 500; 2 tiles were committed before it");
    EXPECT_TRUE(log.messages().contains(result.message));

    const QStringList pages = log.messages().filter(QStringLiteral("The calibration store is full"));
    ASSERT_EQ(pages.size(), 1);
    EXPECT_FALSE(pages.front().contains(QLatin1Char('\n')));
    EXPECT_LT(pages.front().size(), 300);
    EXPECT_TRUE(pages.front().contains(QString::fromStdString(ProcessorSimulator::tileName(3))));

    // The tile after it was not asked.
    EXPECT_EQ(matching(isCommit).size(), 3u);
}

// The whole wall through Debian's lighttpd, which authenticates every request and keeps each
// connection for a hundred requests before it closes it, and passes the requests on to the
// simulated processor.
TEST_F(KestraMesh, AWallGoesThroughAStandardServerThatKeepsConnectionsAlive)
{
    if (Lighttpd::program().isEmpty())
        GTEST_SKIP() << "lighttpd is not installed (scripts/setup installs it)";
    constexpr unsigned kTiles = 400;
    Lighttpd server;
    const QString failure = server.start(Lighttpd::program(), {simulator.port(), 100});
    ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();
    simulator.allowAnonymous(); // lighttpd checks the logins
    kestra->setUsername(QString::fromLatin1(Lighttpd::kUser));
    kestra->setPassword(QString::fromLatin1(Lighttpd::kPassword));
    kestra->setAddress(QStringLiteral("127.0.0.1:%1").arg(server.port()));

    const ErrorType result = resetWall(kTiles);
    ASSERT_TRUE(result.ok()) << result.message.toStdString() << "\n" << server.log().toStdString();
    expectWholeWallCommitted(kTiles);
    EXPECT_FALSE(server.log().contains("wrong password")) << server.log().toStdString();
}
