#pragma once

#include "display/Macropixel.h"

#include <opencv2/core.hpp>

#include <QObject>

#include <functional>
#include <memory>

class DisplayBase;
class FakeCamera;

// The scripted fake camera pointed at a display's wall: every photo shows the lit LDMs as the
// display shows them at that moment. Each LDM that is on is drawn as a patch in the colour the
// test's colour function gives it (BGR, 0 to 255), an LDM that is off stays dark; the lit extent
// is seen in mild perspective in a dim room. The scene is taken on the display's thread whenever
// its LDM data change (also when a grab's values are written back) and drawn on the camera's own
// thread at the shutter press. The colour function is told how many photos were taken before
// the scene, so that a test can script what successive photos show.
class WallCamera : public QObject
{
public:
    using Colour = std::function<cv::Scalar(const Macropixel& ldm, int shotsTaken)>;

    static constexpr int PhotoWidth = 960;
    static constexpr int PhotoHeight = 640;
    static constexpr int Ambient = 12;

    WallCamera(FakeCamera& fake, DisplayBase& display, Colour colour);
    ~WallCamera() override;

    WallCamera(const WallCamera&) = delete;
    WallCamera& operator=(const WallCamera&) = delete;

    // Takes the scene again (also after the colour function's inputs changed).
    void refresh();
    // Photos drawn so far.
    int shots() const;

private:
    struct Scene;

    FakeCamera& m_fake;
    DisplayBase& m_display;
    Colour m_colour;
    std::shared_ptr<Scene> m_scene;
};
