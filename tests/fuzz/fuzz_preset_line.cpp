// The fields of one preset line: reading any line, and composing a line then reading it back.
#include "beat/practice.h"
#include "fuzz_check.h"
#include "platform/numeric.h"
#include "preset/fake_file_access.h"

#include <QRegularExpression>

namespace {

// \A and \z: '$' would also match before a final line feed.
const QRegularExpression kDigits(QStringLiteral(R"(\A[0-9]*\z)"));
const QRegularExpression kPattern(QStringLiteral(R"(\A([0-9 ]+-*)?\z)"));
const QRegularExpression kTempo(QStringLiteral(R"(\A[0-9]+\z)"));
const QRegularExpression kFlagLike(QStringLiteral("[msagdf][0-9]"));
// What the line composer turns into one space each.
const QRegularExpression kLineBreak(QStringLiteral(R"(\r\n|\v)")); // \v: any vertical space

bool matches(const QString &text, const QRegularExpression &re) {
    return re.match(text).hasMatch();
}

bool hasSurroundingSpace(const QString &s) {
    return !s.isEmpty() && (s.front() == u' ' || s.back() == u' ');
}

QString text(FuzzedDataProvider &fdp, size_t maxBytes) {
    return pv2::fuzz::utf8(fdp.ConsumeRandomLengthString(maxBytes));
}

// Whatever the line, every field has the shape its expression allows.
void checkFields(const QString &line, const pv2::PresetRecord &p) {
    for (const QString *digits : {&p.m, &p.s, &p.a, &p.g, &p.d, &p.f})
        PV2_FUZZ_CHECK(matches(*digits, kDigits), line);
    PV2_FUZZ_CHECK(matches(p.parm, kPattern), line);
    PV2_FUZZ_CHECK(!hasSurroundingSpace(p.title) && !hasSurroundingSpace(p.memo), line);
    if (!line.contains(QStringLiteral("parm="))) {
        for (const QString *f : {&p.title, &p.parm, &p.m, &p.s, &p.a, &p.g, &p.d, &p.f})
            PV2_FUZZ_CHECK(f->isEmpty(), line);
    }
}

// Practice settings from the input, any values (the token clamps them).
pv2::PracticeSettings practice(FuzzedDataProvider &fdp) {
    // Braced initialisers run in order, so each field takes the next bytes.
    return {true,
            fdp.ConsumeIntegralInRange(-1, 3),
            static_cast<pv2::PracticeSettings::Mute>(fdp.ConsumeIntegralInRange(0, 2)),
            fdp.ConsumeIntegralInRange(-5, 40),
            fdp.ConsumeIntegralInRange(-5, 40),
            fdp.ConsumeIntegralInRange(-5, 120),
            fdp.ConsumeBool(),
            fdp.ConsumeIntegralInRange(-30, 30),
            fdp.ConsumeIntegralInRange(-1, 100),
            fdp.ConsumeIntegralInRange(-10, 2000),
            fdp.ConsumeIntegralInRange(-1, 200)};
}

// Any line: its fields have their shapes, and a practice token put in it changes none of them
// and reads back as written.
void readAnyLine(FuzzedDataProvider &fdp) {
    const pv2::PracticeSettings p = practice(fdp);
    const std::string raw = fdp.ConsumeRemainingBytesAsString();
    const unsigned char mode = raw.empty() ? 0 : static_cast<unsigned char>(raw[0]);
    const qsizetype n = raw.empty() ? 0 : static_cast<qsizetype>(raw.size() - 1);
    const QString line = pv2::fuzz::textFromBytes(mode, raw.data() + (n ? 1 : 0), n);
    const pv2::PresetRecord plain = pv2::setParm(line);
    checkFields(line, plain);

    const QString with = pv2::withPracticeToken(line, p);
    PV2_FUZZ_CHECK(pv2::test::fields(pv2::setParm(with)) == pv2::test::fields(plain), with);
    const qsizetype memo = line.indexOf(QStringLiteral("memo="));
    if (with != line && !line.left(memo).contains(QStringLiteral("practice=("))) {
        const auto back = pv2::parsePracticeToken(with);
        PV2_FUZZ_CHECK(back && pv2::practiceToken(*back) == pv2::practiceToken(p.clamped()), with);
    }
}

void roundTrip(FuzzedDataProvider &fdp) {
    const QString title = text(fdp, 60);
    const QString beat = text(fdp, 30);
    const QString tempoIn = text(fdp, 20);
    const bool s = fdp.ConsumeBool(), a = fdp.ConsumeBool(), d = fdp.ConsumeBool(),
               g = fdp.ConsumeBool(), f = fdp.ConsumeBool();
    const QString memo = text(fdp, 60);

    QString tempo = tempoIn;
    const QString line = pv2::composePresetLine(title, beat, tempo, s, a, d, g, f, memo);
    PV2_FUZZ_CHECK(tempo == (pv2::readNumber(tempoIn) == 0 ? QStringLiteral("80") : tempoIn), line);
    PV2_FUZZ_CHECK(!line.contains(kLineBreak), line);
    const pv2::PresetRecord p = pv2::setParm(line);
    checkFields(line, p);

    // Exactly what was saved comes back when no field imitates the markers of another.
    const QString t = QString(title).replace(kLineBreak, QStringLiteral(" "));
    const QString m = QString(memo).replace(kLineBreak, QStringLiteral(" "));
    const bool plain = !t.contains(QStringLiteral("parm=")) &&
                       !t.contains(QStringLiteral("memo=")) && matches(beat, kPattern) &&
                       matches(tempo, kTempo) && !m.contains(QStringLiteral("parm=")) &&
                       !matches(m, kFlagLike);
    if (!plain)
        return;
    const auto flag = [](bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); };
    PV2_FUZZ_CHECK(p.title == pv2::trimSpaces(t), line + " / title " + p.title);
    PV2_FUZZ_CHECK(p.parm == beat, line + " / parm " + p.parm);
    PV2_FUZZ_CHECK(p.m == tempo, line + " / m " + p.m);
    PV2_FUZZ_CHECK(p.s == flag(s) && p.a == flag(a) && p.d == flag(d) && p.g == flag(g) &&
                       p.f == flag(f),
                   line);
    PV2_FUZZ_CHECK(p.memo == pv2::trimSpaces(m), line + " / memo " + p.memo);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    if (fdp.ConsumeBool())
        roundTrip(fdp);
    else
        readAnyLine(fdp);
    return 0;
}
