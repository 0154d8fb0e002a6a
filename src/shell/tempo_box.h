#pragma once

#include "pattern/tap_tempo.h"

#include <QObject>

class QColor;
class QComboBox;
class QKeyEvent;
class QPushButton;

namespace pv2 {

class BeatEngine;
class TickCounter;

// The tempo box and the TAP button that writes into it.
class TempoBox : public QObject {
    Q_OBJECT
public:
    struct Controls {
        QComboBox *cmb_speed;
        QPushButton *btn_tap;
        QPushButton *btn_start; // where the focus goes once a tempo is entered
    };
    TempoBox(const Controls &controls, BeatEngine &engine, TickCounter &counter);

    // Fills the list and shows the starting tempo.
    void load();
    // Sets the box text as code does: no handling of its own runs.
    void setSpeedText(const QString &text);
    // A list entry becomes the tempo, from the next beat on.
    void selectSpeedEntry(int index);
    void tempoStep(bool up);
    // Character filtering of the box; true when the key is used up here.
    bool keyPress(QKeyEvent *event);
    void btn_tap_KeyDown(int keyCode);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void speedArrow(bool up);
    void setTapColour(const QColor &colour);

    Controls c;
    BeatEngine &m_engine;
    TickCounter &m_counter;
    TapTempo m_tap;
    bool m_speedSelected = false;
};

} // namespace pv2
