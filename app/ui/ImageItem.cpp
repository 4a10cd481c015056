#include "ui/ImageItem.h"

#include <QPainter>

ImageItem::ImageItem(QQuickItem* parent)
    : QQuickPaintedItem(parent)
{
}

QImage ImageItem::image() const
{
    return m_image;
}

void ImageItem::setImage(QImage image)
{
    m_image = std::move(image);
    update();
    emit imageChanged();
}

void ImageItem::clear()
{
    if (!m_image.isNull())
        m_image = QImage();
}

void ImageItem::paint(QPainter* painter)
{
    if (m_image.isNull())
        return;
    const QRectF bounds = boundingRect();
    const QImage scaled = m_image.scaled(int(bounds.width()), int(bounds.height()), Qt::IgnoreAspectRatio,
                                         Qt::FastTransformation);
    const QPoint imageCentre = scaled.rect().center();
    QPointF position = bounds.center() - QPointF(imageCentre);
    position.setX(qMax(0.0, position.x()));
    position.setY(qMax(0.0, position.y()));
    painter->drawImage(position, scaled);
}
