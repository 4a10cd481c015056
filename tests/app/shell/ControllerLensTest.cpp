// The lens compensation images as shipped, and the lens lists the controller builds from them for
// the connected camera.
#include "support/ControllerFixture.h"

#include "engine/LensCompensation.h"
#include "instruments/Option.h"
#include "shell/SettingKeys.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

const QString Folder = QStringLiteral(":src/lenscomp");

QStringList shippedImages()
{
    return QDir(Folder).entryList({QStringLiteral("*.jpg")}, QDir::Files);
}

cv::Mat decoded(const QString& name)
{
    QFile file(Folder + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return cv::imdecode(cv::Mat(1, int(bytes.size()), CV_8U, const_cast<char*>(bytes.data())), cv::IMREAD_COLOR);
}

// Options of a list but its leading "none", as (name, type) pairs.
QList<std::pair<QString, QString>> entries(const OptionList& list)
{
    QList<std::pair<QString, QString>> found;
    for (qsizetype i = 1; i < list.count(); ++i)
        found.append({list.at(i)->name(), list.at(i)->type()});
    return found;
}

TEST(LensImages, ThirtyFourFallOffMapsOfTwoBodiesAndTwoLenses)
{
    const QStringList names = shippedImages();
    ASSERT_EQ(names.size(), 34);
    int large = 0;
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(name.startsWith(QLatin1String("ILCE-7C_FE_4^024-")) || name.startsWith(QLatin1String("ILCE-7SM3_FE_4^024-")));
        const cv::Mat image = decoded(name);
        ASSERT_FALSE(image.empty());
        const bool marked = name.endsWith(QLatin1String("_[1200x800].jpg"));
        large += marked;
        EXPECT_EQ(image.size(), marked ? cv::Size(1200, 800) : cv::Size(180, 120));
        cv::Mat grey;
        cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
        double darkest = 0.0;
        cv::minMaxLoc(grey, &darkest);
        EXPECT_GT(darkest, 0.0);
        const int centre = grey.at<uchar>(grey.rows / 2, grey.cols / 2);
        EXPECT_GE(centre, 250);
        for (const cv::Point corner : {cv::Point(0, 0), cv::Point(grey.cols - 1, 0), cv::Point(0, grey.rows - 1),
                                       cv::Point(grey.cols - 1, grey.rows - 1)})
            EXPECT_LT(grey.at<uchar>(corner), centre - 20);
    }
    EXPECT_EQ(large, 2);
}

// A shipped image applied to a photo of a flat white field taken through its own fall-off gives
// the flat field back.
TEST(LensImages, CompensationDividesTheFallOffOut)
{
    const QString name = QStringLiteral("ILCE-7SM3_FE_4^024-105_@024.jpg");
    cv::Mat photo;
    decoded(name).convertTo(photo, CV_32FC3);
    ASSERT_FALSE(photo.empty());
    LensCompensation(Folder + QLatin1Char('/') + name).apply(photo);
    double low = 0.0;
    double high = 0.0;
    cv::minMaxLoc(photo.reshape(1), &low, &high);
    EXPECT_NEAR(low, 255.0, 0.5);
    EXPECT_NEAR(high, 255.0, 0.5);
}

using ControllerLens = ControllerFixture;

// The connected camera's lens names, and for the stored lens its focal lengths and ranges.
struct LensCase
{
    const char* name;
    const char* camera;
    const char* lens;
    const char* lensShown;
    const char* file;
    const char* label;
    int files; // of that body and lens
};

void PrintTo(const LensCase& test, std::ostream* os)
{
    *os << test.name;
}

class LensLists : public ControllerFixture, public ::testing::WithParamInterface<LensCase>
{
};

TEST_P(LensLists, OfferTheCamerasLensesAndTheStoredLensFocalLengths)
{
    const LensCase& test = GetParam();
    const QString path = Folder + QLatin1Char('/') + QString::fromUtf8(test.file);
    QSettings settings;
    settings.setValue(Key::LensName, QString::fromUtf8(test.lens));
    settings.setValue(Key::LensFile, path);
    Velotrimmer& velotrimmer = build();
    ASSERT_EQ(velotrimmer.lensNameList()->count(), 1); // no camera yet: only "none"

    velotrimmer.setCameraName(QString::fromUtf8(test.camera));

    const auto lenses = entries(*velotrimmer.lensNameList());
    ASSERT_EQ(lenses.size(), 2);
    EXPECT_TRUE(lenses.contains({QStringLiteral("FE 4/24-70"), QStringLiteral("FE_4^024-070")}));
    EXPECT_TRUE(lenses.contains({QStringLiteral("FE 4/24-105"), QStringLiteral("FE_4^024-105")}));
    EXPECT_TRUE(lenses.contains({QString::fromUtf8(test.lensShown), QString::fromUtf8(test.lens)}));
    EXPECT_EQ(velotrimmer.lensName(), QString::fromUtf8(test.lens));

    const auto files = entries(*velotrimmer.lensFileList());
    EXPECT_EQ(files.size(), test.files);
    for (const auto& [label, type] : files)
        EXPECT_TRUE(type.startsWith(Folder + QStringLiteral("/%1_%2_@").arg(QString::fromUtf8(test.camera), QString::fromUtf8(test.lens))))
            << type.toStdString();
    EXPECT_TRUE(files.contains({QString::fromUtf8(test.label), path})) << test.label;
    EXPECT_EQ(velotrimmer.lensFile(), path);
}

INSTANTIATE_TEST_SUITE_P(
    ShippedImages, LensLists,
    ::testing::Values(
        LensCase{"FocalRange", "ILCE-7C", "FE_4^024-105", "FE 4/24-105", "ILCE-7C_FE_4^024-105_@050~70.jpg", "@50~70mm", 8},
        LensCase{"BracketedSize", "ILCE-7C", "FE_4^024-070", "FE 4/24-70", "ILCE-7C_FE_4^024-070_@035_[1200x800].jpg",
                 "@35mm [1200x800]", 9},
        LensCase{"FocalLength", "ILCE-7SM3", "FE_4^024-070", "FE 4/24-70", "ILCE-7SM3_FE_4^024-070_@024.jpg", "@24mm", 8},
        LensCase{"NoLeadingZero", "ILCE-7SM3", "FE_4^024-105", "FE 4/24-105", "ILCE-7SM3_FE_4^024-105_@105.jpg", "@105mm",
                 9}),
    [](const ::testing::TestParamInfo<LensCase>& info) { return std::string(info.param.name); });

TEST_F(ControllerLens, AStoredLensFileNoLongerListedIsDropped)
{
    QSettings settings;
    settings.setValue(Key::LensName, QStringLiteral("FE_4^024-070"));
    settings.setValue(Key::LensFile, Folder + QStringLiteral("/ILCE-7C_FE_4^024-070_@999.jpg"));
    Velotrimmer& velotrimmer = build();

    velotrimmer.setCameraName(QStringLiteral("ILCE-7C"));

    EXPECT_EQ(velotrimmer.lensName(), QStringLiteral("FE_4^024-070"));
    EXPECT_EQ(velotrimmer.lensFileList()->count(), 1 + 9);
    EXPECT_TRUE(velotrimmer.lensFile().isEmpty());
}

// When the camera goes, the emptied lists are announced, and the options on show until then stay
// readable while the announcement is heard; the stored choice waits for the next camera.
TEST_F(ControllerLens, NoCameraStillAnnouncesTheEmptiedListsBeforeReleasingTheOptions)
{
    const QString path = Folder + QStringLiteral("/ILCE-7C_FE_4^024-070_@050.jpg");
    QSettings settings;
    settings.setValue(Key::LensName, QStringLiteral("FE_4^024-070"));
    settings.setValue(Key::LensFile, path);
    Velotrimmer& velotrimmer = build();
    velotrimmer.setCameraName(QStringLiteral("ILCE-7C"));
    ASSERT_GT(velotrimmer.lensFileList()->count(), 1);
    const QPointer<Option> shownLens = velotrimmer.lensNameList()->at(1);
    const QPointer<Option> shownFile = velotrimmer.lensFileList()->at(1);

    QSignalSpy names(&velotrimmer, &Velotrimmer::lensNameListChanged);
    QSignalSpy files(&velotrimmer, &Velotrimmer::lensFileListChanged);
    int heardWhileAlive = 0;
    const auto hear = [&] { heardWhileAlive += !shownLens.isNull() && !shownFile.isNull(); };
    QObject::connect(&velotrimmer, &Velotrimmer::lensNameListChanged, hear);
    QObject::connect(&velotrimmer, &Velotrimmer::lensFileListChanged, hear);

    velotrimmer.setCameraName(QString());

    EXPECT_EQ(names.count(), 1);
    EXPECT_EQ(files.count(), 1);
    EXPECT_EQ(heardWhileAlive, 2);
    EXPECT_TRUE(shownLens.isNull());
    EXPECT_TRUE(shownFile.isNull());
    EXPECT_EQ(velotrimmer.lensNameList()->count(), 1);
    EXPECT_EQ(velotrimmer.lensFileList()->count(), 1);
    EXPECT_EQ(velotrimmer.lensFile(), path);
    EXPECT_EQ(QSettings().value(Key::LensFile).toString(), path);
}

} // namespace
