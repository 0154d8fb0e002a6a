#include "frm_main.h"

#include "audio/midi_out.h"
#include "dialogs/frm_save.h"
#include "dialogs/frm_tune.h"
#include "pattern/beat_labels.h"
#include "pattern/pattern_text.h"
#include "pattern/tempo_list.h"
#include "picture_box.h"
#include "platform/message_boxes.h"
#include "platform/numeric.h"
#include "platform/tick_counter.h"
#include "ui/help_viewer.h"
#include "ui/sprite.h"
#include "ui/twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace pv2 {

namespace {

constexpr int kDesignClientW = 10770;
constexpr int kDesignClientH = 9060;
constexpr int kMinOuter = 8000;

// The digit row by its physical key, whatever the layout and Shift make of it ('#' for
// Shift+3 on a US keyboard, '"' for the 3 key on a French one); 0 where the event does not
// say, as on the offscreen platform.
int digitRowKey(const QKeyEvent &e, NativeKeys native) {
    if (native == NativeKeys::Windows) {
        const quint32 vk = e.nativeVirtualKey();
        return vk >= '0' && vk <= '9' ? static_cast<int>(vk) : 0;
    }
    const quint32 code = e.nativeScanCode(); // X keycodes 10 to 19: the keys 1 to 9, then 0
    if (code >= 10 && code <= 18)
        return '1' + static_cast<int>(code - 10);
    return code == 19 ? '0' : 0;
}

} // namespace

int virtualKeyOf(const QKeyEvent &e, NativeKeys native) {
    const int k = e.key();
    const bool keypad = e.modifiers() & Qt::KeypadModifier;
    if (!keypad)
        if (const int digit = digitRowKey(e, native))
            return digit;
    if (k >= Qt::Key_0 && k <= Qt::Key_9)
        return keypad ? 96 + (k - Qt::Key_0) : k;
    if (k >= Qt::Key_A && k <= Qt::Key_Z)
        return k;
    if (k >= Qt::Key_F1 && k <= Qt::Key_F24)
        return 112 + (k - Qt::Key_F1);
    switch (k) {
    case Qt::Key_Space:
        return 32;
    case Qt::Key_Slash:
        return keypad ? 111 : 191; // only the main keyboard's slash taps
    case Qt::Key_Question:
        return 191;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Left:
        return 37;
    case Qt::Key_Up:
        return 38;
    case Qt::Key_Right:
        return 39;
    case Qt::Key_Down:
        return 40;
    case Qt::Key_Shift:
        return 16;
    case Qt::Key_Control:
        return 17;
    case Qt::Key_Alt:
        return 18;
    case Qt::Key_Delete:
        return 46;
    default:
        return 255;
    }
}

namespace {
constexpr int kVkReturn = 13;

} // namespace

class MainBallView : public BallView {
public:
    explicit MainBallView(frm_main &w) : m(w) {}
    int areaHeight() const override { return m.Picture1->image().height(); }
    void clearArea() override { m.Picture1->clear(); }
    void setBackground(uint32_t bgr) override { m.Picture1->setBackground(colorFromBgr(bgr)); }
    void drawBall(int x, int y) override {
        drawSprite(m.Picture1->image(), m.m_ball, x, y, m.st.ballWidth, m.st.ballHeight);
        m.Picture1->markDrawn(QRect(x, y, m.st.ballWidth, m.st.ballHeight));
    }
    void drawGuideLine() override { m.drawL3(); }
    void showMemo() override { m.dispMemo(m.m_presetMemo); }

private:
    frm_main &m;
};

namespace {
class QtBeatTimer : public BeatTimer {
public:
    explicit QtBeatTimer(QTimer *t) : m_timer(t) {}
    void start(int periodMs) override { m_timer->start(periodMs); }
    void stop() override { m_timer->stop(); }
    bool isActive() const override { return m_timer->isActive(); }

private:
    QTimer *m_timer;
};

class QtOneShot : public FramePacer::OneShot {
public:
    explicit QtOneShot(QTimer *t) : m_timer(t) {}
    void start(int ms) override { m_timer->start(ms); }
    void stop() override { m_timer->stop(); }

private:
    QTimer *m_timer;
};

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

QString frm_main::menuCaption() {
    return QStringLiteral("プリセット・メニュー");
}
QString frm_main::menuUpdatedCaption() {
    return QStringLiteral("プリセット・メニュー(更新)");
}
QString frm_main::menuMissingCaption() {
    return QStringLiteral("メニューファイルがありません");
}

frm_main::frm_main(const Services &services, QWidget *parent)
    : QWidget(parent), m_services(services), m_tick(services.midi, services.boxes),
      m_userSettings(services.settingsFile.isEmpty() ? UserSettings()
                                                     : UserSettings(services.settingsFile)) {
    setWindowTitle(QStringLiteral("Pulvano2"));
    // The design places the client area; move() would place the frame's corner there.
    setGeometry(twipsRect(2550, 1740, kDesignClientW, kDesignClientH));
    setMinimumSize(twipsToPixels(kMinOuter) + 1, twipsToPixels(kMinOuter) + 1);
    createControls();
    m_timerAdapter = std::make_unique<QtBeatTimer>(beat_timer);
    m_view = std::make_unique<MainBallView>(*this);
    m_frameShot = std::make_unique<QtOneShot>(frame_timer);
    m_pacer = std::make_unique<FramePacer>(*m_view, m_services.counter, *m_frameShot,
                                           [this](const std::function<void()> &draw) {
                                               Picture1->beginFrame();
                                               draw();
                                               Picture1->endFrame();
                                           });
    m_syncOffset = m_userSettings.syncOffsetMs();
    m_clock = std::make_unique<BeatClock>(
        st, m_services.counter, *m_pacer, *m_timerAdapter, m_services.random,
        [this](bool downbeat, uint32_t due) {
            m_tick.sendTick(downbeat, due + static_cast<uint32_t>(m_avPlan.tickShiftMs));
        },
        [this] { return chkVar->isChecked(); }, [this] { return BGdisp->isChecked(); });
    m_ball = makeBallSprite(st.ballWidth);
    Form_Load();
    btn_start->setFocus();
}

frm_main::~frm_main() {
    beat_timer->stop();
    landing_timer->stop();
    frame_timer->stop();
    m_tick.closeTickDevice();
    delete m_tuneDialog.data();
    delete m_saveDialog.data();
    delete m_syncDialog.data();
    // The controls go after this part of the window; the focus leaving the tempo box while they
    // go makes it report the edit as finished, which must not reach a half-destroyed window.
    for (QObject *child : findChildren<QObject *>())
        disconnect(child, nullptr, this, nullptr);
}

void frm_main::createControls() {
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
        const int code = 112 + i;
        connect(btn_f[i], &QPushButton::clicked, this, [this, code] {
            int key = code;
            Form_KeyDown(key, 0);
        });
    }

    beat_timer = new QTimer(this);
    beat_timer->setTimerType(Qt::PreciseTimer);
    beat_timer->setInterval(16);
    connect(beat_timer, &QTimer::timeout, this, &frm_main::beatTimerFired);
    landing_timer = preciseSingleShot(this);
    connect(landing_timer, &QTimer::timeout, this, &frm_main::beatTimerFired);
    frame_timer = preciseSingleShot(this);
    connect(frame_timer, &QTimer::timeout, this, &frm_main::presentFrames);

    picture_menu = new QMenu(this);
    picture_menu->addAction(QStringLiteral("音と表示のずれ(&Z)...\tF9"), this,
                            &frm_main::openSyncDialog);
    Picture1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Picture1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { picture_menu->popup(Picture1->mapToGlobal(at)); });

    connect(btn_start, &QPushButton::clicked, this, &frm_main::btn_start_Click);
    connect(btn_end, &QPushButton::clicked, this, &frm_main::btn_end_Click);
    connect(btn_reload, &QPushButton::clicked, this, &frm_main::btn_reload_Click);
    connect(btn_save, &QPushButton::clicked, this, &frm_main::btn_save_Click);
    connect(btn_tune, &QPushButton::clicked, this, &frm_main::btn_tune_Click);
    connect(btn_tap, &QPushButton::clicked, this, [this] { btn_tap_KeyDown(191); });
    connect(Text1, &QLineEdit::textChanged, this, &frm_main::onPatternChanged);
    connect(cmb_speed, qOverload<int>(&QComboBox::activated), this, &frm_main::selectSpeedEntry);
    connect(cmb_speed->lineEdit(), &QLineEdit::textEdited, this,
            [this] { m_speedSelected = false; });
    connect(menu1, qOverload<int>(&QComboBox::activated), this, &frm_main::selectPreset);
    connect(chkVar, &QCheckBox::toggled, this, [this] {
        rebuildBeats();
        B_Disp();
    });
    connect(chkBmark, &QCheckBox::toggled, this, &frm_main::B_Disp);
    connect(L3check, &QCheckBox::toggled, this, [this] {
        drawL3();
        btn_start->setFocus();
    });
    connect(BGdisp, &QCheckBox::clicked, this, [this] { btn_start->setFocus(); });
    for (int i = 0; i < 2; ++i)
        connect(sound_switch[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (!on)
                return;
            st.soundOn = i == 0;
            btn_start->setFocus();
        });

    QWidget *tabOrder[] = {btn_start,  sound_switch[0], sound_switch[1], btn_tune, btn_save,
                           btn_reload, btn_end,         chkBmark,        L3check,  menu1,
                           Text1,      chkVar,          BGdisp,          btn_tap,  cmb_speed};
    for (size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    for (QWidget *w : findChildren<QWidget *>())
        attachFilter(w);
    attachFilter(this);
}

void frm_main::attachFilter(QWidget *w) {
    w->installEventFilter(this);
}

void frm_main::Form_Load() {
    fluctProfile = fillFluctProfile();
    m_settings = PresetSettings{};

    const int W = width() * kTwipsPerPixel;
    QWidget *anchored[] = {Label2,   cmb_speed,       btn_tap,         btn_start,
                           Frame1,   sound_switch[0], sound_switch[1], btn_tune,
                           btn_save, btn_reload,      btn_end};
    for (size_t i = 0; i < std::size(anchored); ++i)
        rightGap[i] = W - anchored[i]->x() * kTwipsPerPixel;

    m_tick.openTickDevice();
    st.soundOn = true;

    st.isStopped = true;
    st.beatColor = 0x996644;
    st.upbeatColor = 0xFF6600;
    // The window's own text colour (blue) would only reach text printed on the window itself,
    // and nothing is; the controls keep their own colours.
    Picture1->setBackground(colorFromBgr(st.beatColor));
    st.ballWidth = 44;
    st.ballHeight = 44;

    menu1->setPlaceholderText(menuCaption());
    setPatMenu();
    if (!m_settings.showSaveButtons) {
        btn_save->setVisible(false);
        btn_reload->setVisible(false);
    }
    cmb_speed->addItems(tempoList());
    cmb_speed->setCurrentIndex(-1);
    cmb_speed->setEditText(QStringLiteral("80"));
    m_speedSelected = false;
}

QString frm_main::menuText() const {
    return menu1->currentIndex() >= 0 ? menu1->currentText() : menu1->placeholderText();
}

// ---- layout ----

void frm_main::Form_Resize() {
    if (isMinimized())
        return;
    // Qt draws the frame itself, so the outer size here is the client size.
    const int W = std::max(width() * kTwipsPerPixel, kMinOuter);
    const int H = std::max(height() * kTwipsPerPixel, kMinOuter);
    const LayoutGeometry g = computeLayout(W, H, st.ballHeight);
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
    rebuildBeats();
    B_Disp();
}

void frm_main::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    if (m_shownOnce)
        Form_Resize();
}

void frm_main::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        Form_Resize();
    }
}

void frm_main::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    // Restoring from minimised may not resize; run a full pass all the same.
    if (event->type() == QEvent::WindowStateChange && m_shownOnce && !isMinimized())
        Form_Resize();
}

// ---- schedule ----

void frm_main::buildSchedule(Schedule &table) {
    ScheduleInput in;
    in.tempoText = cmb_speed->currentText();
    in.patternText = Text1->text();
    in.fluctChecked = chkVar->isChecked();
    in.areaWidth = Picture1->image().width();
    in.areaHeight = Picture1->image().height();
    in.fluctDepth = m_settings.fluctDepth;
    in.profile = &fluctProfile;
    const ScheduleResult r = pv2::buildSchedule(table, in);
    st.tempo = r.tempo;
    st.beatsPerBar = r.beatsPerBar;
    st.trackWidth = r.trackWidth;
    if (r.newTempoText)
        setSpeedText(*r.newTempoText);
    if (r.oneBeat) {
        st.fluctBeatMs = r.fluctBeatMs;
        st.fluctHeight = r.fluctHeight;
    }
}

// The active schedule now follows the current texts; a pending one built earlier would
// bring back an older pattern at the next beat.
void frm_main::rebuildBeats() {
    buildSchedule(st.beats);
    st.nextBeatsPending = false;
}

void frm_main::applyTempo() {
    buildSchedule(st.nextBeats);
    st.nextBeatsPending = true;
}

void frm_main::setSpeedText(const QString &text) {
    cmb_speed->setEditText(text);
    m_speedSelected = false;
}

// ---- beat display ----

void frm_main::B_Disp() {
    Picture2->clear();
    const bool numbers = chkBmark->isChecked();
    drawFont.setBold(true);
    drawFont.setPointSize(numbers ? 30 : 18);
    QPainter p(&Picture2->image());
    p.setFont(drawFont);
    p.setPen(Picture2->palette().color(QPalette::WindowText));
    const QFontMetricsF fm(drawFont, &Picture2->image());
    const auto labels =
        beatLabels(st.beats, st.beatsPerBar, numbers, fm.horizontalAdvance(QStringLiteral("3")),
                   fm.horizontalAdvance(QStringLiteral("●")), st.ballWidth, digitStart);
    for (const auto &l : labels)
        p.drawText(QPointF(l.x, fm.ascent()), l.text);
    p.end();
    Picture2->markDrawn(Picture2->image().rect());
}

void frm_main::drawL3() {
    if (!L3check->isChecked())
        return;
    QImage &img = Picture1->image();
    const int y = guideLineY(img.height(), st.ballHeight);
    QPainter p(&img);
    p.setPen(QColor(200, 200, 100));
    p.drawLine(0, y, img.width(), y);
    p.end();
    Picture1->markDrawn(QRect(0, y - 1, img.width(), 3));
}

void frm_main::dispMemo(const QString &text) {
    drawFont.setBold(true);
    drawFont.setPointSize(13);
    QImage &img = Picture1->image();
    QPainter p(&img);
    p.setFont(drawFont);
    const QFontMetricsF fm(drawFont, &img);
    const int w = static_cast<int>(std::lround(fm.horizontalAdvance(text)));
    p.setPen(Qt::white);
    const double y = img.height() - 0.88 * img.height();
    const QPointF at(img.width() / 2.0 - w / 2.0, y + fm.ascent());
    p.drawText(at, text);
    p.end();
    Picture1->markDrawn(
        fm.boundingRect(text).translated(at).toAlignedRect().adjusted(-2, -2, 2, 2));
}

// ---- pattern box ----

void frm_main::onPatternChanged() {
    if (m_inPatternUpdate)
        return;
    m_inPatternUpdate = true;
    const QString cleaned = cleanPattern(Text1->text());
    if (cleaned != Text1->text())
        Text1->setText(cleaned);
    m_inPatternUpdate = false;
    rebuildBeats();
    B_Disp();
    const FluctBoxState fb = fluctBoxFor(cleaned);
    if (fb.caption)
        chkVar->setText(*fb.caption);
    chkVar->setEnabled(fb.enabled);
    if (fb.reseed)
        m_clock->reseedFluct();
}

// ---- start and stop ----

void frm_main::btn_start_Click() {
    if (st.isStopped) {
        m_tick.resetTickSettings();
        btn_start->setText(QStringLiteral("STOP"));
        btn_start->setFocus();
        st.isStopped = false;
        rebuildBeats();
        // The first interval is the bar's last beat, so the first beat reached is beat 0.
        st.curBeat = static_cast<int16_t>(std::clamp<int>(st.beatsPerBar - 1, 0, kMaxBeats - 1));
        B_Disp();
        armBeatTimer();
    } else {
        st.stopRequested = true;
        btn_start->setFocus();
        btn_start->setText(QStringLiteral("START"));
        st.isStopped = true;
    }
}

void frm_main::btn_start_KeyDown(int keyCode) {
    if (keyCode < '1' || keyCode > '6')
        return;
    if (st.isStopped) {
        const int d = keyCode - '0';
        st.curBeat =
            std::clamp<int16_t>(digitStart[d], 0, std::max<int16_t>(0, st.beatsPerBar - 1));
        btn_start->setText(QStringLiteral("STOP"));
        btn_start->setFocus();
        st.isStopped = false;
        armBeatTimer();
    } else {
        btn_start_Click();
        btn_start->setFocus();
    }
}

void frm_main::beatTimerFired() {
    m_pacer->beginStep();
    m_clock->onTimer();
    m_pacer->endStep();
    armLanding();
}

void frm_main::presentFrames() {
    m_pacer->presentDue();
}

// A step of its own when the next beat is due, so that the landing never waits for the
// periodic timer; the flight keeps the timer's period.
void frm_main::armLanding() {
    if (!beat_timer->isActive()) {
        landing_timer->stop();
        return;
    }
    landing_timer->start(std::max(0, tickDiff(m_clock->nextBeatAt(), m_services.counter.now())));
}

void frm_main::armBeatTimer() {
    // Timed ticks may be sent up to one period late; the backend delays them to absorb it, and
    // the output wakes now so that the first tick finds it running.
    m_services.midi.setTimerPeriod(m_settings.timerInterval);
    m_services.midi.wake();
    m_pacer->flush();
    applyAvPlan();
    m_clock->armBeatTimer(m_settings.timerInterval);
    armLanding();
}

void frm_main::applyAvPlan() {
    m_avPlan = planAvSync(m_services.midi.delayMs(), BeatClock::kTickLead, m_syncOffset);
    m_pacer->setDelay(m_avPlan.pictureDelayMs);
}

void frm_main::openSyncDialog() {
    delete m_syncDialog.data();
    // Clicks for the moment they are heard, without the offset: the taps measure all of it.
    auto click = [this](uint32_t heardTick) {
        const int delay = std::max(m_services.midi.delayMs(), BeatClock::kTickLead);
        m_tick.sendTick(false, heardTick - static_cast<uint32_t>(delay));
    };
    m_syncDialog = new frm_sync(m_services.counter, click, m_syncOffset, this);
    connect(m_syncDialog, &frm_sync::offsetAccepted, this, [this](int ms) {
        m_syncOffset = clampSyncOffsetMs(ms);
        m_userSettings.setSyncOffsetMs(m_syncOffset);
        applyAvPlan();
    });
    m_syncDialog->openModal();
}

// ---- tempo box ----

void frm_main::speedArrow(bool up) {
    int index = -1;
    if (m_speedSelected && cmb_speed->currentIndex() >= 0)
        index = std::clamp(cmb_speed->currentIndex() + (up ? -1 : 1), 0, cmb_speed->count() - 1);
    else
        index = arrowSelection(cmb_speed->currentText(), up);
    if (index >= 0)
        selectSpeedEntry(index);
}

// A list entry becomes the tempo, from the next beat on.
void frm_main::selectSpeedEntry(int index) {
    cmb_speed->setCurrentIndex(index);
    cmb_speed->setEditText(cmb_speed->itemText(index));
    m_speedSelected = true;
    applyTempo();
}

// Character filtering of the tempo box; true when the key is used up here.
bool frm_main::speedKeyPress(QKeyEvent *event) {
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        speedArrow(event->key() == Qt::Key_Up);
        return true;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        applyTempo();
        btn_start->setFocus();
        return true;
    }
    switch (event->key()) {
    case Qt::Key_Delete: // X11 gives it the text U+007F, which is no character to discard
    case Qt::Key_Backspace:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Left:
    case Qt::Key_Right:
        return false;
    default:
        break;
    }
    const QString t = event->text();
    if (t.isEmpty())
        return false; // navigation and editing keys belong to the box
    const QChar c = t.at(0);
    if ((c >= u'0' && c <= u'9') || c == QChar(8))
        return false;
    if (c == u'/' || c == u'p')
        btn_tap->setFocus();
    return true;
}

void frm_main::tempoStep(bool up) {
    const auto index = up ? tempoStepUpIndex(cmb_speed->currentText())
                          : tempoStepDownIndex(cmb_speed->currentText());
    if (index)
        selectSpeedEntry(*index);
}

// ---- tap ----

void frm_main::setTapColour(const QColor &c) {
    QPalette pal = btn_tap->palette();
    pal.setColor(QPalette::Button, c);
    btn_tap->setPalette(pal);
}

void frm_main::btn_tap_KeyDown(int) {
    registerTap();
}

void frm_main::registerTap() {
    setTapColour(QColor(255, 192, 128));
    if (const auto bpm = m_tap.tap(m_services.counter.now())) {
        setSpeedText(QString::number(*bpm));
        applyTempo();
    }
}

// ---- keyboard ----

void frm_main::beatStep(bool plus) {
    Text1->setText(plus ? beatPlus(Text1->text()) : beatMinus(Text1->text()));
    onPatternChanged();
}

// The options' own handling sets soundOn.
void frm_main::soundToggle() {
    sound_switch[st.soundOn ? 1 : 0]->setChecked(true);
}

void frm_main::helpCommand() {
    const QString path = QDir(m_services.workDir).filePath(QStringLiteral("pv2help.chm"));
    if (!m_services.help.open(path))
        m_services.boxes.show(QStringLiteral("ヘルプファイル pv2help.chm を開けませんでした。"));
}

void frm_main::Form_KeyDown(int &keyCode, int shift) {
    (void)shift;
    QWidget *focus = QApplication::focusWidget();
    if (focus == cmb_speed || focus == cmb_speed->lineEdit())
        return; // the tempo box handles its own keys
    if (focus == menu1 || focus == Text1)
        return;
    switch (keyCode) {
    case 49:
    case 50:
    case 51:
    case 52:
    case 53:
    case 54:
        return; // on to the focused control's own handling
    case 66:
        Text1->setFocus();
        break;
    case 77:
        menu1->setFocus();
        break;
    case 84:
        cmb_speed->setFocus();
        break;
    case 112:
        helpCommand();
        break;
    case 113:
        beatStep(false);
        break;
    case 114:
        beatStep(true);
        break;
    case 115:
    case 191:
    case 80:
    case 65:
        btn_tap->setFocus();
        btn_tap_KeyDown(191);
        break;
    case 116:
    case 83:
    case 32:
        btn_start_Click();
        break;
    case 117:
        tempoStep(false);
        break;
    case 118:
        tempoStep(true);
        break;
    case 119:
        soundToggle();
        break;
    case 120:
        openSyncDialog();
        break;
    default:
        break;
    }
    keyCode = 0;
}

bool frm_main::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::FocusIn && watched == btn_tap)
        setTapColour(QColor(192, 170, 120));
    else if (event->type() == QEvent::FocusOut && watched == btn_tap)
        setTapColour(QApplication::palette().color(QPalette::Button));
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    auto *ke = static_cast<QKeyEvent *>(event);
    // A key bubbling up to a parent was already seen at the focused control.
    QWidget *focus = QApplication::focusWidget();
    if (watched != focus && !(focus == nullptr && watched == this))
        return false;
    if (ke->key() == Qt::Key_Tab || ke->key() == Qt::Key_Backtab)
        return false;

    if (watched == cmb_speed)
        return speedKeyPress(ke);
    if (watched == Text1) {
        if (!ke->text().isEmpty()) {
            rebuildBeats();
            B_Disp();
        }
        if (virtualKeyOf(*ke) == kVkReturn) {
            cmb_speed->setFocus();
            return true;
        }
        return false;
    }
    if (watched == menu1) {
        if (virtualKeyOf(*ke) == kVkReturn) {
            btn_start->setFocus();
            return true;
        }
        // Typed text means nothing to the list; a drop-down list would otherwise jump to an
        // entry by its first letter and apply that preset.
        const QString t = ke->text();
        return !t.isEmpty() && t.at(0).isPrint();
    }

    int key = virtualKeyOf(*ke);
    Form_KeyDown(key, 0);
    if (key == 0)
        return true;
    // Keys the dispatcher let through reach the control's own handling.
    if (watched == btn_start)
        btn_start_KeyDown(key);
    else if (watched == btn_tap)
        btn_tap_KeyDown(key);
    return true;
}

// ---- presets ----

void frm_main::setPatMenu() {
    menu1->clear();
    PresetList list =
        readPresetFile(m_services.files,
                       QDir(m_services.workDir).filePath(QStringLiteral("menu.txt")), m_settings);
    presets = std::move(list.presets);
    menu1->addItems(list.listTexts);
    menu1->setCurrentIndex(-1);
    if (!list.ok)
        menu1->setPlaceholderText(menuMissingCaption());
}

void frm_main::btn_reload_Click() {
    setPatMenu();
    menu1->setPlaceholderText(menuUpdatedCaption());
    menu1->setFocus();
}

void frm_main::presetsSaved() {
    btn_reload_Click();
}

void frm_main::resetToDefaults() {
    Text1->setText(QStringLiteral("1111"));
    setSpeedText(QStringLiteral("80"));
    chkVar->setChecked(false);
    L3check->setChecked(false);
    sound_switch[1]->setChecked(true);
    BGdisp->setChecked(false);
    chkBmark->setChecked(false);
    m_presetMemo.clear();
}

void frm_main::setMenuParm(int index) {
    if (index < 0 || index >= static_cast<int>(presets.size()))
        return;
    const PresetRecord &p = presets[index];
    Picture1->clear();
    if (!p.parm.isEmpty())
        Text1->setText(p.parm);
    if (!p.m.isEmpty())
        setSpeedText(p.m);
    if (p.s == QLatin1String("1"))
        sound_switch[0]->setChecked(true);
    else if (p.s == QLatin1String("0"))
        sound_switch[1]->setChecked(true);
    auto flag = [](QCheckBox *box, const QString &v) {
        if (v == QLatin1String("1"))
            box->setChecked(true);
        else if (v == QLatin1String("0"))
            box->setChecked(false);
    };
    flag(BGdisp, p.a);
    flag(chkBmark, p.d);
    flag(chkVar, p.f);
    flag(L3check, p.g);
    if (p.g == QLatin1String("1"))
        drawL3();
    dispMemo(p.memo);
    m_presetMemo = p.memo;
}

void frm_main::selectPreset(int index) {
    if (index < 0 || index >= static_cast<int>(presets.size()))
        return;
    if (presets[index].title.left(3) == QLatin1String("---"))
        return;
    resetToDefaults();
    setMenuParm(index);
    rebuildBeats();
    menu1->setFocus();
}

// ---- windows and shut-down ----

void frm_main::btn_save_Click() {
    if (m_saveDialog) {
        m_saveDialog->raise();
        m_saveDialog->activateWindow();
        return;
    }
    SaveSnapshot snap;
    snap.beat = Text1->text();
    snap.sound = sound_switch[0]->isChecked();
    snap.upbeat = BGdisp->isChecked();
    snap.fluct = chkVar->isChecked();
    snap.beatNumbers = chkBmark->isChecked();
    snap.guideLine = L3check->isChecked();
    snap.tempo = cmb_speed->currentText();
    m_saveDialog = new frm_save(snap, m_services.files,
                                QDir(m_services.workDir).filePath(QStringLiteral("menu.txt")),
                                m_services.boxes, [this] { presetsSaved(); });
    m_saveDialog->show();
}

void frm_main::btn_tune_Click() {
    if (!m_tuneDialog)
        m_tuneDialog = new frm_tune(
            [this](uint32_t packed) {
                if (m_tick.deviceOpen())
                    m_services.midi.shortMsg(packed);
            },
            this);
    m_tuneDialog->openModal();
}

void frm_main::closeEvent(QCloseEvent *event) {
    btn_start->setFocus();
    beat_timer->stop();
    landing_timer->stop();
    frame_timer->stop();
    m_tick.closeTickDevice();
    if (m_saveDialog)
        m_saveDialog->close();
    event->accept();
}

void frm_main::btn_end_Click() {
    beat_timer->stop();
    landing_timer->stop();
    frame_timer->stop();
    m_tick.closeTickDevice();
    if (m_services.quit)
        m_services.quit();
}

} // namespace pv2
