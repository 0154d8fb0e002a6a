#pragma once

#include "platform/text_file.h"
#include "preset/preset_file.h"

#include <QHash>
#include <functional>
#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString &s, std::ostream *os) {
    *os << '"' << s.toStdString() << '"';
}

namespace pv2::test {

// Files held in memory. The call numbered `failAt` (every call counts, from 0) fails; a failing
// append still writes its first `keep` bytes, as a full disk does.
class MemoryFileAccess : public FileAccess {
public:
    explicit MemoryFileAccess(int failAt = -1, qsizetype keep = 0) : failAt(failAt), keep(keep) {}
    QHash<QString, QByteArray> files;
    int failAt;
    qsizetype keep;
    int calls = 0;
    int appendCalls = 0;
    std::function<void()> afterRead; // lets another program change the file after our read

    std::optional<QByteArray> readAll(const QString &path) override {
        if (!works(path))
            return std::nullopt;
        const QByteArray bytes = files.value(path);
        if (afterRead)
            afterRead();
        return bytes;
    }
    bool ensureExists(const QString &path) override {
        if (fails())
            return false;
        files.insert(path, files.value(path));
        return true;
    }
    std::optional<qint64> size(const QString &path) override {
        return works(path) ? std::optional(files.value(path).size()) : std::nullopt;
    }
    bool append(const QString &path, const QByteArray &bytes) override {
        ++appendCalls;
        const bool ok = !fails();
        if (!files.contains(path))
            return false;
        files[path] += ok ? bytes : bytes.left(keep);
        return ok;
    }
    bool truncate(const QString &path, qint64 size) override {
        if (!works(path))
            return false;
        files[path].truncate(size);
        return true;
    }
    bool failed() const { return failAt >= 0 && calls > failAt; }

private:
    bool fails() { return calls++ == failAt; }
    bool works(const QString &path) { return !fails() && files.contains(path); }
};

// "title|parm|m|s|a|g|d|f|memo"
inline QString fields(const PresetRecord &p) {
    return QStringList{p.title, p.parm, p.m, p.s, p.a, p.g, p.d, p.f, p.memo}.join(u'|');
}

inline PresetList readBytes(const QByteArray &bytes, PresetSettings &settings) {
    MemoryFileAccess fs;
    fs.files.insert(QStringLiteral("menu.txt"), bytes);
    return readPresetFile(fs, QStringLiteral("menu.txt"), settings);
}

} // namespace pv2::test
