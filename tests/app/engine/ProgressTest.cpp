#include "engine/Calibrator.h"
#include "engine/TimeRemaining.h"
#include "support/MessageCapture.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

struct PhraseCase
{
    qint64 elapsed;
    double fraction;
    const char* expected;
};

TEST(TimeRemainingTest, PhraseFollowsTheFractionDone)
{
    const PhraseCase cases[] = {
        {600, 0.02, ""},
        {600, 0.021, "; guessing maybe 7 hours 46 minutes remaining"},
        {600, 0.5, "; probably about 10 minutes remaining"},
        {3600, 0.2, "; guessing maybe 4 hours remaining"},
        {10, 0.9, "; less than 1 minute remaining"},
        {300, 0.3, "; something like 12 minutes remaining"},
        {3000, 0.75, "; about 17 minutes remaining"},
        {3630, 0.5, "; probably about 1 hour 1 minute remaining"},
        {-50, 0.5, "; less than 1 minute remaining"},
        {600, std::numeric_limits<double>::quiet_NaN(), ""},
    };
    for (const PhraseCase& phraseCase : cases) {
        EXPECT_EQ(TimeRemaining::phrase(phraseCase.elapsed, phraseCase.fraction), QString::fromUtf8(phraseCase.expected))
            << phraseCase.elapsed << " s at " << phraseCase.fraction;
    }
}

TEST(TimeRemainingTest, DurationNamesEveryNonZeroPart)
{
    EXPECT_EQ(TimeRemaining::duration(3661), QStringLiteral(" 1 hour 1 minute 1 second"));
    EXPECT_EQ(TimeRemaining::duration(65), QStringLiteral(" 1 minute 5 seconds"));
    EXPECT_EQ(TimeRemaining::duration(7200), QStringLiteral(" 2 hours"));
    EXPECT_EQ(TimeRemaining::duration(0), QString());
}

TEST(TimeRemainingTest, StatusPhraseUsesTheStartTime)
{
    const QDateTime start = QDateTime::currentDateTime().addSecs(-600);
    EXPECT_EQ(Calibrator::updateStatusTimeRemaining(start, 0.5), QStringLiteral("; probably about 10 minutes remaining"));
    EXPECT_EQ(Calibrator::updateStatusTimeRemaining(start, 0.01), QString());
}

TEST(TimeRemainingTest, DurationLineIsLoggedUnlessZero)
{
    MessageCapture log;
    Calibrator::formatTimeRemaining(QStringLiteral("Luminance level 100 nits took 3 iterations over"), 65);
    Calibrator::formatTimeRemaining(QStringLiteral("nothing"), 0);
    EXPECT_EQ(log.messages(), QStringList{QStringLiteral("Luminance level 100 nits took 3 iterations over 1 minute 5 seconds.")});
}

struct ProgressCase
{
    uint firstStep;
    uint stepsToRun;
    uint currentStep;
    uint iteration;
    double expected;
};

TEST(ProgressTest, RefreshTurnsThePositionIntoAFraction)
{
    const ProgressCase cases[] = {
        {0, 10, 1, 25, 0.05},
        {0, 10, 0, 25, 0.0},  // current equal to first: clamped at 0
        {3, 10, 2, 0, 1.0},   // current before first wraps to "all done"
        {0, 0, 1, 1, 1.0},    // an adjuster: an infinite quotient is all done
        {0, 0, 1, 0, 0.0},    // 0 / 0 is no number: 0, never NaN
        {0, 4, 5, 50, 1.0},
    };
    for (const ProgressCase& progressCase : cases) {
        Calibrator calibrator(Calibrator::ColorimeterMode, 0);
        calibrator.setRunPosition(progressCase.firstStep, progressCase.stepsToRun, progressCase.currentStep,
                                  progressCase.iteration);
        QSignalSpy changed(&calibrator, &Calibrator::progressChanged);
        calibrator.refreshProgress();
        ASSERT_EQ(changed.count(), 1);
        EXPECT_FALSE(std::isnan(calibrator.progress()));
        EXPECT_DOUBLE_EQ(calibrator.progress(), progressCase.expected)
            << progressCase.currentStep << " of " << progressCase.stepsToRun << ", iteration " << progressCase.iteration;
    }
}

} // namespace
