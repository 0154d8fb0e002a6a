#include "preset_file.h"

#include "platform/numeric.h"
#include "platform/regex.h"

#include <algorithm>
#include <limits>

namespace pv2 {

namespace {
// Only blanks count as surrounding spaces, as the file format has always meant.

bool isLineBreak(QChar c) {
    switch (c.unicode()) {
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

// A line break inside a field would split the preset over two lines of the file.
QString flattenLineBreaks(const QString &s) {
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (!isLineBreak(s[i])) {
            out += s[i];
            continue;
        }
        out += u' ';
        if (s[i] == u'\r' && i + 1 < s.size() && s[i + 1] == u'\n')
            ++i;
    }
    return out;
}

int16_t readTimer(const QString &value) {
    const int16_t v = roundToInt16(readNumber(value));
    return std::clamp<int16_t>(v, 5, 100);
}

float readFluct(const QString &value) {
    constexpr double maxFloat = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(readNumber(value), -maxFloat, maxFloat));
}

QChar flag(bool on) {
    return on ? u'1' : u'0';
}
} // namespace

QString getParm(const QString &text, const QString &pattern) {
    return regexFirstGroup(text, pattern);
}

PresetRecord setParm(const QString &line) {
    PresetRecord p;
    p.m = getParm(line, QStringLiteral(R"(parm=.*m(\d+))"));
    p.s = getParm(line, QStringLiteral(R"(parm=.*s(\d+))"));
    p.a = getParm(line, QStringLiteral(R"(parm=.*a(\d+))"));
    p.g = getParm(line, QStringLiteral(R"(parm=.*g(\d+))"));
    p.d = getParm(line, QStringLiteral(R"(parm=.*d(\d+))"));
    p.f = getParm(line, QStringLiteral(R"(parm=.*f(\d+))"));
    p.title = trimSpaces(getParm(line, QStringLiteral(R"(^(.+)parm=)")));
    p.memo = trimSpaces(getParm(line, QStringLiteral(R"(memo=(.+))")));
    p.parm = getParm(line, QStringLiteral(R"(parm=\(([\d ]+-*)\))"));
    p.practice = getParm(line.left(line.indexOf(QStringLiteral("memo="))),
                         QStringLiteral(R"((practice=\([^()]*\)))"));
    return p;
}

QString presetListText(const PresetRecord &p) {
    return p.title + QChar(u'(') + p.parm + QChar(u')');
}

PresetList readPresetFile(FileAccess &fs, const QString &path, PresetSettings &settings) {
    PresetList list;
    const std::optional<QByteArray> bytes = fs.readAll(path);
    if (!bytes) {
        settings.showSaveButtons = true;
        return list;
    }
    list.ok = true;
    for (const QString &line : decodeText(*bytes).lines) {
        if (line.isEmpty())
            continue;
        if (line.startsWith(QStringLiteral("timer="))) {
            settings.timerInterval = readTimer(line.mid(6));
            continue;
        }
        if (line.startsWith(QStringLiteral("save=o"))) {
            settings.showSaveButtons = false;
            continue;
        }
        if (line.startsWith(QStringLiteral("fluct="))) {
            settings.fluctDepth = readFluct(line.mid(6));
            continue;
        }
        if (line.startsWith(u';'))
            continue;
        // The list holds 101 entries; whatever follows a 102nd is not read.
        if (list.presets.size() >= maxPresetEntries)
            break;
        if (line.startsWith(u'-')) {
            PresetRecord sep;
            sep.title = separatorTitle;
            list.presets.push_back(sep);
            list.listTexts.append(separatorTitle);
        } else {
            list.presets.push_back(setParm(line));
            list.listTexts.append(presetListText(list.presets.back()));
        }
    }
    return list;
}

QString composePresetLine(const QString &title, const QString &beat, QString &tempo, bool s, bool a,
                          bool d, bool g, bool f, const QString &memo) {
    if (readNumber(tempo) == 0)
        tempo = QStringLiteral("80");
    QString line = flattenLineBreaks(title) + QStringLiteral(" parm=(") + flattenLineBreaks(beat) +
                   QStringLiteral(") m") + flattenLineBreaks(tempo) + QStringLiteral(" s") +
                   flag(s) + QStringLiteral(" a") + flag(a) + QStringLiteral(" d") + flag(d) +
                   QStringLiteral(" g") + flag(g) + QStringLiteral(" f") + flag(f);
    if (!memo.isEmpty())
        line += QStringLiteral(" memo=") + flattenLineBreaks(memo);
    return line;
}

AppendResult appendPresetLine(FileAccess &fs, const QString &path, const QString &line) {
    std::optional<QByteArray> existing = fs.readAll(path);
    if (!existing) {
        // Present but unreadable: its encoding and last byte are unknown, so leave it alone.
        if (fs.size(path))
            return AppendResult::Failed;
        existing = QByteArray();
    }

    const DecodedText decoded = decodeText(*existing);
    const TextEncoding enc = decoded.pureAscii ? systemEncoding() : decoded.encoding;
    const std::optional<QByteArray> encoded = encodeText(line + QStringLiteral("\r\n"), enc);
    if (!encoded)
        return AppendResult::Failed;

    // Without this the new preset would glue onto a last line that has no line end.
    QByteArray bytes;
    if (existing->endsWith('\r'))
        bytes = "\n";
    else if (!existing->isEmpty() && !existing->endsWith('\n'))
        bytes = "\r\n";
    bytes += *encoded;

    if (!fs.ensureExists(path))
        return AppendResult::Failed;
    const std::optional<qint64> before = fs.size(path);
    if (!before)
        return AppendResult::Failed;
    if (!fs.append(path, bytes)) {
        fs.truncate(path, *before);
        return AppendResult::Failed;
    }
    return AppendResult::Ok;
}

} // namespace pv2
