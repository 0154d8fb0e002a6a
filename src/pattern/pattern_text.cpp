#include "pattern/pattern_text.h"

#include "platform/regex.h"

#include <utility>

namespace pv2 {

namespace {
struct Rewrite {
    const char *pattern;
    const char *replacement;
};

constexpr Rewrite kRewrites[] = {
    {R"(^(\d+[ \d]*)([^ 1-9]+)([\d ]+)\D*$)", "$1$3"},
    {R"(^\D+)", ""},
    {R"(\D+$)", "-"},
};

// Length of an all-ones pattern "1".."111111", or -1 for any other text.
int onesLength(const QString &text) {
    if (text.isEmpty() || text.size() > 6)
        return -1;
    for (const QChar c : text)
        if (c != u'1')
            return -1;
    return static_cast<int>(text.size());
}
} // namespace

QString cleanPattern(const QString &text) {
    QString s = text;
    // Storing a changed text re-runs the whole update from the first rewrite, so after any
    // change we start over rather than carry on with the next rewrite.
    bool changed = true;
    while (changed) {
        changed = false;
        for (const Rewrite &r : kRewrites) {
            QString next = regexReplaceFirst(s, QString::fromLatin1(r.pattern),
                                             QString::fromLatin1(r.replacement));
            if (next != s) {
                s = std::move(next);
                changed = true;
                break;
            }
        }
    }
    return s;
}

FluctBoxState fluctBoxFor(const QString &cleanText) {
    const int n = onesLength(cleanText);
    if (n == 1)
        return {true, QStringLiteral("1/f fluct."), true};
    if (n >= 2)
        return {true, QStringLiteral("fluct."), false};
    return {false, std::nullopt, false};
}

QString beatMinus(const QString &text) {
    const int n = onesLength(text);
    if (n < 1)
        return QStringLiteral("1111");
    return QString(qMax(n - 1, 1), u'1');
}

QString beatPlus(const QString &text) {
    const int n = onesLength(text);
    if (n < 1)
        return QStringLiteral("1111");
    return QString(qMin(n + 1, 6), u'1');
}

} // namespace pv2
