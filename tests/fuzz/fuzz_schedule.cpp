// buildSchedule over any tempo text, pattern text, check state, fluctuation depth and area size.
//
// Range of x: every landing spot lies in [L, L + W + (n - 1) / 2], where L = trackLeft -
// ballWidth / 2 (18) is the left edge of a ball centred on the left margin, W the flight width
// (area width - 80, never below 0) and n the length of the trimmed pattern: the column step is
// W / (n - 1) rounded, so the last column may overshoot W by up to half a pixel per column.
// In an area narrower than the margins (W = 0) every ball sits at L. For the box's 15 characters
// in an area at least 80 pixels wide this keeps the whole ball inside the area.
#include "beat/schedule.h"
#include "fuzz_check.h"

#include "platform/numeric.h"

namespace {

const pv2::FluctProfile kProfile = pv2::fillFluctProfile();

// Mostly the characters a pattern is made of, so that the builder's forms are all reached.
QString patternFrom(FuzzedDataProvider &fdp) {
    if (fdp.ConsumeBool())
        return pv2::fuzz::utf8(fdp.ConsumeRandomLengthString(300));
    static const char kAlphabet[] = "0123456789 -x";
    QString s;
    for (const char c : fdp.ConsumeRandomLengthString(40))
        s += QChar::fromLatin1(kAlphabet[static_cast<unsigned char>(c) % (sizeof kAlphabet - 1)]);
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    pv2::ScheduleInput in;
    in.areaWidth = fdp.ConsumeIntegralInRange(1, 4000);
    in.areaHeight = fdp.ConsumeIntegralInRange(1, 4000);
    in.fluctChecked = fdp.ConsumeBool();
    in.profile = fdp.ConsumeBool() ? &kProfile : nullptr;
    // The preset file can set any finite depth.
    in.fluctDepth = fdp.ConsumeBool() ? fdp.ConsumeFloatingPointInRange(-2.0f, 2.0f)
                                      : fdp.ConsumeFloatingPoint<float>();
    in.tempoText = pv2::fuzz::utf8(fdp.ConsumeRandomLengthString(40));
    in.patternText = patternFrom(fdp);
    const auto describe = [&](int i) {
        return QString::asprintf("tempo [%s] pattern [%s] area %dx%d fluct %d depth %g record %d",
                                 qUtf8Printable(in.tempoText), qUtf8Printable(in.patternText),
                                 in.areaWidth, in.areaHeight, int(in.fluctChecked),
                                 double(in.fluctDepth), i);
    };

    // Poisoned beforehand, so that a record left unwritten shows.
    pv2::Schedule table;
    table.fill({-32768, 12345, -7, -1, std::nan(""), std::nan("")});

    const pv2::ScheduleResult r = pv2::buildSchedule(table, in);
    const int n = r.beatsPerBar;
    PV2_FUZZ_CHECK(n >= 1 && n <= pv2::kMaxBeats, describe(n));
    PV2_FUZZ_CHECK(r.tempo >= 1 && r.tempo <= 800, describe(-1));
    PV2_FUZZ_CHECK(!r.newTempoText || *r.newTempoText == u"1" || *r.newTempoText == u"800",
                   describe(-1));
    PV2_FUZZ_CHECK(r.oneBeat == (n == 1), describe(-1));

    const double L = in.trackLeft - in.ballWidth / 2.0;
    const double W = std::max(0, in.areaWidth - in.trackLeft - in.trackRight);
    const qsizetype len = std::max<qsizetype>(1, pv2::trimSpaces(in.patternText).size());
    const double xMax = L + W + (len - 1) / 2.0;
    for (int i = 0; i < n; ++i) {
        const pv2::BeatSlot &s = table[i];
        PV2_FUZZ_CHECK(s.ms > 0, describe(i));
        PV2_FUZZ_CHECK(std::isfinite(s.vx) && std::isfinite(s.lift), describe(i));
        PV2_FUZZ_CHECK(s.height >= 0, describe(i));
        PV2_FUZZ_CHECK(s.x >= L && s.x <= xMax, describe(i) + QStringLiteral(" x %1").arg(s.x));
        if (W == 0)
            PV2_FUZZ_CHECK(s.x == L, describe(i));
        if (len <= 15 && in.areaWidth >= in.trackLeft + in.trackRight)
            PV2_FUZZ_CHECK(s.x >= 0 && s.x + in.ballWidth <= in.areaWidth, describe(i));
        // The ball lands where the next interval starts; the last one flies back to the first.
        PV2_FUZZ_CHECK(s.dx == table[(i + 1) % n].x - s.x, describe(i));
    }
    if (r.oneBeat) {
        PV2_FUZZ_CHECK(table[1].x == table[0].x, describe(1));
        PV2_FUZZ_CHECK(r.fluctBeatMs > 0 && r.fluctHeight >= 0, describe(0));
    }
    return 0;
}
