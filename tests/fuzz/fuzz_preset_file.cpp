// Reading a whole preset file of any bytes, then appending a preset to it and reading it again.
#include "fuzz_check.h"
#include "preset/fake_file_access.h"

using pv2::test::readBytes;

namespace {

const QString kPath = QStringLiteral("menu.txt");

QString where(const QByteArray &bytes, qsizetype entry) {
    return QStringLiteral("%1 bytes, entry %2").arg(bytes.size()).arg(entry);
}

void checkList(const QByteArray &bytes, const pv2::PresetList &list,
               const pv2::PresetSettings &settings) {
    PV2_FUZZ_CHECK(list.ok, where(bytes, -1));
    PV2_FUZZ_CHECK(list.presets.size() <= size_t(pv2::maxPresetEntries), where(bytes, -1));
    PV2_FUZZ_CHECK(size_t(list.listTexts.size()) == list.presets.size(), where(bytes, -1));
    for (qsizetype i = 0; i < list.listTexts.size(); ++i) {
        const QString &text = list.listTexts[i];
        PV2_FUZZ_CHECK(text == pv2::separatorTitle || text == pv2::presetListText(list.presets[i]),
                       where(bytes, i));
    }
    PV2_FUZZ_CHECK(settings.timerInterval >= 5 && settings.timerInterval <= 100, where(bytes, -1));
    PV2_FUZZ_CHECK(std::isfinite(settings.fluctDepth), where(bytes, -1));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray before(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    pv2::PresetSettings settings;
    checkList(before, readBytes(before, settings), settings);

    // Saving a preset to whatever the file holds must work and keep every entry there was.
    pv2::test::MemoryFileAccess fs;
    fs.files.insert(kPath, before);
    const QString line = QStringLiteral("Fuzz parm=(3 3 2-) m96 s1 a0 d1 g0 f0 memo=end");
    PV2_FUZZ_CHECK(pv2::appendPresetLine(fs, kPath, line) == pv2::AppendResult::Ok,
                   where(before, -1));
    const QByteArray after = fs.files.value(kPath);
    PV2_FUZZ_CHECK(after.startsWith(before), where(before, -1));

    // The old last line gets its line end first; that is the file the new entry follows.
    QByteArray ended = before;
    if (ended.endsWith('\r'))
        ended += '\n';
    else if (!ended.isEmpty() && !ended.endsWith('\n'))
        ended += "\r\n";
    PV2_FUZZ_CHECK(after.startsWith(ended), where(before, -1));

    pv2::PresetSettings s1, s2;
    const pv2::PresetList old = readBytes(ended, s1);
    const pv2::PresetList now = readBytes(after, s2);
    checkList(after, now, s2);
    PV2_FUZZ_CHECK(s1.timerInterval == s2.timerInterval && s1.fluctDepth == s2.fluctDepth &&
                       s1.showSaveButtons == s2.showSaveButtons,
                   where(before, -1));
    const bool room = old.presets.size() < size_t(pv2::maxPresetEntries);
    PV2_FUZZ_CHECK(now.presets.size() == old.presets.size() + (room ? 1 : 0), where(before, -1));
    for (qsizetype i = 0; i < old.listTexts.size(); ++i)
        PV2_FUZZ_CHECK(now.listTexts[i] == old.listTexts[i], where(before, i));
    if (room) {
        PV2_FUZZ_CHECK(now.listTexts.back() == QStringLiteral("Fuzz(3 3 2-)"), where(before, -1));
        PV2_FUZZ_CHECK(now.presets.back().memo == u"end", where(before, -1));
    }
    return 0;
}
