#include "text_file.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace pv2 {

namespace {
// ICU behind this name maps like code page 932 (NEC and IBM extensions, 0x815F/0x8160 as on
// Windows).
constexpr const char *cp932Name = "Shift_JIS";

bool isPureAscii(const QByteArray &bytes) {
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

QStringList splitLines(const QString &text) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    while (start < n) {
        qsizetype end = text.indexOf(u'\n', start);
        const qsizetype next = end < 0 ? n : end + 1;
        if (end < 0)
            end = n;
        qsizetype len = end - start;
        if (end < n && len > 0 && text[end - 1] == u'\r')
            --len;
        lines.append(text.mid(start, len));
        start = next;
    }
    return lines;
}
} // namespace

DecodedText decodeText(const QByteArray &bytes) {
    DecodedText out;
    out.pureAscii = isPureAscii(bytes);
    // Stateless: a truncated sequence at the end is an error, not silently held back.
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(bytes);
    out.encoding = TextEncoding::Utf8;
    if (utf8.hasError()) {
        QStringDecoder cp932(cp932Name, QStringConverter::Flag::Stateless);
        text = cp932.isValid() ? QString(cp932.decode(bytes)) : QString::fromLatin1(bytes);
        out.encoding = TextEncoding::Cp932;
    }
    out.lines = splitLines(text);
    return out;
}

std::optional<QByteArray> encodeText(const QString &text, TextEncoding enc) {
    QStringEncoder encoder =
        enc == TextEncoding::Utf8
            ? QStringEncoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless)
            : QStringEncoder(cp932Name, QStringConverter::Flag::Stateless);
    if (!encoder.isValid())
        return std::nullopt;
    QByteArray bytes = encoder.encode(text);
    if (encoder.hasError())
        return std::nullopt;
    // A character that would read back as another one is as good as lost.
    QStringDecoder decoder =
        enc == TextEncoding::Utf8
            ? QStringDecoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless)
            : QStringDecoder(cp932Name, QStringConverter::Flag::Stateless);
    const QString back = decoder.decode(bytes);
    if (decoder.hasError() || back != text)
        return std::nullopt;
    return bytes;
}

TextEncoding systemEncoding() {
#ifdef Q_OS_WIN
    return GetACP() == CP_UTF8 ? TextEncoding::Utf8 : TextEncoding::Cp932;
#else
    return TextEncoding::Utf8;
#endif
}

std::optional<QByteArray> RealFileAccess::readAll(const QString &path) {
    if (QFileInfo(path).isDir())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

bool RealFileAccess::ensureExists(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    file.close();
    return file.error() == QFileDevice::NoError;
}

std::optional<qint64> RealFileAccess::size(const QString &path) {
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile())
        return std::nullopt;
    return info.size();
}

bool RealFileAccess::append(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    // Unbuffered: the bytes go to the system in one write, not in buffer-sized pieces.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    const qint64 written = file.write(bytes);
    file.close();
    return written == bytes.size() && file.error() == QFileDevice::NoError;
}

bool RealFileAccess::truncate(const QString &path, qint64 size) {
    return QFile::resize(path, size);
}

} // namespace pv2
