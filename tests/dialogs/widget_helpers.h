#pragma once

// The widgets and test tools every dialog test uses.
#include <QtTest>
#include <QtWidgets>
#include <gtest/gtest.h>

namespace pv2::test {

// Replaces the field's text the way a user does: select all, delete, type.
inline void typeInto(QLineEdit *edit, const QString &text) {
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

// Check boxes and option buttons react only to clicks on their indicator or caption.
inline void clickIndicator(QAbstractButton *button, QStyle::SubElement indicator) {
    QStyleOptionButton opt;
    opt.initFrom(button);
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier,
                      button->style()->subElementRect(indicator, &opt, button).center());
}

// The widgets Tab visits, in order, starting from `first`.
inline std::vector<QWidget *> tabChain(QWidget *first) {
    std::vector<QWidget *> chain{first};
    for (QWidget *w = first->nextInFocusChain(); w != first; w = w->nextInFocusChain())
        if (w->focusPolicy() & Qt::TabFocus)
            chain.push_back(w);
    return chain;
}

} // namespace pv2::test
