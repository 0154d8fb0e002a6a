#include "beat/schedule.h"

#include "platform/numeric.h"

#include <algorithm>
#include <cmath>

namespace pv2 {

namespace {

constexpr int16_t kMaxTempo = 800;

struct FlightArea {
    double W; // width of the flight area
    double H; // height of the flight area
    double L; // left edge of a ball centred on the left margin
};

FlightArea flightArea(const ScheduleInput &in) {
    // A window smaller than the margins must not give negative widths or heights.
    const double W = std::max(0.0, double(in.areaWidth) - (double(in.trackRight) + in.trackLeft));
    const double H = std::max(0.0, double(in.areaHeight) - (double(in.trackTop) + in.trackBottom));
    return {W, H, in.trackLeft - in.ballWidth / 2.0};
}

int16_t saturate16(int v) {
    return static_cast<int16_t>(std::clamp(v, -32768, 32767));
}

int digitValue(QChar c) {
    return (c >= u'1' && c <= u'9') ? c.unicode() - u'0' : 0;
}

// ms is never below 1, so both divisions are defined.
void setFlight(BeatSlot &s) {
    s.vx = double(s.dx) / s.ms;
    s.lift = 4.0 * s.height / s.ms;
}

// The ball returns from the last record to the first.
int16_t distanceToNext(const Schedule &t, int i, int n) {
    const int next = (i + 1 < n) ? t[i + 1].x : t[0].x;
    return saturate16(next - t[i].x);
}

void readTempo(const QString &text, ScheduleResult &r) {
    const int32_t rounded = roundToInt32(readNumber(text));
    if (rounded < 1)
        r.newTempoText = QStringLiteral("1");
    else if (rounded > kMaxTempo)
        r.newTempoText = QStringLiteral("800");
    // A pasted fraction counts by its whole part; 0.5 to 1 would floor to 0.
    const double whole = std::floor(readNumber(r.newTempoText ? *r.newTempoText : text));
    r.tempo = whole < 1 ? 1 : static_cast<int16_t>(std::min<double>(whole, kMaxTempo));
}

bool isEvenBar(const QString &p) {
    return p == u"11" || p == u"111" || p == u"1111" || p == u"11111" || p == u"111111";
}

// One record of d beats bouncing in place at full height.
int buildSingle(Schedule &t, int d, int32_t T, const FlightArea &a) {
    BeatSlot &s = t[0];
    s.ms = d * T;
    s.height = roundToInt16(a.H);
    s.dx = 0;
    s.x = roundToInt16(a.L + a.W / 2);
    setFlight(s);
    return 1;
}

int buildPerDigit(Schedule &t, const QString &pattern, bool spaced, int32_t T, const FlightArea &a,
                  const ScheduleInput &in) {
    const qsizetype len = pattern.size();
    const double U = roundToInt32(a.W / double(len - 1));
    int n = 0;
    int32_t longest = 0;
    int32_t shortest = 5000;
    for (qsizetype p = 0; p < len && n < kMaxBeats; ++p) {
        const int d = digitValue(pattern[p]);
        if (d == 0)
            continue;
        BeatSlot &s = t[n++];
        s.ms = d * T;
        s.x = roundToInt16(a.L + U * double(p));
        longest = std::max(longest, s.ms);
        shortest = std::min(shortest, s.ms);
    }
    // Spaced arcs only make sense when every beat has the same length.
    if (longest != shortest)
        spaced = false;
    if (in.fluctChecked && in.profile && isEvenBar(pattern))
        longest = applyFluctProfile(T, t, n, in);

    for (int i = 0; i < n; ++i) {
        BeatSlot &s = t[i];
        const double ratio = double(s.ms) / longest;
        s.height = roundToInt16(ratio * ratio * a.H);
        s.dx = distanceToNext(t, i, n);
        if (spaced && i + 1 < n) {
            const double factor = a.W > 0 ? std::sqrt(s.dx / a.W) : 1.0;
            s.height = roundToInt16(factor * s.height);
        }
        setFlight(s);
    }
    return n;
}

// d hops in place: low ones, then a high one to mark the bar.
int buildHops(Schedule &t, int d, int32_t T, const FlightArea &a) {
    for (int k = 0; k < d; ++k) {
        BeatSlot &s = t[k];
        s.ms = T;
        s.height = roundToInt16(0.6 * a.H);
        s.x = roundToInt16(a.L + a.W / 2);
        s.dx = 0;
        setFlight(s);
    }
    if (d > 0) {
        BeatSlot &last = t[d - 1];
        last.height = roundToInt16(a.H);
        setFlight(last);
    }
    return d;
}

int buildGroups(Schedule &t, const QString &groups, int32_t T, const FlightArea &a) {
    const qsizetype len = groups.size();
    const double U = roundToInt32(a.W / double(len - 1));
    int n = 0;
    for (qsizetype p = 0; p < len; ++p) {
        const int d = digitValue(groups[p]);
        for (int k = 0; k < d && n < kMaxBeats; ++k) {
            BeatSlot &s = t[n++];
            s.ms = T;
            s.x = roundToInt16(a.L + U * double(p));
        }
    }
    for (int i = 0; i < n; ++i) {
        BeatSlot &s = t[i];
        s.dx = distanceToNext(t, i, n);
        s.height = roundToInt16(s.dx == 0 ? 0.6 * a.H : a.H);
        setFlight(s);
    }
    return n;
}

} // namespace

FluctProfile fillFluctProfile() {
    FluctProfile p{};
    p[1] = {0, 0, 0};
    p[2] = {0, 0.5, -0.5, 0};
    p[3] = {0, -0.1358, 0.5679, -0.4321, 0};
    p[4] = {0, -0.3606, 0.4277, 0.4665, -0.5335, 0};
    p[5] = {0, -0.3799, 0.094, 0.5364, 0.213, -0.4636, 0};
    return p;
}

int32_t applyFluctProfile(int32_t T, Schedule &table, int n, const ScheduleInput &in) {
    if (n < 2 || n > 7 || !in.profile)
        return T;
    const auto &row = (*in.profile)[n - 1];
    int32_t longest = 0;
    double S = 0;
    for (int i = 0; i < n; ++i) {
        // fluctDepth comes unchecked from the preset file: a deep one must not give ms <= 0.
        const int32_t ms =
            std::max(1, roundToInt32((1.0 - double(in.fluctDepth) * row[i + 1]) * T));
        table[i].ms = ms;
        longest = std::max(longest, ms);
        if (i < n - 1)
            S += ms;
    }
    // Landing spots spaced in proportion to time, first and last on the margins.
    const FlightArea a = flightArea(in);
    double C = 0;
    for (int i = 0; i < n; ++i) {
        table[i].x = roundToInt16(a.L + (C / S) * a.W);
        C += table[i].ms;
    }
    return longest;
}

ScheduleResult buildSchedule(Schedule &table, const ScheduleInput &in) {
    ScheduleResult r;
    const FlightArea a = flightArea(in);
    r.trackWidth = a.W;
    readTempo(in.tempoText, r);
    const int32_t T = roundToInt32(60000.0 / r.tempo);

    QString pattern = trimSpaces(in.patternText);
    if (pattern.isEmpty())
        pattern = QStringLiteral("1");
    const bool spaced = pattern.contains(u' ');

    int n = 0;
    const int first = digitValue(pattern.front());
    if (first != 0 && digitValue(pattern.back()) != 0) {
        n = pattern.size() == 1 ? buildSingle(table, first, T, a)
                                : buildPerDigit(table, pattern, spaced, T, a, in);
    } else {
        pattern.chop(1);
        if (pattern.size() == 1)
            n = buildHops(table, digitValue(pattern.front()), T, a);
        else if (pattern.size() > 1)
            n = buildGroups(table, pattern, T, a);
    }
    // Texts that yield no beat at all ("0", "0-", "-") play like "1".
    if (n == 0)
        n = buildSingle(table, 1, T, a);

    r.beatsPerBar = static_cast<int16_t>(n);
    if (n == 1) {
        // Base of the 1/f mode, which also takes record 1 as the next landing spot.
        r.oneBeat = true;
        r.fluctBeatMs = T;
        r.fluctHeight = roundToInt16(a.H);
        table[1].x = table[0].x;
    }
    return r;
}

} // namespace pv2
