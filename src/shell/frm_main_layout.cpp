// The main window's controls: creation in tab order, and the layout pass on resizing.
#include "frm_main.h"

#include "picture_box.h"
#include "platform/numeric.h"
#include "ui/twips.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <algorithm>

namespace pv2 {

namespace {

constexpr int kMinOuter = 8000;

QTimer *preciseSingleShot(QObject *parent) {
    auto *t = new QTimer(parent);
    t->setSingleShot(true);
    t->setTimerType(Qt::PreciseTimer);
    return t;
}

} // namespace

LayoutGeometry computeLayout(int W, int H, int ballHeight) {
    W = std::max(W, kMinOuter);
    H = std::max(H, kMinOuter);
    LayoutGeometry g;
    g.areaW = std::min(W - 360 - 1440 - 60, 32767);
    g.areaH = std::min(H - 2400, 32767);
    g.picture2Top = 1080 + g.areaH;
    g.bgLeft = 360 + g.areaW - 360;
    g.bgTop = 1080 + 120;
    g.endTop = H - 1800;
    g.fkeyRowTop = roundToInt16(g.picture2Top + 0.6 * 840);
    g.l3Top = roundToInt16((g.areaH - ballHeight / 15.0) * 0.12 + 1080 + 120);
    g.bmarkTop = roundToInt16(840 * 0.2 + g.picture2Top);
    return g;
}

void frm_main::createControls() {
    setMinimumSize(twipsToPixels(kMinOuter) + 1, twipsToPixels(kMinOuter) + 1);
    QFont::insertSubstitution(QStringLiteral("MS UI Gothic"), QStringLiteral("IPAGothic"));
    QFont::insertSubstitution(QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"));
    QFont::insertSubstitution(QStringLiteral("MS Gothic"), QStringLiteral("IPAGothic"));

    auto button = [this](const QString &caption, QRect r) {
        auto *b = new QPushButton(caption, this);
        b->setGeometry(r);
        b->setAutoDefault(false);
        return b;
    };
    auto check = [this](const QString &caption, QRect r) {
        auto *c = new QCheckBox(caption, this);
        c->setGeometry(r);
        return c;
    };
    auto label = [this](const QString &caption, QRect r) {
        auto *l = new QLabel(caption, this);
        l->setGeometry(r);
        return l;
    };

    // Created in tab order.
    btn_start = button(QStringLiteral("START"), twipsRect(9600, 2160, 1095, 495));
    btn_start->setFont(designFont("MS UI Gothic", 12, true));
    Frame1 = new QGroupBox(QStringLiteral("Tick Sound"), this);
    Frame1->setGeometry(twipsRect(9600, 3120, 1095, 855));
    Frame1->setFont(designFont("MS UI Gothic", 9));
    Frame1->lower();
    sound_switch[0] = new QRadioButton(QStringLiteral("ON"), this);
    sound_switch[0]->setGeometry(twipsRect(9840, 3360, 615, 255));
    sound_switch[1] = new QRadioButton(QStringLiteral("OFF"), this);
    sound_switch[1]->setGeometry(twipsRect(9840, 3600, 735, 255));
    for (auto *o : sound_switch)
        o->setFont(designFont("MS UI Gothic", 9));
    sound_switch[0]->setChecked(true);
    btn_tune = button(QStringLiteral("CALIB"), twipsRect(9600, 4080, 1095, 495));
    btn_save = button(QStringLiteral("Save"), twipsRect(9600, 4800, 1095, 255));
    btn_reload = button(QStringLiteral("Reload"), twipsRect(9600, 5160, 1095, 255));
    btn_end = button(QStringLiteral("Exit"), twipsRect(9600, 7080, 1095, 495));
    for (auto *b : {btn_tune, btn_save, btn_end})
        b->setFont(designFont("MS UI Gothic", 9));
    chkBmark = check(QStringLiteral("Check1"), twipsRect(0, 7800, 255, 255));
    L3check = check(QString(), twipsRect(0, 2040, 255, 255));
    menu1 = new QComboBox(this);
    menu1->setGeometry(twipsRect(360, 360, 4335, 435));
    menu1->setFont(designFont("MS PGothic", 15.75));
    Text1 = new QLineEdit(QStringLiteral("1111"), this);
    Text1->setGeometry(twipsRect(4800, 360, 3255, 495));
    Text1->setFont(designFont("MS UI Gothic", 18));
    Text1->setMaxLength(15);
    Text1->setAttribute(Qt::WA_InputMethodEnabled, false);
    chkVar = check(QStringLiteral("fluct."), twipsRect(5640, 0, 975, 255));
    chkVar->setFont(designFont("MS UI Gothic", 9));
    BGdisp = check(QString(), twipsRect(9120, 1200, 195, 180));
    btn_tap = button(QStringLiteral("TAP"), twipsRect(9600, 120, 1095, 735));
    btn_tap->setFont(designFont("MS PGothic", 14.25));
    btn_tap->setAutoFillBackground(true);
    cmb_speed = new QComboBox(this);
    cmb_speed->setEditable(true);
    cmb_speed->setInsertPolicy(QComboBox::NoInsert);
    cmb_speed->setCompleter(nullptr);
    cmb_speed->lineEdit()->setContextMenuPolicy(Qt::NoContextMenu);
    cmb_speed->lineEdit()->setAcceptDrops(false);
    cmb_speed->setGeometry(twipsRect(9600, 1440, 1095, 480));
    cmb_speed->setFont(designFont("MS PGothic", 18));
    cmb_speed->setEditText(QStringLiteral("80"));

    Picture1 = new PictureBox(this);
    Picture1->setGeometry(twipsRect(360, 1080, 9135, 6495));
    Picture1->setBackground(colorFromBgr(0xFF0000));
    Picture2 = new PictureBox(this);
    Picture2->setGeometry(twipsRect(360, 7680, 9135, 615));
    Picture2->setFont(designFont("MS UI Gothic", 20.25));
    Picture2->setBackground(palette().color(QPalette::Base));
    BGdisp->raise();

    Label1 = label(QStringLiteral("BEAT"), twipsRect(4800, 0, 1215, 375));
    Label2 = label(QStringLiteral("TEMPO"), twipsRect(9600, 1080, 1215, 375));
    Label3 = label(QStringLiteral("MENU"), twipsRect(360, 0, 1695, 375));
    for (auto *l : {Label1, Label2, Label3})
        l->setFont(designFont("MS UI Gothic", 15.75));
    chkVar->raise();
    CursorImage = label(QString(), twipsRect(480, 6720, 3255, 735));
    CursorImage->hide();

    static const char *captions[8] = {"HELP",       "BEAT-",  "BEAT+",  "TAP",
                                      "START/STOP", "TEMPO-", "TEMPO+", "SOUND ON/OFF"};
    static const int lefts[8] = {360, 1320, 2280, 3240, 4440, 5880, 6960, 8040};
    static const int widths[8] = {855, 850, 855, 855, 1335, 975, 975, 1575};
    for (int i = 0; i < 8; ++i) {
        btn_f[i] =
            button(QString::fromLatin1(captions[i]), twipsRect(lefts[i], 8400, widths[i], 300));
        btn_f[i]->setFocusPolicy(Qt::ClickFocus);
    }

    beat_timer = new QTimer(this);
    beat_timer->setTimerType(Qt::PreciseTimer);
    beat_timer->setInterval(16);
    landing_timer = preciseSingleShot(this);
    frame_timer = preciseSingleShot(this);
    picture_menu = new QMenu(this);
    Picture1->setContextMenuPolicy(Qt::CustomContextMenu);

    QWidget *tabOrder[] = {btn_start,  sound_switch[0], sound_switch[1], btn_tune, btn_save,
                           btn_reload, btn_end,         chkBmark,        L3check,  menu1,
                           Text1,      chkVar,          BGdisp,          btn_tap,  cmb_speed};
    for (size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
}

// The right-hand controls keep their distance from the right edge.
void frm_main::recordRightGaps() {
    const int W = width() * kTwipsPerPixel;
    QWidget *anchored[] = {Label2,   cmb_speed,       btn_tap,         btn_start,
                           Frame1,   sound_switch[0], sound_switch[1], btn_tune,
                           btn_save, btn_reload,      btn_end};
    for (size_t i = 0; i < std::size(anchored); ++i)
        rightGap[i] = W - anchored[i]->x() * kTwipsPerPixel;
}

void frm_main::Form_Resize() {
    if (isMinimized())
        return;
    // Qt draws the frame itself, so the outer size here is the client size.
    const int W = std::max(width() * kTwipsPerPixel, kMinOuter);
    const int H = std::max(height() * kTwipsPerPixel, kMinOuter);
    const LayoutGeometry g = computeLayout(W, H, m_engine.state().ballHeight);
    if (g.areaW < 1 || g.areaH < 1)
        return;
    Picture1->setGeometry(twipsRect(360, 1080, g.areaW, g.areaH));
    Picture2->setGeometry(twipsRect(360, g.picture2Top, g.areaW, 840));
    BGdisp->move(twipsToPixels(g.bgLeft), twipsToPixels(g.bgTop));
    btn_end->move(twipsToPixels(W - rightGap[10]), twipsToPixels(g.endTop));
    QWidget *anchored[] = {Label2,          cmb_speed,       btn_tap,  btn_start, Frame1,
                           sound_switch[0], sound_switch[1], btn_tune, btn_save,  btn_reload};
    for (size_t i = 0; i < std::size(anchored); ++i)
        anchored[i]->move(twipsToPixels(W - rightGap[i]), anchored[i]->y());
    m_fkeyRowTop = g.fkeyRowTop;
    for (auto *b : btn_f)
        b->move(b->x(), twipsToPixels(m_fkeyRowTop));
    L3check->move(twipsToPixels(100), twipsToPixels(g.l3Top));
    chkBmark->move(twipsToPixels(100), twipsToPixels(g.bmarkTop));
    m_engine.rebuildBeats();
    m_display->B_Disp();
}

} // namespace pv2
