#pragma once

#include <QImage>
#include <QQuickPaintedItem>

// A Qt Quick item that paints one image stretched to the item's size.
class ImageItem : public QQuickPaintedItem
{
    Q_OBJECT
    Q_PROPERTY(QImage image READ image WRITE setImage NOTIFY imageChanged)
public:
    explicit ImageItem(QQuickItem* parent = nullptr);

    QImage image() const;
    void paint(QPainter* painter) override;

signals:
    void imageChanged();

public slots:
    // Drops the image without repainting: the item shows nothing from its next repaint on.
    void clear();

public:
    Q_INVOKABLE void setImage(QImage image);

private:
    QImage m_image;
};
