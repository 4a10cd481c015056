#pragma once

#include "display/Macropixel.h"

#include <opencv2/core.hpp>

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

class DisplayBase;
class FakeCamera;

// The scripted fake camera pointed at a wall: every photo shows the lit wall as it is at that
// moment, its lit extent seen in mild perspective in a dim room, every patch in its colour (BGR,
// 0 to 255) and the rest dark.
//
// Pointed at a display, the patches are its LDMs: each LDM that is on is drawn in the colour the
// test's colour function gives it, an LDM that is off stays dark. That scene is taken on the
// display's thread whenever its LDM data change (also when a grab's values are written back);
// the colour function is told how many photos were taken before, so that a test can script what
// successive photos show. Pointed at a live scene instead, the camera asks it for the patches at
// each shutter press, on the camera's own thread.
class WallCamera : public QObject
{
public:
    struct Patch
    {
        cv::Rect2d rect; // in wall pixels, from the lit extent's top-left corner
        cv::Scalar colour;
    };
    using Colour = std::function<cv::Scalar(const Macropixel& ldm, int shotsTaken)>;
    // Called on the camera's thread: it may touch only what is safe from there.
    using LiveScene = std::function<std::vector<Patch>()>;

    static constexpr int PhotoWidth = 960;
    static constexpr int PhotoHeight = 640;
    static constexpr int Ambient = 12;

    WallCamera(FakeCamera& fake, DisplayBase& display, Colour colour);
    // extent: the lit extent's width and height in wall pixels.
    WallCamera(FakeCamera& fake, cv::Size2d extent, LiveScene scene);
    ~WallCamera() override;

    WallCamera(const WallCamera&) = delete;
    WallCamera& operator=(const WallCamera&) = delete;

    // Takes the display's scene again (also after the colour function's inputs changed).
    void refresh();
    // Photos drawn so far.
    int shots() const;

private:
    struct Scene;

    FakeCamera& m_fake;
    DisplayBase* m_display = nullptr;
    Colour m_colour;
    std::shared_ptr<Scene> m_scene;
};
