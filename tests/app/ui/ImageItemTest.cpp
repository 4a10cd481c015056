#include "ui/ImageItem.h"

#include <QPainter>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

// Paints the item into a canvas filled with black and returns it.
QImage paintItem(ImageItem& item, QSize canvasSize)
{
    QImage canvas(canvasSize, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    QPainter painter(&canvas);
    item.paint(&painter);
    return canvas;
}

// The bounding box of the non-black pixels.
QRect litArea(const QImage& canvas)
{
    QRect area;
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            if (canvas.pixel(x, y) != qRgb(0, 0, 0))
                area |= QRect(x, y, 1, 1);
        }
    }
    return area;
}

QImage whiteImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

} // namespace

TEST(ImageItem, StretchesTheImageAroundTheCentre)
{
    ImageItem item;
    item.setSize(QSizeF(100, 50));
    item.setImage(whiteImage(40, 20));
    // Centre (50, 25) minus the integer centre (49, 24) of the 100 x 50 scaled image.
    EXPECT_EQ(litArea(paintItem(item, QSize(110, 60))), QRect(1, 1, 100, 50));

    item.setSize(QSizeF(99.7, 50));
    EXPECT_EQ(litArea(paintItem(item, QSize(110, 60))).width(), 99);
}

TEST(ImageItem, NullImagePaintsNothingAndClearIsSilent)
{
    ImageItem item;
    item.setSize(QSizeF(20, 20));
    EXPECT_TRUE(litArea(paintItem(item, QSize(20, 20))).isNull());

    QSignalSpy changed(&item, &ImageItem::imageChanged);
    item.setImage(whiteImage(4, 4));
    item.setImage(item.image()); // stored and announced even when equal
    EXPECT_EQ(changed.count(), 2);

    item.clear();
    EXPECT_TRUE(item.image().isNull());
    EXPECT_EQ(changed.count(), 2);
}
