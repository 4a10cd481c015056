#include "support/ProcessorWall.h"

#include "support/ProcessorSimulator.h"

#include "display/DisplayBase.h"
#include "formats/CorvaneCalFileHandler.h"
#include "formats/CorvaneCalFileMesh.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <optional>
#include <sstream>

namespace {

constexpr const char* TilePrefix = "/api/v1/tile/";
constexpr const char* MeshFileMarker = "/cal?raw&continuation=";
constexpr const char* CommitSuffix = "/calSave?type=user";
// A mesh sample is the gain plus one.
constexpr double SampleOffset = 1.0;

std::string placeKey(const std::string& tile, const std::string& ldm)
{
    return tile + '/' + ldm;
}

} // namespace

// Where the processor keeps each LDM: its number on the display by receiver and index, and the
// place its mesh starts.
struct ProcessorWall::Layout
{
    struct Ldm
    {
        double x = 0.0;
        double y = 0.0;
    };
    std::map<std::string, uint> numbers; // by placeKey(receiver, index)
    std::vector<Ldm> ldms;               // by display number - 1
};

struct ProcessorWall::State
{
    std::vector<Triple> gains;                                 // by display number - 1
    std::vector<std::optional<CorvaneCalFile::Mesh>> meshes;   // by display number - 1
    std::size_t meshUploads = 0;
    std::size_t gainUpdates = 0;
    std::size_t commits = 0;
};

ProcessorWall::ProcessorWall(ProcessorSimulator& simulator, DisplayBase& wall, bool keepLog)
    : m_simulator(simulator)
    , m_state(std::make_unique<State>())
{
    auto layout = std::make_unique<Layout>();
    for (uint number = 1; number <= wall.ldmCount(); ++number) {
        const Macropixel& ldm = wall.ldm(number);
        layout->numbers[placeKey(ldm.name.toStdString(), std::to_string(qint32(ldm.indexInTile)))] = number;
        layout->ldms.push_back({ldm.x, ldm.y});
    }
    m_state->gains.assign(layout->ldms.size(), Triple{0.0, 0.0, 0.0});
    m_state->meshes.resize(layout->ldms.size());
    m_layout = std::move(layout);
    m_simulator.watchRequests(
        [this](const ProcessorSimulator::Request& request) {
            if (request.authorized)
                take(request.method, request.target, request.body);
        },
        keepLog);
}

ProcessorWall::~ProcessorWall()
{
    m_simulator.watchRequests({});
}

ProcessorWall::Triple ProcessorWall::ldmGains(const Macropixel& ldm) const
{
    const auto found = m_layout->numbers.find(placeKey(ldm.name.toStdString(), std::to_string(qint32(ldm.indexInTile))));
    if (found == m_layout->numbers.end())
        return {0.0, 0.0, 0.0};
    std::lock_guard lock(m_mutex);
    return m_state->gains[found->second - 1];
}

ProcessorWall::Triple ProcessorWall::cellGains(const Macropixel& cell) const
{
    const uint number = cell.indexInTile;
    if (number < 1 || number > m_layout->ldms.size() || !(cell.width > 0.0f) || !(cell.height > 0.0f))
        return {0.0, 0.0, 0.0};
    const Layout::Ldm& ldm = m_layout->ldms[number - 1];
    // The mesh's grids have a border of one sample around the LDM's cells.
    const auto column = std::size_t(std::lround((cell.x - ldm.x) / cell.width) + 1);
    const auto row = std::size_t(std::lround((cell.y - ldm.y) / cell.height) + 1);
    std::lock_guard lock(m_mutex);
    const std::optional<CorvaneCalFile::Mesh>& mesh = m_state->meshes[number - 1];
    if (!mesh || mesh->grids.size() != 3)
        return m_state->gains[number - 1];
    Triple gains{};
    for (std::size_t c = 0; c < 3; ++c) {
        const auto& grid = mesh->grids[c];
        if (row >= grid.size() || column >= grid[row].size())
            return {0.0, 0.0, 0.0};
        gains[c] = double(grid[row][column]) - SampleOffset;
    }
    return gains;
}

std::size_t ProcessorWall::meshUploads() const
{
    std::lock_guard lock(m_mutex);
    return m_state->meshUploads;
}

std::size_t ProcessorWall::gainUpdates() const
{
    std::lock_guard lock(m_mutex);
    return m_state->gainUpdates;
}

std::size_t ProcessorWall::commits() const
{
    std::lock_guard lock(m_mutex);
    return m_state->commits;
}

void ProcessorWall::take(const std::string& method, const std::string& target, const std::string& body)
{
    if (method == "PATCH" && target == ProcessorSimulator::kDataTarget) {
        const QJsonObject receivers =
            QJsonDocument::fromJson(QByteArray::fromStdString(body)).object()[QStringLiteral("dev")][QStringLiteral("receivers")].toObject();
        std::lock_guard lock(m_mutex);
        ++m_state->gainUpdates;
        for (auto receiver = receivers.begin(); receiver != receivers.end(); ++receiver) {
            const QJsonObject ldms = receiver.value()[QStringLiteral("ldms")].toObject();
            for (auto ldm = ldms.begin(); ldm != ldms.end(); ++ldm) {
                const auto found = m_layout->numbers.find(placeKey(receiver.key().toStdString(), ldm.key().toStdString()));
                if (found == m_layout->numbers.end())
                    continue;
                const QJsonObject gains = ldm.value()[QStringLiteral("gains")].toObject();
                Triple& shown = m_state->gains[found->second - 1];
                shown = {gains.value(QStringLiteral("r")).toDouble(shown[0]), gains.value(QStringLiteral("g")).toDouble(shown[1]),
                         gains.value(QStringLiteral("b")).toDouble(shown[2])};
            }
        }
        return;
    }
    if (method != "POST" || !target.starts_with(TilePrefix))
        return;
    if (target.ends_with(CommitSuffix)) {
        std::lock_guard lock(m_mutex);
        ++m_state->commits;
        return;
    }
    const std::size_t marker = target.find(MeshFileMarker);
    if (marker == std::string::npos)
        return;
    // "/api/v1/tile/<receiver>/<index>/cal?raw..."
    const std::string place = target.substr(std::string(TilePrefix).size(), marker - std::string(TilePrefix).size());
    const std::size_t slash = place.rfind('/');
    if (slash == std::string::npos)
        return;
    const auto found = m_layout->numbers.find(placeKey(place.substr(0, slash), place.substr(slash + 1)));
    std::istringstream in(body);
    CorvaneCalFile::Mesh mesh = CorvaneCalFile::Handler().readStreamMesh(in);
    std::lock_guard lock(m_mutex);
    ++m_state->meshUploads;
    if (found != m_layout->numbers.end())
        m_state->meshes[found->second - 1] = std::move(mesh);
}
