#include "frm_save.h"

#include "platform/message_boxes.h"
#include "platform/text_file.h"
#include "preset/preset_file.h"
#include "ui/twips.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <algorithm>
#include <cmath>

namespace pv2 {

namespace {

// The format with its quoted literals taken out, so that only field letters are read.
QString unquoted(const QString &fmt) {
    QString out;
    bool quoted = false;
    for (const QChar c : fmt) {
        if (c == u'\'')
            quoted = !quoted;
        else if (!quoted)
            out += c;
    }
    return out;
}

// The locale's short date when it is all numbers; otherwise (the C locale's "1 May 2024", a
// quoted word) year/month/day as on a Japanese system.
QString numericDateFormat(const QLocale &loc) {
    const QString f = loc.dateFormat(QLocale::ShortFormat);
    const bool numeric = !f.contains(u'\'') && !f.contains(QLatin1String("MMM")) &&
                         !f.contains(QLatin1String("ddd")) &&
                         std::all_of(f.begin(), f.end(), [](QChar c) {
                             return !c.isLetter() || c == u'd' || c == u'M' || c == u'y';
                         });
    return numeric ? f : QStringLiteral("yyyy/MM/dd");
}

// Hours, minutes and seconds joined by colons, in the locale's hour style. A 12-hour locale
// keeps its AM/PM marker where it puts it, since without it the hour is ambiguous; zone
// names, unit words and other separators are left out, and the blank is a plain one so
// that the preset file's code page can hold it.
QString clockFormat(const QLocale &loc) {
    const QString f = unquoted(loc.timeFormat(QLocale::ShortFormat));
    qsizetype hourAt = 0;
    while (hourAt < f.size() && f[hourAt] != u'h' && f[hourAt] != u'H')
        ++hourAt;
    if (hourAt == f.size())
        return QStringLiteral("HH:mm:ss");
    const QChar h = f[hourAt];
    const int digits = hourAt + 1 < f.size() && f[hourAt + 1] == h ? 2 : 1;
    const QString clock = QString(digits, h) + QStringLiteral(":mm:ss");
    const qsizetype apAt = f.indexOf(u'a', 0, Qt::CaseInsensitive);
    if (h != u'h' || apAt < 0)
        return clock; // Qt counts 'H', and 'h' without a marker, from 0 to 23
    const bool twoLetters = apAt + 1 < f.size() && (f[apAt + 1] == u'p' || f[apAt + 1] == u'P');
    const QString marker = f.mid(apAt, twoLetters ? 2 : 1);
    return apAt < hourAt ? marker + u' ' + clock : clock + u' ' + marker;
}

} // namespace

QString frm_save::dateTimeText(const QDateTime &dt, const QLocale &loc) {
    const QString date = loc.toString(dt.date(), numericDateFormat(loc));
    // The title shows whole seconds, so a clock reading of 00:00:00.400 is midnight too.
    const QTime t = dt.time();
    if (t.hour() == 0 && t.minute() == 0 && t.second() == 0)
        return date;
    return date + u' ' + loc.toString(t, clockFormat(loc));
}

frm_save::frm_save(const SaveSnapshot &snapshot, FileAccess &files, QString path,
                   MessageBoxes &boxes, std::function<void()> onSaved,
                   std::function<QDateTime()> now, QWidget *parent)
    : QWidget(parent, Qt::Window), m_files(files), m_path(std::move(path)), m_boxes(boxes),
      m_onSaved(std::move(onSaved)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Save"));
    setGeometry(twipsRect(3420, 4110, 8010, 3990));

    title = new QLineEdit(this);
    title->setGeometry(twipsRect(1320, 1800, 4335, 420));
    title->setFont(designFont("MS PGothic", 14.25));
    memo = new QLineEdit(this);
    memo->setGeometry(twipsRect(1320, 2520, 6135, 375));
    memo->setFont(designFont("MS PGothic", 12));
    btn_save = new QPushButton(QStringLiteral("Save"), this);
    btn_save->setGeometry(twipsRect(4200, 3120, 1335, 495));
    btn_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    btn_cancel->setGeometry(twipsRect(6000, 3120, 1335, 495));
    beat = new QLineEdit(this);
    beat->setGeometry(twipsRect(1320, 120, 1455, 375));
    tempo = new QLineEdit(this);
    tempo->setGeometry(twipsRect(1320, 600, 735, 375));
    chkS = new QCheckBox(QStringLiteral("Sound"), this);
    chkS->setGeometry(twipsRect(3240, 120, 975, 255));
    chkA = new QCheckBox(QStringLiteral("Pulvano"), this);
    chkA->setGeometry(twipsRect(3240, 480, 975, 255));
    chkG = new QCheckBox(QStringLiteral("Guide Line"), this);
    chkG->setGeometry(twipsRect(4320, 120, 1335, 255));
    chkD = new QCheckBox(QStringLiteral("Beat Number"), this);
    chkD->setGeometry(twipsRect(3240, 840, 1455, 255));
    chkF = new QCheckBox(QStringLiteral("Fluctuation"), this);
    chkF->setGeometry(twipsRect(4320, 480, 1335, 255));
    chkP = new QCheckBox(QStringLiteral("Practice"), this);
    chkP->setGeometry(twipsRect(4320, 840, 1335, 255));
    Label1 = new QLabel(QStringLiteral("Title"), this);
    Label1->move(twipsRect(360, 1920, 0, 0).topLeft());
    Label1->setFont(designFont("MS PGothic", 15.75));
    Label1->adjustSize();
    Label2 = new QLabel(QStringLiteral("Memo"), this);
    Label2->move(twipsRect(360, 2520, 0, 0).topLeft());
    Label2->setFont(designFont("MS PGothic", 14.25));
    Label2->adjustSize();
    Label3 = new QLabel(QStringLiteral("BEAT"), this);
    Label3->move(twipsRect(600, 240, 0, 0).topLeft());
    Label3->adjustSize();
    Label4 = new QLabel(QStringLiteral("TEMPO"), this);
    Label4->move(twipsRect(600, 720, 0, 0).topLeft());
    Label4->adjustSize();

    QWidget *order[] = {title, memo, btn_save, btn_cancel, beat, tempo,
                        chkS,  chkA, chkG,     chkD,       chkF, chkP};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    // The snapshot, in the order the fields are filled.
    beat->setText(snapshot.beat);
    chkS->setChecked(snapshot.sound);
    chkA->setChecked(snapshot.upbeat);
    chkF->setChecked(snapshot.fluct);
    chkD->setChecked(snapshot.beatNumbers);
    chkG->setChecked(snapshot.guideLine);
    tempo->setText(snapshot.tempo);
    title->setText(dateTimeText(now ? now() : QDateTime::currentDateTime()));

    connect(btn_save, &QPushButton::clicked, this, &frm_save::btn_save_Click);
    connect(btn_cancel, &QPushButton::clicked, this, &QWidget::close);

    if (!m_files.ensureExists(m_path))
        m_boxes.show(QStringLiteral("ファイルへの書き込みができません。キャンセルしてください"));
}

void frm_save::offerPractice(const PracticeSettings &p) {
    m_practice = p;
    chkP->setChecked(p.on);
}

void frm_save::btn_save_Click() {
    QString tempoText = tempo->text();
    QString line = composePresetLine(title->text(), beat->text(), tempoText, chkS->isChecked(),
                                     chkA->isChecked(), chkD->isChecked(), chkG->isChecked(),
                                     chkF->isChecked(), memo->text());
    if (chkP->isChecked())
        line = withPracticeToken(line, m_practice);
    if (tempoText != tempo->text())
        tempo->setText(tempoText);
    if (appendPresetLine(m_files, m_path, line) != AppendResult::Ok) {
        m_boxes.show(
            QStringLiteral("ファイルへの書き込みができませんでした。キャンセルしてください"));
        return;
    }
    auto onSaved = m_onSaved;
    close();
    if (onSaved)
        onSaved();
}

} // namespace pv2
