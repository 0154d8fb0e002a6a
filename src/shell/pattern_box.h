#pragma once

#include <QObject>
#include <functional>

class QCheckBox;
class QKeyEvent;
class QLineEdit;
class QWidget;

namespace pv2 {

class BeatDisplay;
class BeatEngine;

// The pattern box and the fluctuation box beside it.
class PatternBox : public QObject {
    Q_OBJECT
public:
    struct Controls {
        QLineEdit *Text1;
        QCheckBox *chkVar;
        QWidget *next; // where Return in the pattern box goes
    };
    PatternBox(const Controls &controls, BeatEngine &engine, BeatDisplay &display,
               std::function<void()> reseedFluct);

    // Cleans the text up, then rebuilds the schedule and the beat row.
    void onPatternChanged();
    // One beat more or less in the pattern.
    void beatStep(bool plus);
    // The box's own keys; true when the key is used up here.
    bool keyPress(QKeyEvent *event);

private:
    Controls c;
    BeatEngine &m_engine;
    BeatDisplay &m_display;
    std::function<void()> m_reseedFluct;
    bool m_inPatternUpdate = false;
};

} // namespace pv2
