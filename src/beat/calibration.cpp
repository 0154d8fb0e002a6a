#include "calibration.h"

#include "platform/numeric.h"
#include "platform/user_settings.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace pv2 {

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

std::optional<int> calibrationOffsetMs(const std::vector<uint32_t> &clicks,
                                       const std::vector<uint32_t> &taps) {
    const size_t n = clicks.size();
    if (n < size_t(kCalibrationLeadIn + kCalibrationMinTaps))
        return std::nullopt;
    // Everything relative to the first click, so a counter wrap in between does no harm.
    std::vector<int64_t> c(n);
    for (size_t i = 0; i < n; ++i)
        c[i] = tickDiff(clicks[i], clicks[0]);

    std::vector<std::optional<int64_t>> best(n);
    for (uint32_t tap : taps) {
        const int64_t t = tickDiff(tap, clicks[0]);
        size_t i = 0;
        for (size_t k = 1; k < n; ++k)
            if (std::llabs(t - c[k]) < std::llabs(t - c[i]))
                i = k;
        const int64_t d = t - c[i];
        const int64_t gap = i + 1 < n ? c[i + 1] - c[i] : c[i] - c[i - 1];
        if (2 * std::llabs(d) >= gap)
            continue;
        if (!best[i] || std::llabs(d) < std::llabs(*best[i]))
            best[i] = d;
    }

    std::vector<double> diffs;
    for (size_t i = kCalibrationLeadIn; i < n; ++i)
        if (best[i])
            diffs.push_back(double(*best[i]));
    if (diffs.size() < size_t(kCalibrationMinTaps))
        return std::nullopt;

    const double mid = median(diffs);
    std::vector<double> deviations;
    for (double d : diffs)
        deviations.push_back(std::abs(d - mid));
    const double bound = std::max<double>(kCalibrationOutlierFloorMs, 4 * median(deviations));
    double sum = 0;
    int kept = 0;
    for (double d : diffs)
        if (std::abs(d - mid) <= bound) {
            sum += d;
            ++kept;
        }
    if (kept < kCalibrationMinTaps)
        return std::nullopt;
    return clampSyncOffsetMs(roundToInt32(sum / kept));
}

} // namespace pv2
