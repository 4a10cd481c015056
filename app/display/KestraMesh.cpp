// The processor driver's correction meshes: building one mesh per LDM from per-cell gains,
// uploading the files tile by tile, waiting for each tile to take them in, and committing them.

#include "display/Kestra.h"

#include "display/http/http_client_cancel_registration.h"
#include "formats/CorvaneCalFileHandler.h"
#include "formats/CorvaneCalFileMesh.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/multi_buffer.hpp>

#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <coroutine>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <utility>
#include <vector>

namespace {

namespace http = boost::beast::http;

constexpr const char* kMeshName = "Velotrim continuous";
// The mesh's placement window starts half a cell in, past the border.
constexpr float kWindowOrigin = 0.5f;
// A sample is the gain plus one, kept just below the writer's ceiling of two.
constexpr double kSampleOffset = 1.0;
constexpr double kSampleCeiling = 1.999;
// resetMesh puts every LDM back with a full-strength flat mesh.
constexpr float kFlatMeshFactor = 1.0f;
constexpr const char* kMeshContentType = "application/octet-stream";
constexpr const char* kBusy = "busy";
constexpr const char* kIdle = "idle";

using Cells = std::vector<const Macropixel*>;
// Keys ordered byte by byte: LDM "10" comes before "9".
using TileFiles = std::map<std::string, boost::beast::multi_buffer>;

float sampleOf(double gain)
{
    return float(std::min(gain + kSampleOffset, kSampleCeiling));
}

bool cellFinite(const Macropixel& cell)
{
    return std::isfinite(cell.redGain) && std::isfinite(cell.greenGain) && std::isfinite(cell.blueGain)
        && std::isfinite(cell.x) && std::isfinite(cell.y);
}

// The 1-based rank of each distinct value of one axis among the cells.
std::map<float, std::size_t> ranksOf(const Cells& cells, float Macropixel::*axis)
{
    std::set<float> values;
    for (const Macropixel* cell : cells)
        values.insert(cell->*axis);
    std::map<float, std::size_t> ranks;
    std::size_t rank = 0;
    for (float value : values)
        ranks.emplace(value, ++rank);
    return ranks;
}

// Where a cell sits in its LDM's grid of cells. The cells of an LDM form a grid of distinct x and
// y values; the cell's row and column are the ranks of its y and x among them. On a regular grid
// this is the cell's offset divided by the cell size; on a tile whose LDMs do not divide it
// evenly that division drifts by a whole cell, so the ranks are what is used.
class CellPlacement
{
public:
    CellPlacement(const Cells& cells, const Macropixel& ldm)
        : m_columns(ranksOf(cells, &Macropixel::x))
        , m_rows(ranksOf(cells, &Macropixel::y))
        , m_ldm(ldm)
        , m_cellWidth(ldm.width / float(m_columns.size()))
        , m_cellHeight(ldm.height / float(m_rows.size()))
    {
    }

    std::size_t columns() const { return m_columns.size(); }
    std::size_t rows() const { return m_rows.size(); }
    std::size_t column(const Macropixel& cell) const { return m_columns.at(cell.x); }
    std::size_t row(const Macropixel& cell) const { return m_rows.at(cell.y); }

    // True when the cell's offset from the LDM, in whole cells, names the same place.
    bool regular(const Macropixel& cell) const
    {
        const float column = std::round((cell.x - m_ldm.x) / m_cellWidth + 1.0f);
        const float row = std::round((cell.y - m_ldm.y) / m_cellHeight + 1.0f);
        return column == float(this->column(cell)) && row == float(this->row(cell));
    }

private:
    std::map<float, std::size_t> m_columns;
    std::map<float, std::size_t> m_rows;
    const Macropixel& m_ldm;
    float m_cellWidth;
    float m_cellHeight;
};

// One channel: the cells inside a border that repeats the outermost cells (each corner takes the
// nearest inner corner). Places no cell covers stay 0.
Vector2D<float> gridOf(const Cells& cells, const CellPlacement& placement, double Macropixel::*gain)
{
    const std::size_t nx = placement.columns();
    const std::size_t ny = placement.rows();
    Vector2D<float> grid(nx + 2, ny + 2, 0.0f);
    for (const Macropixel* cell : cells)
        grid[placement.row(*cell)][placement.column(*cell)] = sampleOf(cell->*gain);
    for (std::size_t row = 1; row <= ny; ++row) {
        grid[row][0] = grid[row][1];
        grid[row][nx + 1] = grid[row][nx];
    }
    grid[0] = grid[1];
    grid[ny + 1] = grid[ny];
    return grid;
}

// The file of one LDM's mesh, or nothing when the writer failed.
std::optional<std::string> meshFileOf(const Cells& cells, const CellPlacement& placement, float factor)
{
    CorvaneCalFile::Mesh mesh;
    mesh.name = kMeshName;
    for (double Macropixel::*gain : {&Macropixel::redGain, &Macropixel::greenGain, &Macropixel::blueGain})
        mesh.grids.push_back(gridOf(cells, placement, gain));
    mesh.windowX = kWindowOrigin;
    mesh.windowY = kWindowOrigin;
    mesh.windowWidth = float(placement.columns());
    mesh.windowHeight = float(placement.rows());
    mesh.factor = factor;

    std::ostringstream out(std::ios::out | std::ios::binary);
    CorvaneCalFile::Handler().writeStream(mesh, out);
    std::string bytes = out.str();
    if (out.fail() || bytes.empty())
        return std::nullopt;
    return bytes;
}

void fill(boost::beast::multi_buffer& buffer, const std::string& bytes)
{
    buffer.commit(boost::asio::buffer_copy(buffer.prepare(bytes.size()), boost::asio::buffer(bytes)));
}

bool accepted(unsigned status)
{
    return status == 200 || status == 204;
}

// Sleeps on the I/O context; cancel_all on the client ends the sleep at once.
class TimerWait
{
public:
    explicit TimerWait(boost::asio::steady_timer& timer)
        : m_timer(timer)
    {
    }
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        m_timer.async_wait([slot = m_result, handle](const boost::system::error_code& error) {
            *slot = error;
            handle.resume();
        });
    }
    boost::system::error_code await_resume() const { return *m_result; }

private:
    boost::asio::steady_timer& m_timer;
    std::shared_ptr<boost::system::error_code> m_result = std::make_shared<boost::system::error_code>();
};

// Suspends until the I/O context runs the coroutine again: the wait handles the events that came
// meanwhile first once its turn in the I/O context is over.
class NextTurn
{
public:
    explicit NextTurn(boost::asio::io_context& ioContext)
        : m_ioContext(ioContext)
    {
    }
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        boost::asio::post(m_ioContext, [handle] { handle.resume(); });
    }
    void await_resume() const noexcept {}

private:
    boost::asio::io_context& m_ioContext;
};

// How long building the mesh files keeps the thread before handing it back.
constexpr std::chrono::milliseconds kBuildSlice = IoEventLoop::kDrainBudget;
// Cells grouped between two looks at the clock.
constexpr qsizetype kCellsPerClockCheck = 4096;

QCoro::Task<boost::system::error_code> sleepFor(http_client::context& http, std::chrono::milliseconds duration)
{
    boost::asio::steady_timer timer(http.ioc, duration);
    http_client::cancel_registration registration(http, [&timer] { timer.cancel(); });
    boost::system::error_code error = co_await TimerWait(timer);
    if (!error && registration.cancelled())
        error = boost::asio::error::operation_aborted;
    co_return error;
}

QString textOf(const std::string& text)
{
    return QString::fromStdString(text);
}

// The longest part of a refusing server's body that goes to the log: enough for its message,
// not a whole error page.
constexpr qsizetype kBodyExcerptLength = 160;

// Logs the body of a reply the processor refused, on one line, shortened.
void logRefusal(const char* step, const std::string& tile, const http_client::string_response& reply)
{
    QString body = QString::fromUtf8(reply.body().data(), qsizetype(reply.body().size())).simplified();
    if (body.isEmpty())
        return;
    if (body.size() > kBodyExcerptLength)
        body = body.left(kBodyExcerptLength) + QStringLiteral("...");
    qWarning("%s: tile %s, the processor answered %u: %s", step, tile.c_str(), reply.result_int(), qUtf8Printable(body));
}

QString committedBefore(std::size_t committed)
{
    if (committed == 0)
        return QStringLiteral("no tile was committed before it");
    if (committed == 1)
        return QStringLiteral("1 tile was committed before it");
    return QStringLiteral("%1 tiles were committed before it").arg(committed);
}

} // namespace

struct Kestra::MeshUpload
{
    http_client::lane_pool& lanes;
    std::string host;
    http_client::endpoints endpoints;
    TileStateTiming timing;
    // By tile name, byte-wise ordered.
    std::map<std::string, TileFiles> tiles;
};

ErrorType Kestra::setMeshRGBs_(QList<Macropixel*>& ldms, float scale)
{
    if (address().isEmpty())
        return ErrorType::failure(ErrorType::Fatal, tr("No network address"));
    // A gain that is not a number would be written as 0: a black patch on the wall.
    if (std::any_of(ldms.cbegin(), ldms.cend(), [](const Macropixel* cell) { return cell && !cellFinite(*cell); })) {
        qWarning("Kestra::setMeshRGBs: refused a mesh cell that is not made of finite numbers");
        return nonFiniteRefusal();
    }
    if (const ErrorType unready = readyToSend(); !unready.ok())
        return unready;

    MeshUpload upload{m_lanes, m_host, m_endpoints, m_tileStateTiming, {}};
    const ErrorType built = m_loop.waitFor(buildMeshFiles(ldms, scale, upload));
    if (!built.ok())
        return built;

    const UploadResult errors = m_loop.waitFor(uploadAllTiles(upload));
    if (errors) {
        qCritical("Kestra::setMeshRGBs: update finished, errors: %s", qUtf8Printable(*errors));
        return ErrorType::failure(ErrorType::Fatal, *errors);
    }
    qDebug("Kestra::setMeshRGBs: update finished, no errors");
    return {};
}

QCoro::Task<ErrorType> Kestra::buildMeshFiles(const QList<Macropixel*>& cells, float factor, MeshUpload& upload)
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point sliceEnd = Clock::now() + kBuildSlice;
    // True once the slice is over; the caller then awaits the next turn.
    const auto sliceOver = [&sliceEnd] {
        const Clock::time_point now = Clock::now();
        if (now < sliceEnd)
            return false;
        sliceEnd = now + kBuildSlice;
        return true;
    };

    // By tile number, then containing LDM number; the cells of each in list order.
    std::map<std::pair<quint32, quint32>, Cells> groups;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        if (const Macropixel* cell = cells.at(i))
            groups[{cell->tileNumber, cell->indexInTile}].push_back(cell);
        if ((i + 1) % kCellsPerClockCheck == 0 && sliceOver())
            co_await NextTurn(m_loop.ioContext());
    }
    qDebug("setMeshRGBs: %ld LDMs", long(groups.size()));

    for (const auto& [key, group] : groups) {
        if (sliceOver())
            co_await NextTurn(m_loop.ioContext());
        const auto [tileNumber, ldmNumber] = key;
        const bool known = tileNumber >= 1 && tileNumber <= quint32(tileList().size()) && ldmNumber >= 1
            && ldmNumber <= quint32(ldmList().size()) && !tile(tileNumber).name.isEmpty();
        if (!known) {
            qWarning("setMeshRGBs: %zu cells name tile %u and LDM %u, which the wall does not have; skipped",
                     group.size(), tileNumber, ldmNumber);
            continue;
        }
        const Tile& tileRecord = tile(tileNumber);
        const Macropixel& ldmRecord = ldm(ldmNumber);
        const CellPlacement placement(group, ldmRecord);
        if (!std::all_of(group.cbegin(), group.cend(),
                         [&placement](const Macropixel* cell) { return placement.regular(*cell); }))
            qWarning("setMeshRGBs: the cells of tile %s, LDM %u do not lie on a regular grid of the LDM; "
                     "placed by the order of their positions",
                     qUtf8Printable(tileRecord.name), ldmNumber);

        const std::string ldmIndex = std::to_string(qint32(ldmRecord.indexInTile));
        const std::optional<std::string> file = meshFileOf(group, placement, factor);
        if (!file)
            co_return ErrorType::failure(ErrorType::Fatal, tr("Could not write the mesh of tile %1, LDM %2")
                                                               .arg(tileRecord.name, textOf(ldmIndex)));
        TileFiles& files = upload.tiles[tileRecord.name.toStdString()];
        files.erase(ldmIndex); // a later group for the same LDM replaces the earlier file
        fill(files[ldmIndex], *file);
    }

    if (upload.tiles.empty() && !groups.empty())
        co_return ErrorType::failure(ErrorType::Fatal,
                                     tr("None of the mesh cells lies in a tile and LDM of the wall; nothing was sent"));
    co_return ErrorType{};
}

QCoro::Task<Kestra::UploadResult> Kestra::uploadAllTiles(MeshUpload& upload)
{
    // Every tile starts at once; their exchanges take the processor's connections in turn, in
    // the order they are asked for, and interleave on this thread.
    std::vector<QCoro::Task<UploadResult>> tasks;
    tasks.reserve(upload.tiles.size());
    for (const auto& entry : upload.tiles)
        tasks.push_back(UploadLdms(upload, entry.first));

    QStringList errors;
    for (auto& task : tasks) {
        if (const UploadResult error = co_await task)
            errors << *error;
    }
    if (errors.isEmpty())
        co_return std::nullopt;
    co_return errors.join(QLatin1Char('\n'));
}

QCoro::Task<Kestra::UploadResult> Kestra::UploadLdms(MeshUpload& upload, std::string tile)
{
    TileFiles& files = upload.tiles.at(tile);
    for (auto it = files.begin(); it != files.end(); ++it) {
        const bool last = std::next(it) == files.end();
        std::string target =
            "/api/v1/tile/" + tile + "/" + it->first + "/cal?raw&continuation=" + (last ? "false" : "true");
        boost::beast::multi_buffer& file = it->second;
        const auto reply = co_await upload.lanes.digest_request(upload.endpoints, upload.host, http::verb::post,
                                                                std::move(target), kMeshContentType, file.size(), file);
        QString error;
        if (!reply.has_value()) {
            error = QStringLiteral("UploadLdms: tile %1, ldm %2, network error %3")
                        .arg(textOf(tile), textOf(it->first), textOf(reply.error().message()));
        } else if (!accepted(reply.value().result_int())) {
            logRefusal("UploadLdms", tile, reply.value());
            error = QStringLiteral("UploadLdms: tile %1, ldm %2, http status %3")
                        .arg(textOf(tile), textOf(it->first), QString::number(reply.value().result_int()));
        }
        if (!error.isEmpty()) {
            qCritical("%s", qUtf8Printable(error));
            co_return error;
        }
    }

    for (const char* state : {kBusy, kIdle}) {
        if (const UploadResult error = co_await waitForTileState(upload, tile, state)) {
            qCritical("%s", qUtf8Printable(*error));
            co_return error;
        }
    }
    co_return std::nullopt;
}

QCoro::Task<Kestra::UploadResult> Kestra::waitForTileState(MeshUpload& upload, std::string tile, std::string wanted)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    std::optional<Clock::time_point> idleSince;
    const std::string target = "/api/v1/tile/" + tile + "/calBusy";

    for (;;) {
        const auto reply = co_await upload.lanes.digest_request(upload.endpoints, upload.host, http::verb::get, target,
                                                                std::string(), 0, std::string());
        if (!reply.has_value())
            co_return QStringLiteral("UploadLdms: tile %1, network error %2")
                .arg(textOf(tile), textOf(reply.error().message()));
        if (!accepted(reply.value().result_int())) {
            logRefusal("UploadLdms", tile, reply.value());
            co_return QStringLiteral("UploadLdms: tile %1, http status %2")
                .arg(textOf(tile), QString::number(reply.value().result_int()));
        }
        // Compared byte for byte: "busy\n" is not "busy".
        const std::string& state = reply.value().body();
        if (state == wanted)
            co_return std::nullopt;

        const Clock::time_point now = Clock::now();
        // A tile can go through its busy phase between two polls; one that stays idle for the
        // grace period has done so, and then the wait for "idle" ends at its first poll.
        if (wanted == kBusy && state == kIdle) {
            if (!idleSince)
                idleSince = now;
            if (now - *idleSince >= upload.timing.idleGrace) {
                qDebug("UploadLdms: tile %s stayed idle; its busy phase fell between two polls", tile.c_str());
                co_return std::nullopt;
            }
        } else {
            idleSince.reset();
        }
        if (now - start >= upload.timing.limit)
            co_return QStringLiteral("UploadLdms: tile %1, timed out waiting for %2").arg(textOf(tile), textOf(wanted));

        const boost::system::error_code slept = co_await sleepFor(upload.lanes.client(), upload.timing.pollInterval);
        if (slept)
            co_return QStringLiteral("UploadLdms: tile %1, network error %2").arg(textOf(tile), textOf(slept.message()));
    }
}

ErrorType Kestra::commitMeshRGBs_(QList<Macropixel*>& ldms)
{
    std::set<QString> names;
    for (const Macropixel* cell : std::as_const(ldms)) {
        if (!cell)
            continue;
        const quint32 number = cell->tileNumber;
        if (number >= 1 && number <= quint32(tileList().size()) && !tile(number).name.isEmpty())
            names.insert(tile(number).name);
        else
            qWarning("commitMeshRGBs: tile %u is not on the wall; not committed", number);
    }

    if (!names.empty()) {
        if (const ErrorType unready = readyToSend(); !unready.ok()) {
            qCritical("commitMeshRGBs: tile %s, network error %s", qUtf8Printable(*names.begin()),
                      qUtf8Printable(unready.message));
            return unready;
        }
        const ErrorType result = m_loop.waitFor(commitTiles({names.begin(), names.end()}));
        if (!result.ok())
            return result;
    }
    qDebug("commitMeshRGBs finished!");
    return {};
}

QCoro::Task<ErrorType> Kestra::commitTiles(std::vector<QString> names)
{
    const std::string host = m_host;
    const http_client::endpoints resolved = m_endpoints;
    std::size_t committed = 0;
    for (const QString& name : names) {
        const std::string tile = name.toStdString();
        const auto reply = co_await m_lanes.digest_request(resolved, host, http::verb::post,
                                                           "/api/v1/tile/" + tile + "/calSave?type=user",
                                                           kJsonContentType, 0, std::string());
        QString failure;
        if (!reply.has_value()) {
            failure = QStringLiteral("network error %1").arg(textOf(reply.error().message()));
        } else if (!accepted(reply.value().result_int())) {
            logRefusal("commitMeshRGBs", tile, reply.value());
            failure = QStringLiteral("http status %1").arg(reply.value().result_int());
        }
        if (!failure.isEmpty()) {
            // The tiles before it keep what they saved: the text says how many they are.
            const QString message =
                QStringLiteral("commitMeshRGBs: tile %1, %2; %3").arg(name, failure, committedBefore(committed));
            qCritical("%s", qUtf8Printable(message));
            co_return ErrorType::failure(ErrorType::Retryable, message);
        }
        ++committed;
    }
    co_return ErrorType();
}

ErrorType Kestra::resetMesh()
{
    // One cell per LDM, naming the LDM by its number on the wall: a flat mesh of its own gains.
    std::vector<Macropixel> copies(ldmList().cbegin(), ldmList().cend());
    QList<Macropixel*> cells;
    cells.reserve(qsizetype(copies.size()));
    for (Macropixel& copy : copies) {
        copy.indexInTile = copy.number;
        cells.append(&copy);
    }
    ErrorType result = setMeshRGBs(cells, kFlatMeshFactor);
    if (result.ok())
        result = commitMeshRGBs(cells);
    return result;
}
