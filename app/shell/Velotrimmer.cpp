#include "shell/Velotrimmer.h"

#include <QDebug>

Velotrimmer::Velotrimmer(boost::asio::io_context& ioContext, QObject* parent)
    : QObject(parent)
    , m_ioContext(ioContext)
    , m_appLog(LogModel::appLog())
{
}

Velotrimmer::~Velotrimmer()
{
    qDebug("~Velotrimmer()");
    aboutToQuit();
}

void Velotrimmer::aboutToQuit()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
}
