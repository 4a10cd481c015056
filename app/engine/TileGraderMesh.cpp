// Finding the lit cells of a screen image and ordering them into a grid.
#include "engine/TileGrader.h"

#include <opencv2/imgproc.hpp>

#include <QDebug>

#include <algorithm>

namespace {

// The first contours found are taken on trust; after them a contour must be of a size with those
// accepted so far.
constexpr int TrustedContours = 10;
constexpr double SmallestArea = 0.65;
constexpr double LargestArea = 1.5;
const cv::Scalar MarkerColour(255, 0, 0);
constexpr int MarkerRadius = 5;
constexpr int MarkerThickness = 2;
// A row is followed from each cell to one of its two nearest, preferring the one toward the row's end.
constexpr int RowNeighbours = 2;
constexpr float NeighbourFactor = 1.5f;

float squaredDistance(cv::Point2f a, cv::Point2f b)
{
    const cv::Point2f d = a - b;
    return d.x * d.x + d.y * d.y;
}

// The index of the location nearest to point; the first wins a tie. locations is not empty.
size_t nearestTo(const TileGrader::Locations& locations, cv::Point2f point)
{
    size_t nearest = 0;
    for (size_t i = 1; i < locations.size(); ++i) {
        if (squaredDistance(locations[i], point) < squaredDistance(locations[nearest], point))
            nearest = i;
    }
    return nearest;
}

void logLocation(const char* format, cv::Point2f point)
{
    qDebug(format, double(point.x), double(point.y));
}

} // namespace

std::optional<cv::Mat> TileGrader::findMeshLocations(cv::Mat image)
{
    const std::vector<Contour> contours = brightContours(image, "findMeshLocations");
    QImage marked = makeImage(image);
    cv::Mat markedView = viewOf(marked);

    Locations locations;
    int numbered = 0;
    double acceptedArea = 0.0;
    for (const Contour& contour : contours) {
        const cv::Moments moments = cv::moments(contour);
        const double area = moments.m00;
        if (!(area > 0.0)) // a speck or a line has no centre
            continue;
        const cv::Point2f centre(float(moments.m10 / area), float(moments.m01 / area));
        if (numbered++ >= TrustedContours) {
            const double average = acceptedArea / double(locations.size());
            if (area < SmallestArea * average || area > LargestArea * average) {
                qDebug("findMeshLocations: rejecting contour at (%g, %g), area %g, avg area %g", double(centre.x),
                       double(centre.y), area, average);
                continue;
            }
        }
        locations.push_back(centre);
        acceptedArea += area;
        if (!markedView.empty())
            cv::circle(markedView, cv::Point(cvRound(centre.x), cvRound(centre.y)), MarkerRadius, MarkerColour,
                       MarkerThickness, cv::LINE_8);
    }
    qDebug("findMeshLocations: found %d locations", int(locations.size()));
    emit locationsImageUpdated(marked);
    if (locations.empty()) {
        qWarning("findMeshLocations: no cells found in the %d x %d image", image.cols, image.rows);
        return std::nullopt;
    }

    std::vector<Locations> rows;
    while (!locations.empty()) {
        std::optional<Locations> row = takeTopRow(locations, image.cols);
        if (!row)
            return std::nullopt;
        if (!rows.empty() && rows.front().size() != row->size()) {
            qWarning("findMeshLocations: inconsistent width! grid is %d wide, row %d is %d wide",
                     int(rows.front().size()), int(rows.size()), int(row->size()));
            return std::nullopt;
        }
        rows.push_back(std::move(*row));
    }

    cv::Mat mesh(int(rows.size()), int(rows.front().size()), CV_32FC2);
    for (int r = 0; r < mesh.rows; ++r) {
        for (int c = 0; c < mesh.cols; ++c)
            mesh.at<cv::Vec2f>(r, c) = cv::Vec2f(rows[size_t(r)][size_t(c)].x, rows[size_t(r)][size_t(c)].y);
    }
    return mesh;
}

std::optional<TileGrader::Locations> TileGrader::takeTopRow(Locations& locations, int imageWidth)
{
    const cv::Point2f start = locations[nearestTo(locations, cv::Point2f(0, 0))];
    const cv::Point2f end = locations[nearestTo(locations, cv::Point2f(float(imageWidth), 0))];

    // Every step takes one location out, so the walk ends.
    Locations row;
    cv::Point2f current = start;
    while (current != end) {
        logLocation("findMeshLocations: location (%g,%g)", current);
        row.push_back(current);
        locations.erase(std::find(locations.begin(), locations.end(), current));
        const Locations neighbours = nearestNeighbors(locations, current, RowNeighbours, NeighbourFactor);
        if (neighbours.empty()) {
            logLocation("findMeshLocations: (%g,%g) has no neighbors!", current);
            return std::nullopt;
        }
        if (neighbours.size() != size_t(RowNeighbours))
            qDebug("findMeshLocations: (%g,%g) has %d neighbors:", double(current.x), double(current.y),
                   int(neighbours.size()));
        const size_t next = nearestTo(neighbours, end);
        if (!(squaredDistance(neighbours[next], end) >= 0.0f)) {
            logLocation("findMeshLocations: (%g,%g) has no neighbor nearest the top right!", current);
            return std::nullopt;
        }
        current = neighbours[next];
    }
    logLocation("findMeshLocations: location (%g,%g)", end);
    row.push_back(end);
    locations.erase(std::find(locations.begin(), locations.end(), end));
    return row;
}

TileGrader::Locations TileGrader::nearestNeighbors(const Locations& locations, cv::Point2f point, int count,
                                                   float factor)
{
    struct Candidate
    {
        float distance;
        cv::Point2f location;
    };
    std::vector<Candidate> candidates;
    if (count <= 0)
        return {};
    const auto nearer = [](const Candidate& a, const Candidate& b) { return a.distance < b.distance; };
    for (const cv::Point2f& location : locations) {
        const float distance = squaredDistance(location, point);
        if (distance == 0.0f)
            continue;
        if (candidates.size() < size_t(count)) {
            candidates.push_back({distance, location});
            std::stable_sort(candidates.begin(), candidates.end(), nearer);
            continue;
        }
        const auto further = std::find_if(candidates.begin(), candidates.end(),
                                          [distance](const Candidate& c) { return c.distance > distance; });
        if (further != candidates.end()) {
            candidates.insert(further, {distance, location});
            candidates.pop_back();
        }
    }

    // The factor applies to squared distances.
    const float threshold = candidates.empty() ? 0.0f : factor * candidates.front().distance;
    Locations result;
    for (const Candidate& candidate : candidates) {
        if (threshold == 0.0f || candidate.distance < threshold)
            result.push_back(candidate.location);
    }
    return result;
}
