#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

namespace pv2 {

// A drawing surface that repaints from its own image, so what is drawn stays drawn.
class PictureBox : public QWidget {
    Q_OBJECT
public:
    explicit PictureBox(QWidget *parent = nullptr);

    QImage &image() { return m_image; }
    const QImage &image() const { return m_image; }
    QColor background() const { return m_background; }
    void setBackground(const QColor &c);
    void clear();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QImage m_image;
    QColor m_background = Qt::white;
};

// Colours are kept as 0x00BBGGRR values.
inline QColor colorFromBgr(uint32_t bgr) {
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

} // namespace pv2
