#include "shell/picture_box.h"

#include <QtTest>
#include <QtWidgets>
#include <gtest/gtest.h>

using namespace pv2;

namespace {

// A window with a 100 x 100 picture at (10, 10) and a green square over its middle.
class PictureBoxTest : public ::testing::Test {
protected:
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    PictureBox *box = new PictureBox(window.get());
    QWidget *cover = new QWidget(window.get());

    void SetUp() override {
        window->resize(200, 200);
        box->setGeometry(10, 10, 100, 100);
        box->setBackground(Qt::blue);
        cover->setGeometry(50, 50, 20, 20);
        cover->setAutoFillBackground(true);
        cover->setPalette(QPalette(Qt::green));
        showWindow();
    }
    void showWindow() {
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        QCoreApplication::processEvents();
    }
    std::pair<int, int> frames() const { return {box->directFrames(), box->paintedFrames()}; }
    void drawFrame(const QRect &r, bool clearFirst = true) {
        box->beginFrame();
        if (clearFirst)
            box->clear();
        QPainter(&box->image()).fillRect(r, Qt::red);
        box->markDrawn(r);
        box->endFrame();
    }
    // What the window shows: its backing store, which the toolkit's painting and the direct
    // copy both write.
    QColor shown(int x, int y) {
        QBackingStore *store = window->backingStore();
        store->beginPaint(QRegion());
        const auto *img = dynamic_cast<QImage *>(store->paintDevice());
        const QColor c = img ? img->pixelColor(x, y) : QColor();
        store->endPaint();
        return c;
    }
};

// Away from covering widgets a frame is copied straight into the window, and the next one erases
// it there; under one, the toolkit paints it and leaves the widget on top.
TEST_F(PictureBoxTest, FramesGoStraightIntoTheWindowUnlessCoveredOrHidden) {
    drawFrame(QRect(5, 5, 10, 10));
    EXPECT_EQ(shown(15, 15), QColor(Qt::red));
    drawFrame(QRect(20, 5, 10, 10));
    EXPECT_EQ(std::tuple(shown(15, 15), shown(35, 15)),
              std::tuple(QColor(Qt::blue), QColor(Qt::red)));
    EXPECT_EQ(frames(), std::pair(2, 0));

    drawFrame(QRect(30, 30, 20, 20)); // window (40..59): under the green square from 50
    EXPECT_EQ(frames(), std::pair(2, 1));
    EXPECT_EQ(std::tuple(shown(45, 45), shown(55, 55)),
              std::tuple(QColor(Qt::red), QColor(Qt::green)));
    cover->hide();
    drawFrame(QRect(30, 30, 20, 20));
    EXPECT_EQ(frames(), std::pair(3, 1)) << "nothing covers it any more";
    EXPECT_EQ(shown(55, 55), QColor(Qt::red));

    // A hidden window's frames are kept for when it shows; a clear erases even past four places.
    window->hide();
    drawFrame(QRect(5, 5, 10, 10));
    EXPECT_EQ(frames(), std::pair(3, 1));
    showWindow();
    EXPECT_EQ(shown(20, 20), QColor(Qt::red));

    for (int i = 0; i < 7; ++i)
        drawFrame(QRect(2 + 12 * i, 80, 8, 8), false);
    box->clear();
    QImage all = box->image();
    all.fill(Qt::blue);
    EXPECT_EQ(box->image(), all);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(10 + 2 + 12 * 6 + 4, 90 + 4), QColor(Qt::blue));
}

} // namespace
