#include "qt_message_boxes.h"

#include <QApplication>
#include <QMessageBox>

namespace pv2 {

void QtMessageBoxes::show(const QString &text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

} // namespace pv2
