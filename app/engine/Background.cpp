#include "engine/Background.h"

#include "instruments/ImageSource.h"

#include <QDebug>

#include <algorithm>

Background::Background(QObject* parent)
    : QObject(parent)
    , m_grader(this) // a child, so that it moves to the grabber's thread with it
{
    qRegisterMetaType<QList<cv::Mat*>*>();
}

void Background::setImageSource(ImageSource* imageSource)
{
    if (m_imageSource == imageSource)
        return;
    m_imageSource = imageSource;
    emit imageSourceChanged();
}

void Background::setRunning(bool running)
{
    if (m_running == running)
        return;
    m_running = running;
    emit runningChanged();
}

void Background::setArrayInfo(int ldmsWide, int ldmsHigh, float aspectRatio)
{
    m_grader.setSections(ldmsWide, ldmsHigh);
    m_grader.setAspectRatio(aspectRatio);
    emit setArrayInfoDone();
}

void Background::setSubarrayInfo(int columns, int rows)
{
    m_grader.setSubsections(columns, rows);
    emit setSubarrayInfoDone();
}

void Background::grabImageData(bool verbose)
{
    m_verbose = verbose;
    qWarning("Background::grabImageData(): image capture and processing are not available in this build");
    emit grabImageDataDone(false, nullptr);
}

void Background::removeReflections(bool remove)
{
    m_removeReflections = remove;
}

void Background::useLogImages(bool log)
{
    m_useLogImages = log;
}

void Background::setReadDelay(int msecs)
{
    m_readDelay = static_cast<uint>(std::max(msecs, 0)) + ReadDelayMarginMs;
}
