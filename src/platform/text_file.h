#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace pv2 {

enum class TextEncoding { Utf8, Cp932 };

struct DecodedText {
    QStringList lines;
    TextEncoding encoding = TextEncoding::Utf8;
    bool pureAscii = true; // no byte above 0x7F: the encoding is not decided by the content
};

// Valid UTF-8 is read as UTF-8, anything else as code page 932. CR LF and LF both end a line;
// a last line without a line end still counts. A leading UTF-8 byte order mark is dropped.
DecodedText decodeText(const QByteArray &bytes);

// nullopt when a character has no exact representation in the encoding.
std::optional<QByteArray> encodeText(const QString &text, TextEncoding enc);

// The encoding for files that do not show one yet (new, empty or plain ASCII).
TextEncoding systemEncoding();

// Every file touch goes through this, so that tests can make any step fail.
class FileAccess {
public:
    virtual ~FileAccess() = default;
    // nullopt: missing or unreadable.
    virtual std::optional<QByteArray> readAll(const QString &path) = 0;
    // Opens for appending and closes again, creating the file if needed.
    virtual bool ensureExists(const QString &path) = 0;
    // nullopt: missing or not a regular file.
    virtual std::optional<qint64> size(const QString &path) = 0;
    // Appends the bytes in one write.
    virtual bool append(const QString &path, const QByteArray &bytes) = 0;
    virtual bool truncate(const QString &path, qint64 size) = 0;
};

class RealFileAccess : public FileAccess {
public:
    std::optional<QByteArray> readAll(const QString &path) override;
    bool ensureExists(const QString &path) override;
    std::optional<qint64> size(const QString &path) override;
    bool append(const QString &path, const QByteArray &bytes) override;
    bool truncate(const QString &path, qint64 size) override;
};

} // namespace pv2
