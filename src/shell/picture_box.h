#pragma once

#include <QColor>
#include <QImage>
#include <QRegion>
#include <QWidget>

namespace pv2 {

// A drawing surface that repaints from its own image, so what is drawn stays drawn.
// It remembers where things were drawn, so clearing and repainting touch only those places:
// the ball moves fifty times a second and the rest of the area stays as it is.
class PictureBox : public QWidget {
    Q_OBJECT
public:
    explicit PictureBox(QWidget *parent = nullptr);

    QImage &image() { return m_image; }
    const QImage &image() const { return m_image; }
    QColor background() const { return m_background; }
    void setBackground(const QColor &c);
    void clear();
    // Whoever draws into image() says where, so the next clear() erases it.
    void markDrawn(const QRect &r);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QImage m_image;
    QColor m_background = Qt::white;
    QRegion m_drawn;
};

// Colours are kept as 0x00BBGGRR values.
inline QColor colorFromBgr(uint32_t bgr) {
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

} // namespace pv2
