#include "user_settings.h"

#include <QSettings>
#include <algorithm>

namespace pv2 {

UserSettings::UserSettings()
    : m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             QStringLiteral("Pulvano2"),
                                             QStringLiteral("Pulvano2"))) {}

UserSettings::UserSettings(const QString &iniPath)
    : m_settings(std::make_unique<QSettings>(iniPath, QSettings::IniFormat)) {}

UserSettings::~UserSettings() = default;

// Missing or unreadable gives the fallback; out of range is clamped.
int UserSettings::number(const char *key, int lo, int hi, int fallback) const {
    bool ok = false;
    const qlonglong v = m_settings->value(QLatin1String(key)).toLongLong(&ok);
    return ok ? int(std::clamp<qlonglong>(v, lo, hi)) : fallback;
}

void UserSettings::setNumber(const char *key, int value) {
    m_settings->setValue(QLatin1String(key), value);
    m_settings->sync();
}

int UserSettings::syncOffsetMs() const {
    return number(kSyncOffsetKey, -kSyncOffsetLimitMs, kSyncOffsetLimitMs, 0);
}

void UserSettings::setSyncOffsetMs(int ms) {
    setNumber(kSyncOffsetKey, clampSyncOffsetMs(ms));
}

int UserSettings::tickVolumePercent() const {
    return number(kTickVolumeKey, 0, 100, 100);
}

void UserSettings::setTickVolumePercent(int percent) {
    setNumber(kTickVolumeKey, std::clamp(percent, 0, 100));
}

int UserSettings::tickPair() const {
    return number(kTickPairKey, 0, 1000, 0);
}

void UserSettings::setTickPair(int index) {
    setNumber(kTickPairKey, std::max(0, index));
}

} // namespace pv2
