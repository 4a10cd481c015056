#pragma once

#include <opencv2/core.hpp>

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>
#include <vector>

// Turns a camera photo of the wall into numbers the engine can grade: loads the photo, finds the
// wall in it, and averages it over a grid of sections. It lives inside the background grabber,
// on the grabber's thread; its setters are slots so that the controller reaches it through
// queued calls.
//
// This build holds the grader's settings and state but cannot develop photos yet: loading a
// photo and finding mesh locations fail with a logged reason, and there are never averages.
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

    explicit TileGrader(QObject* parent = nullptr);
    ~TileGrader() override;

    using Contour = std::vector<cv::Point>;

    bool hasScreenContour() const;
    bool reuseScreenContour() const { return m_reuseScreenContour; }
    bool hasMeshLocations() const { return m_meshLocations.has_value(); }

    const std::optional<Contour>& screenContour() const { return m_screenContour; }
    const std::optional<cv::Mat>& meshLocations() const { return m_meshLocations; }
    // Replaces (or, with no value, drops) the mesh locations; the caller announces the change.
    void setMeshLocations(std::optional<cv::Mat> locations) { m_meshLocations = std::move(locations); }
    const cv::Mat& screenImage() const { return m_screenImage; }

    bool profiling() const { return m_profiling; }
    uint linearGainBoost() const { return m_linearGainBoost; }
    float gainTweak() const { return m_gain; }
    QString lensFile() const { return m_lensFile; }
    uint rawInterpolation() const { return m_rawInterpolation; }
    uint highlightRecovery() const { return m_highlights; }

    // Loads a photo (and a dark frame to subtract) and extracts the wall; false when it cannot.
    bool loadOriginal(QString imagePath, QString darkPath);
    // The cell centres found in an image, or no value when they cannot be found.
    std::optional<cv::Mat> findMeshLocations(cv::Mat image);
    // One average matrix per section; owned by the grader.
    QList<cv::Mat*>* sectionAverages() { return &m_sectionAverages; }

public slots:
    void setReuseScreenContour(bool reuseScreenContour);
    void setSections(int width, int height);
    void setSubsections(int width, int height);
    void setAspectRatio(float aspectRatio);
    void setProfiling(bool profiling);
    void setLensFile(QString newLensFile);
    void useLogImages(bool useLog);
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
    void imageProcessed(bool successful);
    void averagesUpdated(cv::Mat averagesArray);
    // The grader's view of the screen changed (the image the interface lays over the wall view).
    void screenImageUpdated(QImage image);

private:
    void clearAverages();

    std::optional<Contour> m_screenContour;
    bool m_reuseScreenContour = false;
    cv::Mat m_screenImage;
    std::optional<cv::Mat> m_meshLocations;
    int m_sectionsWide = 0;
    int m_sectionsHigh = 0;
    int m_subsectionsWide = 0;
    int m_subsectionsHigh = 0;
    QList<cv::Mat*> m_sectionAverages;
    bool m_sectionsDirty = false;
    float m_aspectRatio = 2.0f;
    bool m_profiling = false;
    QString m_lensFile;
    bool m_useLog = false;
    bool m_useRaw = false;
    uint m_linearGainBoost = 1;
    uint m_rawInterpolation = BilinearInterpolation;
    uint m_highlights = 0;
    float m_gamma = 1.0f;
    float m_gain = 1.0f;
};

Q_DECLARE_METATYPE(cv::Mat)
