#include "KestraFixture.h"

#include "support/TestSettings.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QTimer>

KestraFixture::KestraFixture()
{
    TestSettings::clearSettings();
    pump.start();
    simulator.requireDigest();
    simulator.acceptUpdates();
    kestra = std::make_unique<Kestra>(io);
}

KestraFixture::~KestraFixture()
{
    kestra.reset();
}

void KestraFixture::connectToSimulator()
{
    kestra->setUsername(QString::fromLatin1(kUser));
    kestra->setPassword(QString::fromLatin1(kPassword));
    kestra->setAddress(QString::fromStdString(simulator.address()));
}

std::vector<QJsonObject> KestraFixture::patches() const
{
    std::vector<QJsonObject> documents;
    for (const std::string& body : simulator.bodies("PATCH", ProcessorSimulator::kDataTarget))
        documents.push_back(parseObject(body));
    return documents;
}

QJsonObject KestraFixture::lastPatch() const
{
    const auto all = patches();
    return all.empty() ? QJsonObject() : all.back();
}

std::size_t KestraFixture::patchCount() const
{
    return simulator.bodies("PATCH", ProcessorSimulator::kDataTarget).size();
}

void KestraFixture::recoverFromQuit()
{
    // exec() clears the quit state at its start and at its end.
    QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

QJsonObject parseObject(const std::string& json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << json;
    return document.object();
}
