#include "shell/DarkTheme.h"

#include <QApplication>

namespace {
const QColor kDarkGrey(64, 64, 64);
const QColor kDisabledText(127, 127, 127);
} // namespace

QPalette DarkTheme::palette()
{
    QPalette p;
    p.setBrush(QPalette::All, QPalette::Window, kDarkGrey);
    p.setBrush(QPalette::All, QPalette::WindowText, QColor(Qt::white));
    p.setBrush(QPalette::All, QPalette::Base, QColor(18, 18, 18));
    p.setBrush(QPalette::All, QPalette::AlternateBase, kDarkGrey);
    p.setBrush(QPalette::All, QPalette::ToolTipBase, QColor(Qt::white));
    p.setBrush(QPalette::All, QPalette::ToolTipText, QColor(Qt::white));
    p.setBrush(QPalette::All, QPalette::Text, QColor(Qt::white));
    p.setBrush(QPalette::Disabled, QPalette::Text, kDisabledText);
    p.setBrush(QPalette::All, QPalette::Button, kDarkGrey);
    p.setBrush(QPalette::All, QPalette::ButtonText, QColor(Qt::white));
    p.setBrush(QPalette::Disabled, QPalette::ButtonText, kDisabledText);
    p.setBrush(QPalette::All, QPalette::BrightText, QColor(Qt::red));
    p.setBrush(QPalette::All, QPalette::Link, QColor(42, 130, 218));
    p.setBrush(QPalette::All, QPalette::Light, QColor(74, 74, 74));
    p.setBrush(QPalette::All, QPalette::Midlight, QColor(69, 69, 69));
    p.setBrush(QPalette::All, QPalette::Mid, QColor(60, 60, 60));
    p.setBrush(QPalette::All, QPalette::Dark, QColor(56, 56, 56));
    p.setBrush(QPalette::All, QPalette::Shadow, QColor(28, 28, 28));
    p.setBrush(QPalette::All, QPalette::LinkVisited, QColor(130, 42, 218));
    p.setBrush(QPalette::All, QPalette::NoRole, QColor(Qt::gray));
    p.setBrush(QPalette::All, QPalette::PlaceholderText, QColor(Qt::gray));
    p.setBrush(QPalette::All, QPalette::Highlight, QColor(128, 128, 128));
    p.setBrush(QPalette::All, QPalette::HighlightedText, QColor(Qt::black));
    p.setBrush(QPalette::Disabled, QPalette::HighlightedText, kDisabledText);
    return p;
}

QString DarkTheme::toolTipStyleSheet()
{
    return QStringLiteral("QToolTip { color: #ffffff; background-color: #2a82da; border: 1px solid white; }");
}

bool DarkTheme::applyIfRequested(QApplication& application, std::optional<int> appsUseLightTheme)
{
    if (appsUseLightTheme != 0)
        return false;
    QApplication::setPalette(palette());
    application.setStyleSheet(toolTipStyleSheet());
    return true;
}
