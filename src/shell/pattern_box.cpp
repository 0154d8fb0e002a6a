#include "pattern_box.h"

#include "beat/beat_engine.h"
#include "beat_display.h"
#include "key_dispatcher.h"
#include "pattern/pattern_text.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>

namespace pv2 {

PatternBox::PatternBox(const Controls &controls, BeatEngine &engine, BeatDisplay &display,
                       std::function<void()> reseedFluct)
    : c(controls), m_engine(engine), m_display(display), m_reseedFluct(std::move(reseedFluct)) {
    connect(c.Text1, &QLineEdit::textChanged, this, &PatternBox::onPatternChanged);
    connect(c.chkVar, &QCheckBox::toggled, this, [this] {
        m_engine.rebuildBeats();
        m_display.B_Disp();
    });
}

void PatternBox::onPatternChanged() {
    if (m_inPatternUpdate)
        return;
    m_inPatternUpdate = true;
    const QString cleaned = cleanPattern(c.Text1->text());
    if (cleaned != c.Text1->text())
        c.Text1->setText(cleaned);
    m_inPatternUpdate = false;
    m_engine.rebuildBeats();
    m_display.B_Disp();
    const FluctBoxState fb = fluctBoxFor(cleaned);
    if (fb.caption)
        c.chkVar->setText(*fb.caption);
    c.chkVar->setEnabled(fb.enabled);
    if (fb.reseed)
        m_reseedFluct();
}

void PatternBox::beatStep(bool plus) {
    const QString text = c.Text1->text();
    c.Text1->setText(plus ? beatPlus(text) : beatMinus(text));
    onPatternChanged();
}

bool PatternBox::keyPress(QKeyEvent *event) {
    if (!event->text().isEmpty()) {
        m_engine.rebuildBeats();
        m_display.B_Disp();
    }
    if (virtualKeyOf(*event) == vk::Return) {
        c.next->setFocus();
        return true;
    }
    return false;
}

} // namespace pv2
