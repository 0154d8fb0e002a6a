#pragma once

#include <QObject>
#include <QtGlobal>
#include <array>
#include <functional>
#include <vector>

class QKeyEvent;
class QWidget;

namespace pv2 {

// How the platform numbers physical keys in a key event's native codes.
enum class NativeKeys { X11, Windows };
#ifdef Q_OS_WIN
inline constexpr NativeKeys kNativeKeys = NativeKeys::Windows;
#else
inline constexpr NativeKeys kNativeKeys = NativeKeys::X11; // xcb and Wayland alike
#endif
// The Windows virtual-key code of a key, which the key table is written in.
int virtualKeyOf(const QKeyEvent &e, NativeKeys native = kNativeKeys);

// Windows virtual-key codes by name.
namespace vk {
inline constexpr int Backspace = 8, Return = 13, Shift = 16, Control = 17, Alt = 18, Escape = 27,
                     Space = 32, Left = 37, Up = 38, Right = 39, Down = 40, Delete = 46;
inline constexpr int Digit0 = '0', Digit1 = '1', Digit6 = '6';
inline constexpr int A = 'A', B = 'B', M = 'M', P = 'P', S = 'S', T = 'T';
inline constexpr int Numpad0 = 96, NumpadSlash = 111;
inline constexpr int F1 = 112, F2 = 113, F3 = 114, F4 = 115, F5 = 116, F6 = 117, F7 = 118, F8 = 119,
                     F9 = 120, F10 = 121;
inline constexpr int NumpadPlus = 107, NumpadMinus = 109;
inline constexpr int Plus = 187, Minus = 189; // the main keyboard's "=+" and "-" keys
inline constexpr int Slash = 191;             // the main keyboard's slash and question mark
inline constexpr int None = 255;
} // namespace vk

// What a key of the main window does wherever the focus is.
enum class KeyCommand {
    PassOn, // on to the focused control's own handling
    FocusPattern,
    FocusMenu,
    FocusTempo,
    Help,
    BeatMinus,
    BeatPlus,
    Tap,
    StartStop,
    TempoDown,
    TempoUp,
    SoundToggle,
    SyncOffset,
    Practice,
    VolumeDown,
    VolumeUp,
    Count
};

struct KeyBinding {
    int key;
    KeyCommand command;
};

inline constexpr KeyBinding kKeyTable[] = {
    {vk::Digit1, KeyCommand::PassOn},
    {vk::Digit1 + 1, KeyCommand::PassOn},
    {vk::Digit1 + 2, KeyCommand::PassOn},
    {vk::Digit1 + 3, KeyCommand::PassOn},
    {vk::Digit1 + 4, KeyCommand::PassOn},
    {vk::Digit6, KeyCommand::PassOn},
    {vk::B, KeyCommand::FocusPattern},
    {vk::M, KeyCommand::FocusMenu},
    {vk::T, KeyCommand::FocusTempo},
    {vk::F1, KeyCommand::Help},
    {vk::F2, KeyCommand::BeatMinus},
    {vk::F3, KeyCommand::BeatPlus},
    {vk::F4, KeyCommand::Tap},
    {vk::Slash, KeyCommand::Tap},
    {vk::P, KeyCommand::Tap},
    {vk::A, KeyCommand::Tap},
    {vk::F5, KeyCommand::StartStop},
    {vk::S, KeyCommand::StartStop},
    {vk::Space, KeyCommand::StartStop},
    {vk::F6, KeyCommand::TempoDown},
    {vk::F7, KeyCommand::TempoUp},
    {vk::F8, KeyCommand::SoundToggle},
    {vk::F9, KeyCommand::SyncOffset},
    {vk::F10, KeyCommand::Practice},
    {vk::Minus, KeyCommand::VolumeDown},
    {vk::NumpadMinus, KeyCommand::VolumeDown},
    {vk::Plus, KeyCommand::VolumeUp},
    {vk::NumpadPlus, KeyCommand::VolumeUp},
};

// Key preview: sees every key press of the window's controls first. Controls with keys of their
// own (the boxes) filter them themselves; the rest go through the key table.
class KeyDispatcher : public QObject {
    Q_OBJECT
public:
    using KeyFilter = std::function<bool(QKeyEvent *)>;
    using KeyDown = std::function<void(int keyCode)>;

    // root and every widget under it.
    void attach(QWidget *root);
    void on(KeyCommand command, std::function<void()> action);
    // A control whose keys bypass the table; filter returns true when it used the key up.
    void ownKeys(QWidget *control, KeyFilter filter);
    // Where the focus keeps the table out, besides the controls with keys of their own.
    void keepOut(QWidget *control);
    // A control's own handling of the keys the table lets through.
    void onKeyDown(QWidget *control, KeyDown handler);

    // Runs the key's command; keyCode becomes 0 when the key is used up.
    void Form_KeyDown(int &keyCode, int shift);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_root = nullptr;
    std::array<std::function<void()>, static_cast<size_t>(KeyCommand::Count)> m_actions;
    std::vector<std::pair<QWidget *, KeyFilter>> m_filters;
    std::vector<QWidget *> m_keptOut;
    std::vector<std::pair<QWidget *, KeyDown>> m_keyDowns;
};

} // namespace pv2
