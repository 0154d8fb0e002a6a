#include "pattern/pattern_text.h"
#include "qstring_printer.h"

#include <gtest/gtest.h>

#include <random>

using namespace pv2;

namespace {

struct Case {
    const char *input;
    const char *expected;
};

TEST(CleanPattern, RewriteTable) {
    const Case cases[] = {
        {"1111", "1111"},
        {"4 4 ", "4 4-"},
        {"4-4", "44"},
        {"3 3-2 2", "3 32 2"},
        {"12-3-", "123"},
        {"12--", "12-"},
        {"a12", "12"},
        {"12a", "12-"},
        {"x4y", "4-"},
        {"abc4def5", "45"},
        {"10 4", "1 4"},
        {"4 0 4", "4  4"},
        {"1/2", "12"},
        {"-", ""},
        {"  ", ""},
        {"x", ""},
        {"3 3 2-", "3 3 2-"},
        // A change starts over at the first rewrite: the trailing space left by the first one
        // becomes "-" instead of being dropped with the "-".
        {"1x2 ", "12-"},
        // Zeros survive where the first rewrite does not reach them.
        {"40", "40"},
        {"04", "04"},
        {"1020", "120"},
        // Two separate runs between digits are left alone.
        {"1-2-3", "1-2-3"},
        {"4x4y4", "4x4y4"},
        {"", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(cleanPattern(QString::fromUtf8(c.input)), QString::fromUtf8(c.expected))
            << "input \"" << c.input << "\"";
}

TEST(CleanPattern, OddInputsReachAFixedPointAndNeverGrow) {
    QString longJunk;
    for (int i = 0; i < 400; ++i)
        longJunk += QStringLiteral("0-x 1");
    const QString inputs[] = {
        longJunk,
        QString(3000, u'0') + QStringLiteral("-1-1"),
        QStringLiteral("1-2-3"),
        QStringLiteral("\t12\t"),
        QStringLiteral("12\n"),
        QStringLiteral("1\u25CF2"),
        QStringLiteral("\uFF11\uFF12"), // full-width digits are not digits here
        QStringLiteral("   7   "),
    };
    for (const QString &in : inputs) {
        const QString out = cleanPattern(in);
        EXPECT_LE(out.size(), in.size()) << in.left(40).toStdString();
        EXPECT_EQ(cleanPattern(out), out) << in.left(40).toStdString();
    }
    EXPECT_EQ(cleanPattern(QStringLiteral("\uFF11\uFF12")), QString());
    EXPECT_EQ(cleanPattern(QStringLiteral("   7   ")), QStringLiteral("7-"));
}

// Typing one key at a time, anywhere in the box, always leaves an empty text or digits and
// spaces starting with a digit, ending in a digit or one "-".
TEST(CleanPattern, TypedTextKeepsItsForm) {
    std::mt19937 rng(1234);
    const QString keys = QStringLiteral("0123456789 -x/.");
    for (int run = 0; run < 300; ++run) {
        QString text;
        for (int k = 0; k < 25; ++k) {
            const QChar key = keys[static_cast<qsizetype>(rng() % keys.size())];
            const auto pos = static_cast<qsizetype>(rng() % (text.size() + 1));
            QString typed = text;
            if (typed.size() < 15)
                typed.insert(pos, key);
            else
                typed.remove(pos < typed.size() ? pos : pos - 1, 1);
            text = cleanPattern(typed);
            if (text.isEmpty())
                continue;
            ASSERT_TRUE(text.front().isDigit()) << typed.toStdString();
            QString body = text.back() == u'-' ? text.chopped(1) : text;
            ASSERT_FALSE(body.isEmpty());
            ASSERT_TRUE(body.back().isDigit()) << typed.toStdString();
            for (const QChar c : body)
                ASSERT_TRUE(c.isDigit() || c == u' ') << typed.toStdString();
        }
    }
}

TEST(FluctBox, FollowsTheCleanText) {
    const FluctBoxState one = fluctBoxFor(QStringLiteral("1"));
    EXPECT_TRUE(one.enabled);
    EXPECT_EQ(one.caption, QStringLiteral("1/f fluct."));
    EXPECT_TRUE(one.reseed);

    for (const char *t : {"11", "111", "1111", "11111", "111111"}) {
        const FluctBoxState s = fluctBoxFor(QString::fromLatin1(t));
        EXPECT_TRUE(s.enabled) << t;
        EXPECT_EQ(s.caption, QStringLiteral("fluct.")) << t;
        EXPECT_FALSE(s.reseed) << t;
    }
    for (const char *t : {"", "12", "1111111", "2", "1 1", "11-", " 1"}) {
        const FluctBoxState s = fluctBoxFor(QString::fromLatin1(t));
        EXPECT_FALSE(s.enabled) << t;
        EXPECT_FALSE(s.caption.has_value()) << t;
        EXPECT_FALSE(s.reseed) << t;
    }
}

TEST(BeatKeys, MinusAndPlusTables) {
    struct Row {
        const char *text, *minus, *plus;
    };
    const Row rows[] = {
        {"1", "1", "11"},
        {"11", "1", "111"},
        {"111", "11", "1111"},
        {"1111", "111", "11111"},
        {"11111", "1111", "111111"},
        {"111111", "11111", "111111"},
        {"1111111", "1111", "1111"},
        {"", "1111", "1111"},
        {"1 1", "1111", "1111"},
        {"3 3 2-", "1111", "1111"},
        {"2", "1111", "1111"},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(beatMinus(QString::fromLatin1(r.text)), QString::fromLatin1(r.minus)) << r.text;
        EXPECT_EQ(beatPlus(QString::fromLatin1(r.text)), QString::fromLatin1(r.plus)) << r.text;
    }
}

} // namespace
