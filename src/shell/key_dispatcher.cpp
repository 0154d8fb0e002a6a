#include "key_dispatcher.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <algorithm>

namespace pv2 {

namespace {

// The digit row by its physical key, whatever the layout and Shift make of it ('#' for
// Shift+3 on a US keyboard, '"' for the 3 key on a French one); 0 where the event does not
// say, as on the offscreen platform.
int digitRowKey(const QKeyEvent &e, NativeKeys native) {
    if (native == NativeKeys::Windows) {
        const quint32 code = e.nativeVirtualKey();
        return code >= '0' && code <= '9' ? static_cast<int>(code) : 0;
    }
    const quint32 code = e.nativeScanCode(); // X keycodes 10 to 19: the keys 1 to 9, then 0
    if (code >= 10 && code <= 18)
        return vk::Digit1 + static_cast<int>(code - 10);
    return code == 19 ? vk::Digit0 : 0;
}

} // namespace

int virtualKeyOf(const QKeyEvent &e, NativeKeys native) {
    const int k = e.key();
    const bool keypad = e.modifiers() & Qt::KeypadModifier;
    if (!keypad)
        if (const int digit = digitRowKey(e, native))
            return digit;
    if (k >= Qt::Key_0 && k <= Qt::Key_9)
        return keypad ? vk::Numpad0 + (k - Qt::Key_0) : k;
    if (k >= Qt::Key_A && k <= Qt::Key_Z)
        return k;
    if (k >= Qt::Key_F1 && k <= Qt::Key_F24)
        return vk::F1 + (k - Qt::Key_F1);
    switch (k) {
    case Qt::Key_Space:
        return vk::Space;
    case Qt::Key_Slash:
        return keypad ? vk::NumpadSlash : vk::Slash; // only the main keyboard's slash taps
    case Qt::Key_Question:
        return vk::Slash;
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
        return keypad ? vk::NumpadMinus : vk::Minus;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        return keypad ? vk::NumpadPlus : vk::Plus;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return vk::Return;
    case Qt::Key_Backspace:
        return vk::Backspace;
    case Qt::Key_Escape:
        return vk::Escape;
    case Qt::Key_Left:
        return vk::Left;
    case Qt::Key_Up:
        return vk::Up;
    case Qt::Key_Right:
        return vk::Right;
    case Qt::Key_Down:
        return vk::Down;
    case Qt::Key_Shift:
        return vk::Shift;
    case Qt::Key_Control:
        return vk::Control;
    case Qt::Key_Alt:
        return vk::Alt;
    case Qt::Key_Delete:
        return vk::Delete;
    default:
        return vk::None;
    }
}

void KeyDispatcher::attach(QWidget *root) {
    m_root = root;
    for (QWidget *w : root->findChildren<QWidget *>())
        w->installEventFilter(this);
    root->installEventFilter(this);
}

void KeyDispatcher::on(KeyCommand command, std::function<void()> action) {
    m_actions[static_cast<size_t>(command)] = std::move(action);
}

void KeyDispatcher::ownKeys(QWidget *control, KeyFilter filter) {
    m_filters.emplace_back(control, std::move(filter));
}

void KeyDispatcher::keepOut(QWidget *control) {
    m_keptOut.push_back(control);
}

void KeyDispatcher::onKeyDown(QWidget *control, KeyDown handler) {
    m_keyDowns.emplace_back(control, std::move(handler));
}

void KeyDispatcher::Form_KeyDown(int &keyCode, int shift) {
    (void)shift;
    QWidget *focus = QApplication::focusWidget();
    if (std::find(m_keptOut.begin(), m_keptOut.end(), focus) != m_keptOut.end())
        return;
    for (const auto &[control, filter] : m_filters)
        if (focus == control)
            return; // the control handles its own keys
    const auto *binding = std::find_if(std::begin(kKeyTable), std::end(kKeyTable),
                                       [&](const KeyBinding &b) { return b.key == keyCode; });
    if (binding != std::end(kKeyTable)) {
        if (binding->command == KeyCommand::PassOn)
            return;
        if (const auto &action = m_actions[static_cast<size_t>(binding->command)])
            action();
    }
    keyCode = 0;
}

bool KeyDispatcher::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() != QEvent::KeyPress)
        return false;
    auto *ke = static_cast<QKeyEvent *>(event);
    // A key bubbling up to a parent was already seen at the focused control.
    QWidget *focus = QApplication::focusWidget();
    if (watched != focus && !(focus == nullptr && watched == m_root))
        return false;
    if (ke->key() == Qt::Key_Tab || ke->key() == Qt::Key_Backtab)
        return false;

    for (const auto &[control, filter] : m_filters)
        if (watched == control)
            return filter(ke);

    int key = virtualKeyOf(*ke);
    Form_KeyDown(key, 0);
    if (key == 0)
        return true;
    for (const auto &[control, keyDown] : m_keyDowns)
        if (watched == control)
            keyDown(key);
    return true;
}

} // namespace pv2
