#pragma once

#include "platform/message_boxes.h"

#include <QStringList>

namespace pv2 {

class RecordingMessageBoxes : public MessageBoxes {
public:
    void show(const QString &text) override { texts.append(text); }
    QStringList texts;
};

} // namespace pv2
