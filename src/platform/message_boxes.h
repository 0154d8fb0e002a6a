#pragma once

#include <QString>
#include <QStringList>

namespace pv2 {

// Message boxes with only an OK button.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual void show(const QString &text) = 0;
};

class RecordingMessageBoxes : public MessageBoxes {
public:
    void show(const QString &text) override { texts.append(text); }
    QStringList texts;
};

} // namespace pv2
