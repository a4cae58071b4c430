#include <gtest/gtest.h>

#include <QDBusMessage>
#include <climits>

#include "app/progress_display.h"
#include "app/taskbar_progress.h"

namespace {

constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;

struct TextCase {
    const char* name;
    QLocale locale;
    double percent;
    const char* percentText;
    double milliseconds;
    const char* timeText;
};

void PrintTo(const TextCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const TextCase kTextCases[] = {
    {"third", QLocale::c(), 100.0 / 3, "33.33 %", 90500, "00:01:30"},
    {"complete", QLocale::c(), 100.0, "100.00 %", 25 * 3600 * 1000.0, "01:00:00"},
    {"above_hundred_no_grouping", QLocale::c(), 1234.5, "1234.50 %", 86399999, "23:59:59"},
    {"german_comma", QLocale(QLocale::German, QLocale::Germany), 12.345, "12,35 %", 3723000, "01:02:03"},
    {"finnish_dot_time", QLocale(QLocale::Finnish, QLocale::Finland), 0.0, "0,00 %", 3723000, "01.02.03"},
};

class LocaleTexts : public ::testing::TestWithParam<TextCase> {};

TEST_P(LocaleTexts, UseTheUsersSeparators)
{
    const TextCase& textCase = GetParam();
    EXPECT_EQ(LocalePercentText(textCase.percent, textCase.locale).toStdString(), textCase.percentText);
    EXPECT_EQ(LocaleTimeText(textCase.milliseconds, textCase.locale).toStdString(), textCase.timeText);
}

INSTANTIATE_TEST_SUITE_P(Cases, LocaleTexts, ::testing::ValuesIn(kTextCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

struct BarCase {
    const char* name;
    double position, maximum;
    TBarFigures expected;
};

void PrintTo(const BarCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const BarCase kBarCases[] = {
    {"small_exact", 317, 1000, {1000, 317}},
    {"just_below_int_max", 1e9, static_cast<double>(INT_MAX), {INT_MAX, 1000000000}},
    {"five_gib_half", 2.5 * kGiB, 5 * kGiB, {kBarScale, kBarScale / 2}},
    {"five_gib_done", 5 * kGiB, 5 * kGiB, {kBarScale, kBarScale}},
    {"beyond_maximum_clamped", 7 * kGiB, 5 * kGiB, {kBarScale, kBarScale}},
    {"beyond_small_maximum_clamped", 1500, 1000, {1000, 1000}},
    {"no_length_nothing_yet", 0, 0, {1, 0}},
    {"no_length_bytes_arriving", 4096, 0, {0, 0}},
    {"negative_position", -5, 100, {100, 0}},
};

class BarScaling : public ::testing::TestWithParam<BarCase> {};

TEST_P(BarScaling, FitsIntRangesAndKeepsTheShare)
{
    EXPECT_EQ(ScaleForBar(GetParam().position, GetParam().maximum), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, BarScaling, ::testing::ValuesIn(kBarCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST(StallWatch, FiresOnlyAfterMoreThanThreeMinutesOfUnchangedNonZeroProgress)
{
    TStallWatch watch;
    EXPECT_FALSE(watch.Check(500, 1000));
    EXPECT_FALSE(watch.Check(500, 1000 + 180000));
    EXPECT_TRUE(watch.Check(500, 1000 + 180001));
    EXPECT_FALSE(watch.Check(501, 1000 + 180002));  // moved: watched afresh

    TStallWatch idle;  // progress that stays at 0 never stalls
    EXPECT_FALSE(idle.Check(0, 1000));
    EXPECT_FALSE(idle.Check(0, 900000));
}

TEST(StallWatch, SurvivesTheTickWrap)
{
    TStallWatch watch;
    const std::uint32_t beforeWrap = UINT32_MAX - 1000;
    EXPECT_FALSE(watch.Check(7, beforeWrap));
    EXPECT_FALSE(watch.Check(7, beforeWrap + 180000u));  // wrapped past 0
    EXPECT_TRUE(watch.Check(7, beforeWrap + 180001u));
}

TEST(TaskbarProgress, ReportsTheShareOfFiguresBeyondFourGiB)
{
    TTaskbarProgress taskbar;
    taskbar.SetProgressMaxValue(static_cast<std::uint64_t>(5 * kGiB));
    taskbar.SetProgressValue(static_cast<std::uint64_t>(2.5 * kGiB));
    taskbar.SetProgressState(TTaskBarProgressState::Normal);
    EXPECT_DOUBLE_EQ(taskbar.Fraction(), 0.5);

    const QDBusMessage message = taskbar.UpdateMessage();
    EXPECT_EQ(message.type(), QDBusMessage::SignalMessage);
    EXPECT_EQ(message.interface(), "com.canonical.Unity.LauncherEntry");
    EXPECT_EQ(message.member(), "Update");
    EXPECT_TRUE(message.path().startsWith("/com/canonical/unity/launcherentry/"));
    ASSERT_EQ(message.arguments().size(), 2);
    EXPECT_EQ(message.arguments()[0].toString(), "application://downloader.desktop");
    const QVariantMap properties = message.arguments()[1].toMap();
    EXPECT_DOUBLE_EQ(properties["progress"].toDouble(), 0.5);
    EXPECT_TRUE(properties["progress-visible"].toBool());
    EXPECT_FALSE(properties["urgent"].toBool());
}

TEST(TaskbarProgress, StatesMapToHiddenShownAndUrgent)
{
    TTaskbarProgress taskbar;
    taskbar.SetProgressState(TTaskBarProgressState::None);
    EXPECT_FALSE(taskbar.LauncherProperties()["progress-visible"].toBool());
    taskbar.SetProgressState(TTaskBarProgressState::Error);
    EXPECT_TRUE(taskbar.LauncherProperties()["progress-visible"].toBool());
    EXPECT_TRUE(taskbar.LauncherProperties()["urgent"].toBool());
    taskbar.SetProgressMaxValue(0);
    EXPECT_EQ(taskbar.Fraction(), 0.0);  // no division by zero
}

}  // namespace
