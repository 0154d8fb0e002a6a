#pragma once

#include "platform/text_file.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace pv2 {

struct PresetRecord {
    QString title, parm, m, s, a, g, d, f, memo;
    // The line's "practice=(...)" token before its memo, as written; empty without one.
    QString practice;
};

// Title of a separator entry, also its list text.
inline const QString separatorTitle = QStringLiteral("-----------------");
// Shown in the preset list when the file cannot be read.
inline const QString noMenuFileText = QStringLiteral("メニューファイルがありません");
inline constexpr int maxPresetEntries = 101;

// First captured group of the first match of `pattern` in `text`, or empty.
QString getParm(const QString &text, const QString &pattern);

// The fields of one preset line; title and memo lose their surrounding spaces.
PresetRecord setParm(const QString &line);

// List text of a preset entry: title(pattern).
QString presetListText(const PresetRecord &p);

struct PresetSettings {
    int16_t timerInterval = 20;
    bool showSaveButtons = true;
    float fluctDepth = 0.2f;
};

struct PresetList {
    bool ok = false;
    std::vector<PresetRecord> presets;
    QStringList listTexts; // entry i shows listTexts[i] and applies presets[i]
};

// Reads the preset file. `settings` are changed only by the settings lines the file holds (and
// showSaveButtons goes back to true when the file cannot be read). Reading stops before a 102nd
// entry; only a missing or unreadable file gives ok == false.
PresetList readPresetFile(FileAccess &fs, const QString &path, PresetSettings &settings);

// One preset line without its line end. A tempo that reads as 0 is replaced by "80" in `tempo`
// as well, so the caller's field shows what was written. Line breaks inside the texts become
// spaces so that one preset stays one line.
QString composePresetLine(const QString &title, const QString &beat, QString &tempo, bool s, bool a,
                          bool d, bool g, bool f, const QString &memo);

enum class AppendResult { Ok, Failed };

// Appends `line` plus CR LF in the encoding the file already uses, creating the file if needed.
// On Failed the file holds exactly the bytes it held before.
AppendResult appendPresetLine(FileAccess &fs, const QString &path, const QString &line);

} // namespace pv2
