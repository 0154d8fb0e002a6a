#pragma once

#include <QString>

namespace pv2 {

// Message boxes with only an OK button.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual void show(const QString &text) = 0;
};

} // namespace pv2
