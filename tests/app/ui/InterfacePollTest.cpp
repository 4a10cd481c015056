// The periodic poll reads the wall again; the main window's wall view must keep showing what was
// measured on it, not turn black.
#include "support/InterfaceFixture.h"

#include "display/DisplayBase.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class InterfacePoll : public InterfaceFixture
{
};

} // namespace

TEST_F(InterfacePoll, TheImagesViewStillShowsTheMeasuredColoursAfterAPoll)
{
    loadBench();
    enterMode(Velotrimmer::Balance);
    click(item(QStringLiteral("showImages")));
    DisplayBase* display = controller().display();
    constexpr uint number = 1;
    display->setLdmRGBObserved(number, 10, 200, 30); // what the camera saw of it
    emit display->ldmDataChanged();
    // The middle of the LDM, where the view draws its fill.
    const Macropixel& ldm = display->ldm(number);
    QQuickItem* grid = item(QStringLiteral("wallGrid"));
    const double zoom = grid->property("zoom").toDouble();
    const QPointF middle((ldm.x + ldm.width / 2 - display->minX()) * zoom, (ldm.y + ldm.height / 2 - display->minY()) * zoom);
    const QPointF inScene = grid->mapToScene(middle);
    const auto expectMeasured = [&](const char* when) {
        const QColor shown = renderedAt(window(), inScene);
        EXPECT_LE(std::abs(shown.red() - 10), 1) << when << ": " << shown.name().toStdString();
        EXPECT_LE(std::abs(shown.green() - 200), 1) << when << ": " << shown.name().toStdString();
        EXPECT_LE(std::abs(shown.blue() - 30), 1) << when << ": " << shown.name().toStdString();
    };
    expectMeasured("before the poll");

    controller().pollDevices(); // answered before it returns: the simulated display
    ASSERT_TRUE(waitForFrame());

    expectMeasured("after the poll");
    expectNoWarnings();
}
