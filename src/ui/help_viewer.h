#pragma once

#include <QString>
#include <QStringList>

namespace pv2 {

// Opens a help file with whatever the desktop uses for it.
class HelpViewer {
public:
    virtual ~HelpViewer() = default;
    // False when the viewer could not be asked (for example the file is missing).
    virtual bool open(const QString &path) = 0;
};

class DesktopHelpViewer : public HelpViewer {
public:
    bool open(const QString &path) override;
};

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
