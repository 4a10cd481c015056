#pragma once

#include "engine/LensCompensation.h"

#include <opencv2/core.hpp>

#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>
#include <vector>

// Turns a camera photo of the wall into numbers the engine can grade: loads the photo (a colour
// image file or a raw camera file, with or without a dark frame to subtract), brings it to a
// common 8-bit gamma-encoded form, corrects lens fall-off, finds the wall as the largest bright
// region, warps it to an upright screen image, and averages that over a grid of sections and
// subsections (or over windows centred on mesh locations found in it). Each stage publishes a
// preview image.
//
// It lives inside the background grabber, on the grabber's thread, and has no lock: its setters
// are slots so that the controller reaches it through queued calls, and the controller's direct
// calls (findMeshLocations, the mesh locations, the linear gain boost) must not overlap a load or
// an averaging pass.
class TileGrader : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool hasScreenContour READ hasScreenContour NOTIFY hasScreenContourChanged)
    Q_PROPERTY(bool reuseScreenContour READ reuseScreenContour WRITE setReuseScreenContour NOTIFY reuseScreenContourChanged)
    Q_PROPERTY(bool hasMeshLocations READ hasMeshLocations NOTIFY hasMeshLocationsChanged)
public:
    // Raw demosaicing values the raw developer knows, and the highlight modes below this limit.
    static constexpr uint BilinearInterpolation = 0;
    static constexpr uint HighlightModeLimit = 10;
    static constexpr uint RebuildFavoringWhite = 3;
    // The wall is usable only as a quadrilateral.
    static constexpr size_t ScreenCorners = 4;

    explicit TileGrader(QObject* parent = nullptr);
    ~TileGrader() override;

    using Contour = std::vector<cv::Point>;
    using Locations = std::vector<cv::Point2f>;

    bool hasScreenContour() const;
    bool reuseScreenContour() const { return m_reuseScreenContour; }
    bool hasMeshLocations() const { return m_meshLocations.has_value(); }

    const std::optional<Contour>& screenContour() const { return m_screenContour; }
    const std::optional<cv::Mat>& meshLocations() const { return m_meshLocations; }
    // Replaces (or, with no value, drops) the mesh locations; the caller announces the change.
    // The averages are not made stale by this: the next recomputation uses the new locations.
    void setMeshLocations(std::optional<cv::Mat> locations) { m_meshLocations = std::move(locations); }
    const cv::Mat& screenImage() const { return m_screenImage; }

    bool profiling() const { return m_profiling; }
    uint linearGainBoost() const { return m_linearGainBoost; }
    float gainTweak() const { return m_gain; }
    QString lensFile() const { return m_lens.lensFile(); }
    bool usingRawImages() const { return m_useRaw; }
    uint rawInterpolation() const { return m_rawInterpolation; }
    uint highlightRecovery() const { return m_highlights; }

    // Loads a photo (and a dark frame to subtract, unless darkPath is empty), corrects it and
    // extracts the wall; false, logged, when it cannot. A path ending in "ARW" is developed as raw.
    bool loadOriginal(QString imagePath, QString darkPath);
    // The simplified outline of the largest bright region of a BGR image, or no value.
    std::optional<Contour> findLargestContour(cv::Mat image);
    // The quadrilateral warped to an upright image of its bounding rectangle's size.
    cv::Mat extractScreen(cv::Mat image, Contour contour) const;
    // The green average of the central tenth of a 16-bit BGR image (0 when that is empty); logs
    // all three averages under the name.
    qint64 centerExposure(cv::Mat3w image, QString name) const;

    // The centres of the lit cells of a screen image as a grid of (x, y) points, rows from the
    // top and points from the left, or no value when they cannot be put in a grid.
    std::optional<cv::Mat> findMeshLocations(cv::Mat image);
    // The locations next to point: at most count of the nearest (ignoring point itself), keeping
    // those whose squared distance is below factor times the smallest squared distance.
    static Locations nearestNeighbors(const Locations& locations, cv::Point2f point, int count, float factor);

    // One average matrix per section, section row by section row, each of subsection rows and
    // columns of three floats (blue, green, red); recomputed first when stale. The list and the
    // matrices belong to the grader and stay valid until the next recomputation.
    QList<cv::Mat*>* sectionAverages();
    // The averages of a 32-bit float BGR image, sampled on the grid of sections and subsections
    // (each at least 1) or, when the mesh locations match that resolution, around them.
    std::vector<cv::Mat> computeSectionAverages(cv::Mat image, cv::Size sections, cv::Size subsections);

public slots:
    void setReuseScreenContour(bool reuseScreenContour);
    void setSections(int width, int height);
    void setSectionsW(int sections);
    void setSectionsH(int sections);
    void setSubsections(int width, int height);
    void setAspectRatio(float aspectRatio);
    void setProfiling(bool profiling);
    void setLensFile(QString newLensFile);
    // Tone conversions, channel by channel through a lookup table. The converting ones write into
    // the caller's dest, which must be of the named type and at least the source's size; any
    // other is refused, logged. The tweaks change the caller's pixels in place.
    void sLog3To16bitLinear(cv::Mat src, cv::Mat dest);   // 8-bit S-Log3 BGR into 16-bit linear
    void linearTo8BitGamma(cv::Mat3w src, cv::Mat dest);  // 16-bit linear into 8-bit gamma BGR
    void gammaTweak(cv::Mat3w src, float gamma);
    void gainTweak(cv::Mat3w src, float gain);            // saturates to 0..65535
    void useLogImages(bool useLog);
    // An 8-bit BGR preview of a matrix of one, three or four channels (null for any other).
    QImage makeImage(cv::Mat mat) const;
    void useRawImages(bool useRaw);
    void setRawInterpolation(uint interpolation);
    void setHighlightRecovery(uint highlights);
    void setGammaTweak(float gamma);
    void setGainTweak(float gain);
    void setLinearGainBoost(uint boost);

signals:
    void hasScreenContourChanged();
    void reuseScreenContourChanged();
    void hasMeshLocationsChanged();
    void sectionsUpdated();
    void subsectionsUpdated();
    void aspectRatioUpdated();
    void contouredImageUpdated(QImage newContouredImage);
    void screenImageUpdated(QImage newScreenImage);
    void locationsImageUpdated(QImage locationsImage);
    void sampledImageUpdated(QImage sampledImage);
    void imageProcessed(bool successful);
    void averagesUpdated(cv::Mat averagesArray);

private:
    // A photo or dark frame read by the rule of the current load: developed when raw, else 8-bit BGR.
    cv::Mat readImage(const QString& path) const;
    bool subtractDark(const QString& darkPath);
    // The external contours of the bright regions of a BGR image (Otsu threshold), every boundary
    // point kept; caller names the operation in the log.
    static std::vector<Contour> brightContours(const cv::Mat& image, const char* caller);
    // The mesh of one row of locations from the top, taken out of locations; no value, logged,
    // when its cells cannot be followed from left to right.
    static std::optional<Locations> takeTopRow(Locations& locations, int imageWidth);
    void setAverages(std::vector<cv::Mat> averages);
    // extractScreen into screen, whose pixels are reused when they fit.
    void extractScreenInto(const cv::Mat& image, const Contour& contour, cv::Mat& screen) const;
    // An 8-bit preview converted into a new image, on which the caller may draw.
    static cv::Mat viewOf(QImage& image);

    cv::Mat m_photo;         // as read or developed: 8-bit BGR, dark frame subtracted
    cv::Mat m_originalImage; // the photo in 32-bit float BGR (0..255), lens-corrected
    cv::Mat m_darkImage;
    cv::Mat m_rawLight;
    cv::Mat m_rawDark;
    std::optional<Contour> m_screenContour;
    bool m_reuseScreenContour = false;
    cv::Mat m_screenImage;
    std::optional<cv::Mat> m_meshLocations;
    int m_sectionsWide = 0;
    int m_sectionsHigh = 0;
    int m_subsectionsWide = 0;
    int m_subsectionsHigh = 0;
    std::vector<cv::Mat> m_averages;    // owns the matrices that m_sectionAverages points to
    QList<cv::Mat*> m_sectionAverages;
    bool m_sectionsDirty = false;
    float m_aspectRatio = 2.0f;
    bool m_profiling = false;
    QElapsedTimer m_timer;
    LensCompensation m_lens;
    bool m_useLog = false;
    bool m_useRaw = false;
    uint m_linearGainBoost = 1;
    uint m_rawInterpolation = BilinearInterpolation;
    uint m_highlights = 0;
    float m_gamma = 1.0f;
    float m_gain = 1.0f;
};

Q_DECLARE_METATYPE(cv::Mat)
