#pragma once

#include "platform/message_boxes.h"

namespace pv2 {

class QtMessageBoxes : public MessageBoxes {
public:
    void show(const QString &text) override;
};

} // namespace pv2
