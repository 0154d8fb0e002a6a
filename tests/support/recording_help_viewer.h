#pragma once

#include "ui/help_viewer.h"

#include <QStringList>

namespace pv2 {

class RecordingHelpViewer : public HelpViewer {
public:
    bool open(const QString &path) override {
        opened.append(path);
        return result;
    }
    QStringList opened;
    bool result = true;
};

} // namespace pv2
