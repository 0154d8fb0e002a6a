#pragma once

#include <QString>

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

} // namespace pv2
