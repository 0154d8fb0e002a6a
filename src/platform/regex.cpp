#include "regex.h"

#include <QHash>
#include <QRegularExpression>

namespace pv2 {

namespace {
// The program only ever uses a handful of fixed patterns; compile each once.
const QRegularExpression &compiled(const QString &pattern) {
    static QHash<QString, QRegularExpression> cache;
    auto it = cache.find(pattern);
    if (it == cache.end()) {
        QRegularExpression re(pattern);
        re.optimize();
        it = cache.insert(pattern, re);
    }
    return *it;
}
} // namespace

QString regexFirstGroup(const QString &text, const QString &pattern) {
    const auto m = compiled(pattern).match(text);
    return m.hasMatch() ? m.captured(1) : QString();
}

QString regexReplaceFirst(const QString &text, const QString &pattern, const QString &replacement) {
    const auto m = compiled(pattern).match(text);
    if (!m.hasMatch())
        return text;
    QString rep;
    for (qsizetype i = 0; i < replacement.size(); ++i) {
        const QChar c = replacement[i];
        if (c == u'$' && i + 1 < replacement.size() && replacement[i + 1].isDigit()) {
            rep += m.captured(replacement[i + 1].digitValue());
            ++i;
        } else {
            rep += c;
        }
    }
    QString out = text;
    out.replace(m.capturedStart(0), m.capturedLength(0), rep);
    return out;
}

} // namespace pv2
