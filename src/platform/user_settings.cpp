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

int UserSettings::syncOffsetMs() const {
    bool ok = false;
    const qlonglong v = m_settings->value(QLatin1String(kSyncOffsetKey)).toLongLong(&ok);
    if (!ok)
        return 0;
    const qlonglong limit = kSyncOffsetLimitMs;
    return int(std::clamp(v, -limit, limit));
}

void UserSettings::setSyncOffsetMs(int ms) {
    m_settings->setValue(QLatin1String(kSyncOffsetKey), clampSyncOffsetMs(ms));
    m_settings->sync();
}

} // namespace pv2
