#include "help_viewer.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace pv2 {

bool DesktopHelpViewer::open(const QString &path) {
    const QFileInfo info(path);
    if (!info.isFile())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath()));
}

} // namespace pv2
