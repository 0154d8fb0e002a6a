#include "tick_analysis.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <numeric>
#include <tuple>

namespace pv2::bench {

namespace {

constexpr int kHop = 32;
constexpr int kTemplateLength = 256;
constexpr int kSearch = 384;

struct Match {
    double ncc = -1;
    double gain = 0;
};

Match correlate(const std::vector<float> &rec, const std::vector<float> &tmpl, int64_t lag,
                int length, double templateEnergy) {
    if (lag < 0 || lag + length > static_cast<int64_t>(rec.size()))
        return {};
    double dot = 0, energy = 0;
    for (int i = 0; i < length; ++i) {
        const double x = rec[static_cast<size_t>(lag + i)];
        dot += x * tmpl[static_cast<size_t>(i)];
        energy += x * x;
    }
    if (energy <= 0 || templateEnergy <= 0)
        return {};
    return {dot / std::sqrt(energy * templateEnergy), dot / templateEnergy};
}

double mean(const std::vector<double> &v) {
    return v.empty() ? 0 : std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
}

double populationSd(const std::vector<double> &v) {
    if (v.size() < 2)
        return 0;
    const double m = mean(v);
    double s = 0;
    for (double x : v)
        s += (x - m) * (x - m);
    return std::sqrt(s / static_cast<double>(v.size()));
}

// Least squares y = a + b x.
std::pair<double, double> fitLine(const std::vector<double> &x, const std::vector<double> &y) {
    const double mx = mean(x), my = mean(y);
    double sxx = 0, sxy = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        sxx += (x[i] - mx) * (x[i] - mx);
        sxy += (x[i] - mx) * (y[i] - my);
    }
    const double b = sxx > 0 ? sxy / sxx : 0;
    return {my - b * mx, b};
}

} // namespace

std::vector<Onset> findOnsets(const std::vector<float> &recording,
                              const std::vector<std::vector<float>> &templates, double minMatch) {
    std::vector<Onset> found;
    if (templates.empty())
        return found;
    const int length = static_cast<int>(std::min<size_t>(
        kTemplateLength,
        std::min_element(templates.begin(), templates.end(), [](const auto &a, const auto &b) {
            return a.size() < b.size();
        })->size()));
    std::vector<double> templateEnergy;
    for (const auto &t : templates) {
        double e = 0;
        for (int i = 0; i < length; ++i)
            e += double(t[static_cast<size_t>(i)]) * t[static_cast<size_t>(i)];
        templateEnergy.push_back(e);
    }

    // Each tick found is taken out of the recording, ringing tail and all, so that the next one
    // rises out of silence even when it comes while the last still rings.
    std::vector<float> rest = recording;
    auto hopEnergy = [&](size_t h) {
        double e = 0;
        for (int i = 0; i < kHop; ++i)
            e += double(rest[h * kHop + static_cast<size_t>(i)]) *
                 rest[h * kHop + static_cast<size_t>(i)];
        return e;
    };
    const size_t hops = rest.size() / kHop;

    // About -60 dB: far below a tick, far above the noise of 16-bit samples.
    const double loud = 1e-6 * kHop;
    int64_t busyUntil = -1;
    for (size_t h = 8; h < hops; ++h) {
        const auto at = static_cast<int64_t>(h) * kHop;
        if (at < busyUntil)
            continue;
        const double energy = hopEnergy(h);
        if (energy < loud)
            continue;
        double before = 0;
        for (size_t j = h - 8; j < h; ++j)
            before += hopEnergy(j);
        before /= 8;
        if (energy < 10 * before)
            continue;

        int bestKind = -1;
        int64_t bestLag = 0;
        Match best;
        for (size_t k = 0; k < templates.size(); ++k)
            for (int64_t lag = at - kSearch; lag <= at + kSearch; ++lag) {
                const Match m = correlate(rest, templates[k], lag, length, templateEnergy[k]);
                if (m.ncc > best.ncc) {
                    best = m;
                    bestLag = lag;
                    bestKind = static_cast<int>(k);
                }
            }
        if (bestKind < 0 || best.ncc < minMatch)
            continue;
        const auto &t = templates[static_cast<size_t>(bestKind)];
        const double e = templateEnergy[static_cast<size_t>(bestKind)];
        const double l = correlate(rest, t, bestLag - 1, length, e).ncc;
        const double r = correlate(rest, t, bestLag + 1, length, e).ncc;
        const double curve = l - 2 * best.ncc + r;
        const double shift = curve < 0 ? 0.5 * (l - r) / curve : 0;
        found.push_back({static_cast<double>(bestLag) + shift, bestKind, best.ncc, best.gain});
        // The template moved by the fraction of a frame, by linear interpolation.
        for (size_t i = 0; i < t.size(); ++i) {
            const auto at2 = static_cast<size_t>(bestLag) + i;
            if (bestLag < 0 || at2 >= rest.size())
                break;
            const double pos = static_cast<double>(i) - shift;
            const auto i0 = static_cast<int64_t>(std::floor(pos));
            const double f = pos - static_cast<double>(i0);
            auto sample = [&](int64_t k) {
                return k >= 0 && k < static_cast<int64_t>(t.size()) ? double(t[size_t(k)]) : 0.0;
            };
            rest[at2] -=
                static_cast<float>(best.gain * ((1 - f) * sample(i0) + f * sample(i0 + 1)));
        }
        // One tick's own attack must not count twice.
        busyUntil = bestLag + 882;
    }
    return found;
}

CaptureClock fitCaptureClock(const std::vector<Read> &reads, double rate) {
    CaptureClock clock;
    clock.nsPerFrame = 1e9 / rate;
    if (reads.empty())
        return clock;
    const double t0 = static_cast<double>(reads.front().timeNs);
    const auto window = static_cast<int64_t>(rate);
    std::vector<double> xs, ys;
    double minPhi = std::numeric_limits<double>::infinity(), minFrame = 0;
    int64_t windowEnd = reads.front().frames + window;
    for (const Read &r : reads) {
        const double f = static_cast<double>(r.frames);
        const double phi = static_cast<double>(r.timeNs) - t0 - f * clock.nsPerFrame;
        if (phi < minPhi) {
            minPhi = phi;
            minFrame = f;
        }
        if (r.frames >= windowEnd) {
            xs.push_back(minFrame);
            ys.push_back(minPhi);
            minPhi = std::numeric_limits<double>::infinity();
            windowEnd = r.frames + window;
        }
    }
    if (xs.size() < 2) {
        clock.originNs = t0 + (std::isfinite(minPhi) ? minPhi : 0);
        return clock;
    }
    const auto [a, b] = fitLine(xs, ys);
    clock.originNs = t0 + a;
    clock.nsPerFrame += b;
    return clock;
}

ClockFit fitTimedFrames(const std::vector<TimedFrame> &points, double rate) {
    ClockFit fit;
    fit.clock.nsPerFrame = 1e9 / rate;
    if (points.empty())
        return fit;
    // Relative to the first point, so that the sums keep their precision.
    const double t0 = points.front().timeNs, f0 = points.front().frame;
    std::vector<bool> keep(points.size(), true);
    double a = 0, b = fit.clock.nsPerFrame;
    for (int pass = 0; pass < 3; ++pass) {
        std::vector<double> xs, ys;
        for (size_t i = 0; i < points.size(); ++i)
            if (keep[i]) {
                xs.push_back(points[i].frame - f0);
                ys.push_back(points[i].timeNs - t0);
            }
        if (xs.size() >= 2)
            std::tie(a, b) = fitLine(xs, ys);
        else if (xs.size() == 1)
            a = ys.front() - b * xs.front();
        std::vector<double> residuals;
        for (const TimedFrame &p : points)
            residuals.push_back(std::fabs(p.timeNs - t0 - (a + b * (p.frame - f0))));
        std::vector<double> sorted = residuals;
        std::nth_element(sorted.begin(),
                         sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2),
                         sorted.end());
        // Five times the typical distance, and never below 50 us: the timing's own grain.
        const double limit = std::max(5 * 1.4826 * sorted[sorted.size() / 2], 50e3);
        for (size_t i = 0; i < points.size(); ++i)
            keep[i] = residuals[i] <= limit;
    }
    fit.clock.nsPerFrame = b;
    fit.clock.originNs = t0 + a - b * f0;
    std::vector<double> kept;
    for (size_t i = 0; i < points.size(); ++i)
        if (keep[i])
            kept.push_back(points[i].timeNs - fit.clock.timeOf(points[i].frame));
    fit.used = static_cast<int>(kept.size());
    fit.dropped = static_cast<int>(points.size() - kept.size());
    fit.residualSdNs = populationSd(kept);
    return fit;
}

Report analyse(const std::vector<Expected> &expectedIn, const std::vector<Onset> &onsetsIn,
               const CaptureClock &clock, double rate) {
    Report rep;
    std::vector<Expected> expected = expectedIn;
    std::sort(expected.begin(), expected.end(),
              [](const Expected &a, const Expected &b) { return a.dueNs < b.dueNs; });
    std::vector<Onset> onsets = onsetsIn;
    std::sort(onsets.begin(), onsets.end(),
              [](const Onset &a, const Onset &b) { return a.frame < b.frame; });
    rep.expected = static_cast<int>(expected.size());
    rep.deviceRatePpm = clock.ratePpm(rate);
    if (expected.empty()) {
        rep.extra = static_cast<int>(onsets.size());
        return rep;
    }

    // The constant part of the delay: the median distance from an onset to its nearest beat.
    // When the delay spans more than half a beat the nearest beat is the wrong one, so where the
    // bar's first beat has a note of its own only that note counts: its beats lie a bar apart.
    const auto firstBeats = std::count_if(expected.begin(), expected.end(),
                                          [](const Expected &e) { return e.kind == 1; });
    const bool byFirstBeat =
        firstBeats > 0 && firstBeats < rep.expected &&
        std::any_of(onsets.begin(), onsets.end(), [](const Onset &o) { return o.kind == 1; });
    std::vector<double> offsets;
    for (const Onset &o : onsets) {
        if (byFirstBeat && o.kind != 1)
            continue;
        const double heard = clock.timeOf(o.frame);
        double nearest = std::numeric_limits<double>::infinity();
        for (const Expected &e : expected)
            if ((!byFirstBeat || e.kind == 1) && std::fabs(heard - e.beatNs) < std::fabs(nearest))
                nearest = heard - static_cast<double>(e.beatNs);
        offsets.push_back(nearest);
    }
    std::sort(offsets.begin(), offsets.end());
    const double typical = offsets.empty() ? 0 : offsets[offsets.size() / 2];
    double shortest = std::numeric_limits<double>::infinity();
    for (size_t i = 1; i < expected.size(); ++i)
        shortest = std::min(shortest, double(expected[i].beatNs - expected[i - 1].beatNs));
    const double tolerance = std::min(15e6, 0.3 * shortest);

    std::vector<bool> used(onsets.size(), false);
    const double beat0 = static_cast<double>(expected.front().beatNs);
    std::vector<double> beatMs, heardMs, frameMs;
    std::vector<int> expectedIndex;
    for (size_t k = 0; k < expected.size(); ++k) {
        const double want = static_cast<double>(expected[k].beatNs) + typical;
        int best = -1;
        for (size_t i = 0; i < onsets.size(); ++i) {
            const double d = std::fabs(clock.timeOf(onsets[i].frame) - want);
            if (!used[i] && d < tolerance &&
                (best < 0 || d < std::fabs(clock.timeOf(onsets[size_t(best)].frame) - want)))
                best = static_cast<int>(i);
        }
        if (best < 0) {
            ++rep.missing;
            continue;
        }
        used[static_cast<size_t>(best)] = true;
        const Onset &o = onsets[static_cast<size_t>(best)];
        if (o.kind != expected[k].kind)
            ++rep.wrongKind;
        TickResult t;
        t.index = static_cast<int>(k);
        t.kind = o.kind;
        t.frame = o.frame;
        t.gain = o.gain;
        t.beatMs = (static_cast<double>(expected[k].beatNs) - beat0) / 1e6;
        t.heardMs = (clock.timeOf(o.frame) - beat0) / 1e6;
        t.offsetMs = t.heardMs - t.beatMs;
        rep.ticks.push_back(t);
        beatMs.push_back(t.beatMs);
        heardMs.push_back(t.heardMs);
        frameMs.push_back(o.frame / rate * 1e3);
        expectedIndex.push_back(static_cast<int>(k));
    }
    rep.found = static_cast<int>(rep.ticks.size());
    rep.extra = static_cast<int>(std::count(used.begin(), used.end(), false));
    if (rep.ticks.size() < 2)
        return rep;

    const auto [a, s] = fitLine(beatMs, heardMs);
    rep.meanIntervalPpm = (s - 1) * 1e6;
    rep.meanIntervalPpmFrames = (fitLine(beatMs, frameMs).second - 1) * 1e6;
    std::vector<double> intervalErrors, offsetsMs;
    rep.gainMin = rep.gainMax = rep.ticks.front().gain;
    for (size_t i = 0; i < rep.ticks.size(); ++i) {
        TickResult &t = rep.ticks[i];
        t.deviationMs = t.heardMs - (a + s * t.beatMs);
        rep.worstDeviationMs = std::max(rep.worstDeviationMs, std::fabs(t.deviationMs));
        offsetsMs.push_back(t.offsetMs);
        rep.gainMin = std::min(rep.gainMin, t.gain);
        rep.gainMax = std::max(rep.gainMax, t.gain);
        if (i > 0 && expectedIndex[i] == expectedIndex[i - 1] + 1) {
            t.intervalErrorMs =
                (t.heardMs - rep.ticks[i - 1].heardMs) - (t.beatMs - rep.ticks[i - 1].beatMs);
            intervalErrors.push_back(t.intervalErrorMs);
        }
    }
    rep.intervalSdMs = populationSd(intervalErrors);
    rep.offsetMeanMs = mean(offsetsMs);
    rep.offsetSdMs = populationSd(offsetsMs);
    const size_t ten = std::min<size_t>(10, offsetsMs.size());
    rep.driftMs =
        mean(std::vector(offsetsMs.end() - static_cast<std::ptrdiff_t>(ten), offsetsMs.end())) -
        mean(std::vector(offsetsMs.begin(), offsetsMs.begin() + static_cast<std::ptrdiff_t>(ten)));
    return rep;
}

void writeCsv(const Report &report, const std::string &path) {
    std::ofstream out(path);
    out << "tick,kind,beat_ms,heard_ms,offset_ms,deviation_ms,interval_error_ms,frame,gain\n";
    out.setf(std::ios::fixed);
    out.precision(6);
    for (const TickResult &t : report.ticks)
        out << t.index << ',' << t.kind << ',' << t.beatMs << ',' << t.heardMs << ',' << t.offsetMs
            << ',' << t.deviationMs << ',' << t.intervalErrorMs << ',' << t.frame << ',' << t.gain
            << '\n';
}

bool writePlot(const Report &report, const std::string &title, const std::string &path,
               double bandMs) {
    const int w = 1200, h = 480, left = 90, right = 30, top = 50, bottom = 60;
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    double range = bandMs * 1.5;
    for (const TickResult &t : report.ticks)
        range = std::max(range, std::fabs(t.deviationMs) * 1.15);
    const double span = report.ticks.empty() ? 1.0 : std::max(1.0, report.ticks.back().beatMs);
    auto xOf = [&](double ms) { return left + (w - left - right) * ms / span; };
    auto yOf = [&](double dev) { return top + (h - top - bottom) * (0.5 - dev / (2 * range)); };

    p.setPen(QPen(QColor(200, 200, 200), 1));
    p.drawRect(left, top, w - left - right, h - top - bottom);
    p.setPen(QPen(QColor(0, 150, 0), 1, Qt::DashLine));
    for (double b : {-bandMs, bandMs})
        p.drawLine(QPointF(left, yOf(b)), QPointF(w - right, yOf(b)));
    p.setPen(QPen(QColor(120, 120, 120), 1));
    p.drawLine(QPointF(left, yOf(0)), QPointF(w - right, yOf(0)));

    p.setPen(Qt::black);
    QFont f = p.font();
    f.setPixelSize(13);
    p.setFont(f);
    for (int i = -2; i <= 2; ++i) {
        const double v = range * i / 2;
        p.drawText(QRectF(0, yOf(v) - 9, left - 8, 18), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(v, 'f', 3));
    }
    for (int i = 0; i <= 6; ++i) {
        const double ms = span * i / 6;
        p.drawText(QRectF(xOf(ms) - 40, h - bottom + 4, 80, 18), Qt::AlignCenter,
                   QString::number(ms / 1000, 'f', 1));
    }
    p.drawText(QRectF(0, h - 24, w, 20), Qt::AlignCenter, QStringLiteral("time of beat (s)"));
    p.save();
    p.translate(16, top + (h - top - bottom) / 2.0);
    p.rotate(-90);
    p.drawText(QRectF(-150, -10, 300, 20), Qt::AlignCenter,
               QStringLiteral("deviation from fitted grid (ms)"));
    p.restore();
    f.setPixelSize(15);
    p.setFont(f);
    p.drawText(QRectF(0, 10, w, 24), Qt::AlignCenter, QString::fromStdString(title));

    const QColor colours[] = {QColor(30, 90, 200), QColor(220, 90, 0)};
    for (const TickResult &t : report.ticks) {
        p.setPen(Qt::NoPen);
        p.setBrush(colours[t.kind % 2]);
        p.drawEllipse(QPointF(xOf(t.beatMs), yOf(t.deviationMs)), 2.5, 2.5);
    }
    p.end();
    return img.save(QString::fromStdString(path), "PNG");
}

} // namespace pv2::bench
