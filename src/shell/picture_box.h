#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QVarLengthArray>
#include <QWidget>
#include <functional>

class QRegion;

namespace pv2 {

// Before the application exists: frames are a few small rectangles fifty times a second, and
// through X11 shared memory each of them costs a completion event and a wait for it, which
// doubled the program's wake-ups; sent down the socket they cost neither.
void preferPlainFrameTransfer();

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

    // Between these, changes are collected and shown at once at the end, copied straight into
    // the window's backing store when nothing lies on top of them: a frame of the ball then
    // costs a copy of two small rectangles instead of a pass of the toolkit's painting.
    void beginFrame() { m_inFrame = true; }
    void endFrame();
    // Frames shown by the direct copy, and by the toolkit's painting.
    int directFrames() const { return m_directFrames; }
    int paintedFrames() const { return m_paintedFrames; }
    // Called once a frame has gone to the window, by either way; measurements stamp it there.
    void setShownHook(std::function<void()> hook) { m_shownHook = std::move(hook); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // A few rectangles; more than that are merged into their bounding box. Clearing the box
    // only rewrites background where nothing was drawn.
    using Rects = QVarLengthArray<QRect, 4>;
    static void add(Rects &rects, const QRect &r);
    static QRegion regionOf(const Rects &rects);

    void changed(const QRect &r);
    bool copyToBackingStore(const Rects &rects);

    QImage m_image;
    QColor m_background = Qt::white;
    Rects m_drawn;
    Rects m_frameDirty;
    bool m_inFrame = false;
    bool m_inRepaint = false;
    std::function<void()> m_shownHook;
    int m_directFrames = 0;
    int m_paintedFrames = 0;
};

// Colours are kept as 0x00BBGGRR values.
inline QColor colorFromBgr(uint32_t bgr) {
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

} // namespace pv2
