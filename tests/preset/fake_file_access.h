#pragma once

#include "platform/text_file.h"

#include <QHash>
#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString &s, std::ostream *os) {
    *os << '"' << s.toStdString() << '"';
}

namespace pv2::test {

// Files held in memory; each step can be told to fail.
class MemoryFileAccess : public FileAccess {
public:
    QHash<QString, QByteArray> files;
    bool failEnsure = false;
    bool failAppend = false;
    int appendCalls = 0;

    std::optional<QByteArray> readAll(const QString &path) override {
        if (!files.contains(path))
            return std::nullopt;
        return files.value(path);
    }
    bool ensureExists(const QString &path) override {
        if (failEnsure)
            return false;
        if (!files.contains(path))
            files.insert(path, QByteArray());
        return true;
    }
    std::optional<qint64> size(const QString &path) override {
        if (!files.contains(path))
            return std::nullopt;
        return files.value(path).size();
    }
    bool append(const QString &path, const QByteArray &bytes) override {
        ++appendCalls;
        if (failAppend || !files.contains(path))
            return false;
        files[path] += bytes;
        return true;
    }
    bool truncate(const QString &path, qint64 size) override {
        if (!files.contains(path))
            return false;
        files[path].truncate(size);
        return true;
    }
};

// The real file system, except that appending writes only the first `keep` bytes and then
// reports failure, as a full disk does.
class ShortWriteFileAccess : public RealFileAccess {
public:
    explicit ShortWriteFileAccess(qsizetype keep) : keep(keep) {}
    bool append(const QString &path, const QByteArray &bytes) override {
        if (keep > 0)
            RealFileAccess::append(path, bytes.left(keep));
        return false;
    }

private:
    qsizetype keep;
};

} // namespace pv2::test
