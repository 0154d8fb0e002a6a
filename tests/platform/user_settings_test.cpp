#include "platform/user_settings.h"

#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace pv2;

TEST(UserSettings, OffsetRoundTripsClampedAndUnreadableIsZero) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("user.ini"));
    EXPECT_EQ(UserSettings(path).syncOffsetMs(), 0) << "no file yet";

    const std::pair<int, int> written[] = {{120, 120}, {-37, -37},    {250, 250},
                                           {251, 250}, {-1000, -250}, {0, 0}};
    for (auto [in, out] : written) {
        UserSettings(path).setSyncOffsetMs(in);
        EXPECT_EQ(UserSettings(path).syncOffsetMs(), out) << in;
    }
    // Edited by hand or by another version.
    const std::pair<const char *, int> raw[] = {
        {"abc", 0}, {"", 0}, {"12.7", 0}, {"999", 250}, {"-99999999999", -250}, {"-40", -40}};
    for (auto [text, out] : raw) {
        QSettings(path, QSettings::IniFormat)
            .setValue(QLatin1String(UserSettings::kSyncOffsetKey), QString::fromLatin1(text));
        EXPECT_EQ(UserSettings(path).syncOffsetMs(), out) << text;
    }

    // The ticks' volume and pair: defaults when missing, clamped when out of range.
    EXPECT_EQ(UserSettings(path).tickVolumePercent(), 100);
    EXPECT_EQ(UserSettings(path).tickPair(), 0);
    UserSettings(path).setTickVolumePercent(140);
    UserSettings(path).setTickPair(3);
    EXPECT_EQ(UserSettings(path).tickVolumePercent(), 100);
    EXPECT_EQ(UserSettings(path).tickPair(), 3);
    UserSettings(path).setTickVolumePercent(-5);
    EXPECT_EQ(UserSettings(path).tickVolumePercent(), 0);

#ifndef Q_OS_WIN // elsewhere the desktop's place is a file that setPath can move
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    UserSettings().setSyncOffsetMs(-64);
    EXPECT_EQ(QSettings(QStringLiteral("Pulvano2"), QStringLiteral("Pulvano2"))
                  .value(QLatin1String(UserSettings::kSyncOffsetKey))
                  .toInt(),
              -64);
    EXPECT_EQ(UserSettings().syncOffsetMs(), -64);
#endif
}
