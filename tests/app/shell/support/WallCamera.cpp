#include "support/WallCamera.h"

#include "display/DisplayBase.h"
#include "support/FakeCamera.h"
#include "support/TestPhotos.h"

#include <opencv2/imgproc.hpp>

#include <QImage>

#include <algorithm>
#include <mutex>

namespace {

// The drawn wall's longer side, in pixels, before the perspective.
constexpr double WallLongSide = 720.0;

} // namespace

struct WallCamera::Scene
{
    mutable std::mutex mutex;
    cv::Size2d extent;
    std::vector<Patch> patches;
    LiveScene live;
    int shots = 0;

    QImage draw()
    {
        cv::Size2d size;
        std::vector<Patch> drawn;
        LiveScene source;
        {
            const std::lock_guard lock(mutex);
            ++shots;
            size = extent;
            drawn = patches;
            source = live;
        }
        if (source)
            drawn = source();
        cv::Mat photo(PhotoHeight, PhotoWidth, CV_8UC3, cv::Scalar::all(Ambient));
        if (size.width > 0 && size.height > 0) {
            const double scale = WallLongSide / std::max(size.width, size.height);
            cv::Mat wall(std::max(1, int(size.height * scale)), std::max(1, int(size.width * scale)), CV_8UC3,
                         cv::Scalar::all(0));
            for (const Patch& patch : drawn) {
                const cv::Point topLeft(int(patch.rect.x * scale + 0.5), int(patch.rect.y * scale + 0.5));
                const cv::Point bottomRight(int((patch.rect.x + patch.rect.width) * scale + 0.5),
                                            int((patch.rect.y + patch.rect.height) * scale + 0.5));
                cv::rectangle(wall, cv::Rect(topLeft, bottomRight), patch.colour, cv::FILLED);
            }
            const cv::Size photoSize(PhotoWidth, PhotoHeight);
            photo = TestPhotos::photographWall(wall, photoSize, TestPhotos::mildPerspective(photoSize),
                                               cv::Scalar::all(Ambient));
        }
        return QImage(photo.data, photo.cols, photo.rows, int(photo.step), QImage::Format_BGR888).copy();
    }
};

WallCamera::WallCamera(FakeCamera& fake, DisplayBase& display, Colour colour)
    : m_fake(fake)
    , m_display(&display)
    , m_colour(std::move(colour))
    , m_scene(std::make_shared<Scene>())
{
    QObject::connect(&display, &DisplayBase::ldmDataChanged, this, &WallCamera::refresh);
    refresh();
    // The drawer holds the scene, not this object, so a photo being drawn outlives it safely.
    m_fake.setShotDrawer([scene = m_scene] { return scene->draw(); });
}

WallCamera::WallCamera(FakeCamera& fake, cv::Size2d extent, LiveScene scene)
    : m_fake(fake)
    , m_scene(std::make_shared<Scene>())
{
    m_scene->extent = extent;
    m_scene->live = std::move(scene);
    m_fake.setShotDrawer([scene = m_scene] { return scene->draw(); });
}

WallCamera::~WallCamera()
{
    m_fake.setShotDrawer({});
}

void WallCamera::refresh()
{
    if (!m_display)
        return;
    const DisplayBase& display = *m_display;
    const double minX = display.minLitLdmX();
    const double minY = display.minLitLdmY();
    const cv::Size2d extent(double(display.maxLitLdmX()) - minX, double(display.maxLitLdmY()) - minY);
    const int taken = shots();
    std::vector<Patch> patches;
    for (uint number = 1; number <= m_display->ldmCount(); ++number) {
        const Macropixel& ldm = m_display->ldm(number);
        if (!ldm.lit || !ldm.isOn())
            continue;
        patches.push_back({cv::Rect2d(ldm.x - minX, ldm.y - minY, ldm.width, ldm.height), m_colour(ldm, taken)});
    }
    const std::lock_guard lock(m_scene->mutex);
    m_scene->extent = extent.width > 0 && extent.height > 0 ? extent : cv::Size2d();
    m_scene->patches = std::move(patches);
}

int WallCamera::shots() const
{
    const std::lock_guard lock(m_scene->mutex);
    return m_scene->shots;
}
