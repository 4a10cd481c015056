#pragma once

#include <QImage>
#include <QObject>

class TileGrader;

// What the interface shows of the tile grader, kept on the GUI thread. The grader lives on the
// grabber's thread, where QML may not bind to it; the relay hears its changes through queued
// calls and holds copies of the values the interface binds to.
class TileGraderRelay : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool hasMeshLocations READ hasMeshLocations NOTIFY hasMeshLocationsChanged)
    Q_PROPERTY(bool hasScreenImage READ hasScreenImage NOTIFY screenImageUpdated)
    Q_PROPERTY(QImage screenImage READ screenImage NOTIFY screenImageUpdated)
public:
    explicit TileGraderRelay(QObject* parent = nullptr);

    // Follows the grader from now on. Call before the grader's thread starts; the relay must
    // outlive that thread (the controller joins it before the relay goes).
    void follow(TileGrader& grader);

    bool hasMeshLocations() const { return m_hasMeshLocations; }
    bool hasScreenImage() const { return !m_screenImage.isNull(); }
    QImage screenImage() const { return m_screenImage; }

public slots:
    void setHasMeshLocations(bool hasMeshLocations);
    void setScreenImage(const QImage& image);

signals:
    void hasMeshLocationsChanged();
    void screenImageUpdated();

private:
    bool m_hasMeshLocations = false;
    QImage m_screenImage;
};
