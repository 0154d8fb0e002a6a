#pragma once

#include <QString>
#include <memory>

class QSettings;

namespace pv2 {

// The picture/sound offset lies in -kSyncOffsetLimitMs..+kSyncOffsetLimitMs.
constexpr int kSyncOffsetLimitMs = 250;

inline int clampSyncOffsetMs(int ms) {
    return ms < -kSyncOffsetLimitMs ? -kSyncOffsetLimitMs
                                    : (ms > kSyncOffsetLimitMs ? kSyncOffsetLimitMs : ms);
}

// What belongs to the user rather than to a preset file: kept where the desktop keeps settings.
class UserSettings {
public:
    // The desktop's place for organisation and application "Pulvano2".
    UserSettings();
    // An ini file of its own (tests).
    explicit UserSettings(const QString &iniPath);
    ~UserSettings();
    UserSettings(const UserSettings &) = delete;
    UserSettings &operator=(const UserSettings &) = delete;

    // Positive: the sound is heard late. Missing or unreadable gives 0; out of range is clamped.
    int syncOffsetMs() const;
    // Clamped, and written at once.
    void setSyncOffsetMs(int ms);

    // The ticks' volume, 0 to 100 (default 100), and which pair of notes they play (default 0).
    int tickVolumePercent() const;
    void setTickVolumePercent(int percent);
    int tickPair() const;
    void setTickPair(int index);

    static constexpr const char *kSyncOffsetKey = "sync/offsetMs";
    static constexpr const char *kTickVolumeKey = "tick/volumePercent";
    static constexpr const char *kTickPairKey = "tick/pair";

private:
    int number(const char *key, int lo, int hi, int fallback) const;
    void setNumber(const char *key, int value);

    std::unique_ptr<QSettings> m_settings;
};

} // namespace pv2
