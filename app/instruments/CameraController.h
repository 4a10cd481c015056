#pragma once

#include "instruments/ImageSource.h"

// The real camera as the rest of the program sees it: an image source that drives a camera
// through the maker's remote SDK on a worker thread of its own.
//
// This build carries no camera driver yet. The object keeps the image-source interface so that
// the controller can own it and switch to it, but every request that needs a camera reports
// the missing driver as a fatal camera error instead of pretending to succeed: the camera is
// never ready, a grab delivers no image and an exposure change changes nothing.
class CameraController : public ImageSource
{
    Q_OBJECT
public:
    static const QString NoDriverMessage;

    explicit CameraController(QObject* parent = nullptr);

public slots:
    void connect() override;
    void reconnect() override;
    void grab() override;
    int changeExposure(int clicks) override;

private:
    void reportNoDriver();
};
