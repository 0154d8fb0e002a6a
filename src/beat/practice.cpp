#include "practice.h"

#include <QStringList>
#include <algorithm>
#include <cstdlib>

namespace pv2 {

PracticeSettings PracticeSettings::clamped() const {
    PracticeSettings c = *this;
    c.countInBars = std::clamp(countInBars, 0, 2);
    c.playBars = std::clamp(playBars, 1, 16);
    c.muteBars = std::clamp(muteBars, 1, 16);
    c.mutePercent = std::clamp(mutePercent, 10, 90);
    c.ladderStep = std::clamp(ladderStep, -20, 20);
    c.ladderEvery = std::clamp(ladderEvery, 1, 64);
    c.ladderTarget = std::clamp(ladderTarget, 1, 800); // the tempo box's own limit
    c.timerMinutes = std::clamp(timerMinutes, 0, 120);
    return c;
}

QString practiceToken(const PracticeSettings &settings) {
    const PracticeSettings p = settings.clamped();
    QStringList items;
    if (p.countInBars > 0)
        items << QStringLiteral("count=%1").arg(p.countInBars);
    if (p.mute == PracticeSettings::Mute::Bars)
        items << QStringLiteral("play=%1 mute=%2").arg(p.playBars).arg(p.muteBars);
    else if (p.mute == PracticeSettings::Mute::Chance)
        items << QStringLiteral("mute=%1%").arg(p.mutePercent);
    if (p.mute != PracticeSettings::Mute::Off && p.hideBall)
        items << QStringLiteral("hide=1");
    if (p.ladderStep != 0)
        items << QStringLiteral("ladder=%1%2/%3..%4")
                     .arg(p.ladderStep > 0 ? QStringLiteral("+") : QStringLiteral("-"))
                     .arg(std::abs(p.ladderStep))
                     .arg(p.ladderEvery)
                     .arg(p.ladderTarget);
    if (p.timerMinutes > 0)
        items << QStringLiteral("timer=%1").arg(p.timerMinutes);
    return QStringLiteral("practice=(") + items.join(QLatin1Char(' ')) + QLatin1Char(')');
}

namespace {

// The line up to its memo: a memo may hold anything, a token too.
QString beforeMemo(const QString &line) {
    const qsizetype memo = line.indexOf(QStringLiteral("memo="));
    return memo < 0 ? line : line.left(memo);
}

int number(const QString &text) {
    bool ok = false;
    const int n = text.toInt(&ok);
    return ok ? n : 0;
}

} // namespace

std::optional<PracticeSettings> parsePracticeToken(const QString &line) {
    // Searched for plainly: a regular expression would also give up on a line that is not
    // valid UTF-16.
    const QString head = beforeMemo(line);
    const QLatin1String opening("practice=(");
    const qsizetype from = head.indexOf(opening);
    if (from < 0)
        return std::nullopt;
    const qsizetype bodyAt = from + opening.size();
    const qsizetype close = head.indexOf(QLatin1Char(')'), bodyAt);
    const qsizetype nested = head.indexOf(QLatin1Char('('), bodyAt);
    if (close < 0 || (nested >= 0 && nested < close))
        return std::nullopt;
    const QString body = head.mid(bodyAt, close - bodyAt);
    PracticeSettings p;
    p.on = true;
    for (const QString &item : body.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = item.left(eq);
        const QString value = item.mid(eq + 1);
        if (key == QStringLiteral("count")) {
            p.countInBars = number(value);
        } else if (key == QStringLiteral("play")) {
            p.playBars = number(value);
            p.mute = PracticeSettings::Mute::Bars;
        } else if (key == QStringLiteral("mute")) {
            if (value.endsWith(QLatin1Char('%'))) {
                p.mutePercent = number(value.chopped(1));
                p.mute = PracticeSettings::Mute::Chance;
            } else {
                p.muteBars = number(value);
                p.mute = PracticeSettings::Mute::Bars;
            }
        } else if (key == QStringLiteral("hide")) {
            p.hideBall = value == QStringLiteral("1");
        } else if (key == QStringLiteral("ladder")) {
            // +S/K..T
            const qsizetype slash = value.indexOf(QLatin1Char('/'));
            const qsizetype dots = value.indexOf(QStringLiteral(".."), slash + 1);
            bool okStep = false, okEvery = false, okTarget = false;
            const int step = value.left(slash).toInt(&okStep);
            const int every = value.mid(slash + 1, dots - slash - 1).toInt(&okEvery);
            const int target = value.mid(dots + 2).toInt(&okTarget);
            if (slash > 0 && dots > slash && okStep && okEvery && okTarget &&
                (value.front() == QLatin1Char('+') || value.front() == QLatin1Char('-'))) {
                p.ladderStep = step;
                p.ladderEvery = every;
                p.ladderTarget = target;
            }
        } else if (key == QStringLiteral("timer")) {
            p.timerMinutes = number(value);
        }
    }
    return p.clamped();
}

QString withPracticeToken(const QString &line, const PracticeSettings &p) {
    const qsizetype memo = line.indexOf(QStringLiteral("memo="));
    if (memo < 0)
        return line + QLatin1Char(' ') + practiceToken(p);
    // A title holding "memo=" already takes the rest of the line as the memo; a token anywhere
    // would change it.
    if (memo < line.lastIndexOf(QStringLiteral("parm=")))
        return line;
    return line.left(memo) + practiceToken(p) + QLatin1Char(' ') + line.mid(memo);
}

QString practiceSummary(const PracticeSettings &p) {
    QStringList parts;
    if (p.countInBars > 0)
        parts << QStringLiteral("カウント%1").arg(p.countInBars);
    if (p.mute == PracticeSettings::Mute::Bars)
        parts << QStringLiteral("%1/%2小節").arg(p.playBars).arg(p.muteBars);
    else if (p.mute == PracticeSettings::Mute::Chance)
        parts << QStringLiteral("無音%1%").arg(p.mutePercent);
    if (p.ladderStep != 0)
        parts << QStringLiteral("%1%2→%3")
                     .arg(p.ladderStep > 0 ? QStringLiteral("+") : QString())
                     .arg(p.ladderStep)
                     .arg(p.ladderTarget);
    if (p.timerMinutes > 0)
        parts << QStringLiteral("%1分").arg(p.timerMinutes);
    return QStringLiteral("練習 ") + parts.join(QLatin1Char(' '));
}

PracticeRun::PracticeRun(const PracticeSettings &p, int startTempo, uint32_t seed, bool leadIn)
    : m_p(p.clamped()), m_startTempo(startTempo), m_seed(seed),
      m_firstPlayed(m_p.countInBars + (leadIn ? 1 : 0)), m_bar(barState(0)) {}

bool PracticeRun::muted(int b) const {
    const int played = b - m_firstPlayed; // bars of the pattern; the first always sounds
    if (played <= 0)
        return false;
    switch (m_p.mute) {
    case PracticeSettings::Mute::Off:
        return false;
    case PracticeSettings::Mute::Bars:
        return played % (m_p.playBars + m_p.muteBars) >= m_p.playBars;
    case PracticeSettings::Mute::Chance: {
        // A hash of the bar, so that its tick and its landing agree without shared state.
        uint32_t h = m_seed ^ (static_cast<uint32_t>(played) * 0x9E3779B9u);
        h ^= h >> 16;
        h *= 0x85EBCA6Bu;
        h ^= h >> 13;
        h *= 0xC2B2AE35u;
        h ^= h >> 16;
        return h % 100 < static_cast<uint32_t>(m_p.mutePercent);
    }
    }
    return false;
}

PracticeRun::BarStart PracticeRun::barState(int b) const {
    BarStart s;
    s.countIn = m_p.countInBars > 0 && b < m_firstPlayed;
    s.muted = muted(b);
    s.showBall = !(s.muted && m_p.hideBall);
    s.tempo = m_startTempo;
    const int played = b - m_firstPlayed;
    if (m_p.ladderStep != 0 && played > 0) {
        const int t = m_startTempo + m_p.ladderStep * (played / m_p.ladderEvery);
        // Up to the target and no further; a target on the wrong side holds the start.
        s.tempo = m_p.ladderStep > 0 ? std::max(m_startTempo, std::min(t, m_p.ladderTarget))
                                     : std::min(m_startTempo, std::max(t, m_p.ladderTarget));
    }
    return s;
}

PracticeRun::Tick PracticeRun::tick(bool barLine, bool downbeat) const {
    const BarStart s = barState(m_bars + (barLine ? 1 : 0));
    if (s.countIn)
        return {true, true};
    return {!s.muted, downbeat};
}

const PracticeRun::BarStart &PracticeRun::land(bool barLine) {
    if (barLine) {
        ++m_bars;
        m_bar = barState(m_bars);
    }
    return m_bar;
}

bool PracticeRun::stopsAt(int64_t msFromStart) const {
    return m_p.timerMinutes > 0 && msFromStart >= int64_t{m_p.timerMinutes} * 60000;
}

} // namespace pv2
