#include "pattern/tempo_list.h"
#include "qstring_printer.h"

#include <gtest/gtest.h>

using namespace pv2;

namespace {

// The entry an index points at, or "none".
QString entryAt(std::optional<int> index) {
    return index ? tempoList().at(*index) : QStringLiteral("none");
}

TEST(TempoList, FortyTwoAscendingMarkings) {
    const QStringList &l = tempoList();
    ASSERT_EQ(l.size(), 42);
    EXPECT_EQ(l.front(), QStringLiteral("20"));
    EXPECT_EQ(l.back(), QStringLiteral("300"));
    EXPECT_EQ(l.indexOf(QStringLiteral("42")) + 1, l.indexOf(QStringLiteral("46")));
    EXPECT_EQ(l.indexOf(QStringLiteral("208")) + 1, l.indexOf(QStringLiteral("250")));
    for (qsizetype i = 1; i < l.size(); ++i)
        EXPECT_LT(l[i - 1].toInt(), l[i].toInt());
}

TEST(TempoSteps, DownAndUp) {
    struct Row {
        const char *box, *down, *up;
    };
    const Row rows[] = {
        {"42", "40", "46"},        {"43", "42", "46"},      {"30", "20", "40"},
        {"21", "20", "30"},        {"20", "none", "30"},    {"19", "none", "none"},
        {"19.5", "none", "30"},    {"0", "none", "none"},   {"", "none", "none"},
        {"abc", "none", "none"},   {"-5", "none", "none"},  {"208", "200", "250"},
        {"299", "250", "300"},     {"300", "250", "none"},  {"301", "none", "none"},
        {"99999", "none", "none"}, {" 120x", "116", "126"}, {"42.5", "40", "46"},
        {"43.5", "42", "46"},      {"800", "none", "none"},
    };
    for (const Row &r : rows) {
        const QString box = QString::fromLatin1(r.box);
        EXPECT_EQ(entryAt(tempoStepDownIndex(box)), QString::fromLatin1(r.down)) << r.box;
        EXPECT_EQ(entryAt(tempoStepUpIndex(box)), QString::fromLatin1(r.up)) << r.box;
    }
}

TEST(TempoArrows, LandOnTheListAfterTheListsOwnStep) {
    struct Row {
        const char *box, *down, *up;
    };
    const Row rows[] = {
        {"61", "63", "60"},    {"60", "60", "60"},    {"19", "20", "20"},    {"0", "20", "20"},
        {"", "20", "20"},      {"20", "20", "20"},    {"250", "250", "250"}, {"300", "300", "250"},
        {"301", "300", "250"}, {"800", "300", "250"}, {"44", "46", "42"},    {"60.4", "60", "60"},
        {"60.6", "63", "60"},  {"-7", "20", "20"},
    };
    for (const Row &r : rows) {
        const QString box = QString::fromLatin1(r.box);
        const int down = arrowSelection(box, false);
        const int up = arrowSelection(box, true);
        ASSERT_GE(down, 0) << r.box;
        ASSERT_GE(up, 0) << r.box;
        EXPECT_EQ(tempoList().at(down), QString::fromLatin1(r.down)) << r.box;
        EXPECT_EQ(tempoList().at(up), QString::fromLatin1(r.up)) << r.box;
    }
}

} // namespace
