#pragma once

#include "shell/LogModel.h"

#include <boost/asio/io_context.hpp>

#include <QObject>

// The central controller that the QML interface reaches as "velotrimmer": it owns every device
// object, persists the operator's settings and runs one activity at a time.
class Velotrimmer : public QObject
{
    Q_OBJECT
    Q_PROPERTY(LogModel* appLog READ appLog CONSTANT)
    Q_PROPERTY(LogModel* linearityLog READ linearityLog CONSTANT)
public:
    Velotrimmer(boost::asio::io_context& ioContext, QObject* parent = nullptr);
    ~Velotrimmer() override;

    LogModel* appLog() const { return m_appLog; }
    LogModel* linearityLog() { return &m_linearityLog; }

public slots:
    // Connected to the application's aboutToQuit. Ends everything that could still use the I/O
    // context or the devices: pending display work is cancelled and worker threads are joined,
    // so that start-up can drain and release the context afterwards. Safe to call twice.
    void aboutToQuit();

private:
    boost::asio::io_context& m_ioContext;
    LogModel* m_appLog = nullptr;
    LogModel m_linearityLog;
    bool m_shutDown = false;
};
