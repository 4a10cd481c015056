#pragma once

#include <QObject>

#include <memory>

class QAbstractFileIconProvider;

// Qt's own file dialog (where the platform has none) shows each file's icon and type, which it
// tells by reading the file's first bytes on the interface's thread. A file of the system's can
// block that read for good (/proc/kmsg, reached by a typed path): the interface would hang. Every
// such dialog the application shows gets icons and types told by file names only.
class FileDialogIcons : public QObject
{
    Q_OBJECT

public:
    // Watches the application from now on; once per process, owned by the application object.
    static void install();

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit FileDialogIcons(QObject* parent);
    ~FileDialogIcons() override;

    std::unique_ptr<QAbstractFileIconProvider> m_icons;
};
