#include "ui/FileDialogIcons.h"

#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QMimeDatabase>

namespace {

// The style's icons, and types from the name's extension: no file is opened to tell either.
class NameOnlyIcons : public QFileIconProvider
{
public:
    QIcon icon(IconType type) const override { return QFileIconProvider::icon(type); }

    QIcon icon(const QFileInfo& info) const override
    {
        if (!info.isFile())
            return QFileIconProvider::icon(info);
        const QIcon themed = QIcon::fromTheme(byName(info).iconName());
        return themed.isNull() ? QFileIconProvider::icon(File) : themed;
    }

    QString type(const QFileInfo& info) const override
    {
        if (!info.isFile())
            return QFileIconProvider::type(info);
        const QMimeType mime = byName(info);
        return mime.comment().isEmpty() ? mime.name() : mime.comment();
    }

private:
    QMimeType byName(const QFileInfo& info) const
    {
        return m_types.mimeTypeForFile(info, QMimeDatabase::MatchExtension);
    }

    QMimeDatabase m_types;
};

} // namespace

FileDialogIcons::FileDialogIcons(QObject* parent)
    : QObject(parent)
    , m_icons(std::make_unique<NameOnlyIcons>())
{
}

FileDialogIcons::~FileDialogIcons() = default;

void FileDialogIcons::install()
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app || app->findChild<FileDialogIcons*>(QString(), Qt::FindDirectChildrenOnly))
        return;
    app->installEventFilter(new FileDialogIcons(app));
}

bool FileDialogIcons::eventFilter(QObject* watched, QEvent* event)
{
    // Before the dialog is first shown; the folder it starts in is an ordinary one.
    if (event->type() == QEvent::Polish || event->type() == QEvent::Show) {
        if (auto* dialog = qobject_cast<QFileDialog*>(watched); dialog && dialog->iconProvider() != m_icons.get())
            dialog->setIconProvider(m_icons.get());
    }
    return QObject::eventFilter(watched, event);
}
