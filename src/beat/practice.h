#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace pv2 {

// The practice layer over the metronome: count-in, muted bars, a tempo ladder and a timer. A bar
// is one cycle of the pattern; the bar line is the landing on the first spot.
struct PracticeSettings {
    bool on = false;
    int countInBars = 0; // 0 to 2
    enum class Mute : uint8_t { Off, Bars, Chance };
    Mute mute = Mute::Off;
    int playBars = 4, muteBars = 4; // 1 to 16 each
    int mutePercent = 30;           // 10 to 90
    bool hideBall = false;          // in muted bars
    int ladderStep = 0;             // BPM per step, -20 to +20; 0: no ladder
    int ladderEvery = 8;            // bars, 1 to 64
    int ladderTarget = 140;         // BPM
    int timerMinutes = 0;           // 0: none, else 1 to 120

    // Every value within its range.
    PracticeSettings clamped() const;
    bool operator==(const PracticeSettings &) const = default;
};

// "practice=(count=1 play=4 mute=4 ladder=+5/8..140 timer=20)" for the settings that are in use.
// No letter of it is followed by a digit, so the preset line's own fields read as before.
QString practiceToken(const PracticeSettings &p);
// The settings of the first practice token of a preset line before its memo; nullopt without one.
// Unknown or broken items are skipped, values are clamped; the result is on.
std::optional<PracticeSettings> parsePracticeToken(const QString &line);
// The line with the token before its memo, else at its end; unchanged where no place keeps the
// other fields as they read.
QString withPracticeToken(const QString &line, const PracticeSettings &p);
// A few words for the main window while practice is on.
QString practiceSummary(const PracticeSettings &p);

// The rules of one run, counted in bars from START: bar 0 runs from START to the first bar
// line. A run started on the bar's last spot (START itself) has a lead-in there, which counts
// in with the bars after it; one started on the first spot counts in from there. Widget-free
// and clock-free: the caller says when beats land.
class PracticeRun {
public:
    struct Tick {
        bool sound = true;
        bool downbeatSound = false;
    };
    struct BarStart {
        bool countIn = false;
        bool muted = false;
        bool showBall = true;
        int tempo = 0; // the tempo this bar plays at
    };

    // seed decides which bars a chance mutes, the same for the tick and the landing.
    PracticeRun(const PracticeSettings &p, int startTempo, uint32_t seed = 0, bool leadIn = false);

    // The tick for the landing ahead; barLine when that landing is the first spot.
    Tick tick(bool barLine, bool downbeat) const;
    // A landing; barLine when it is the first spot. Returns the state of the bar it is in.
    const BarStart &land(bool barLine);
    const BarStart &bar() const { return m_bar; }
    const PracticeSettings &settings() const { return m_p; }
    int startTempo() const { return m_startTempo; }
    int barIndex() const { return m_bars; }
    // Whether the bar line ahead, due msFromStart after START, ends the run.
    bool stopsAt(int64_t msFromStart) const;
    BarStart barState(int b) const;

private:
    bool muted(int b) const;

    PracticeSettings m_p;
    int m_startTempo;
    uint32_t m_seed;
    int m_firstPlayed; // the first bar of the pattern itself
    int m_bars = 0;
    BarStart m_bar;
};

} // namespace pv2
