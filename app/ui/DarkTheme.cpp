#include "ui/DarkTheme.h"

#include <QApplication>
#include <QMetaEnum>
#include <QMetaProperty>
#include <QWindow>

#include <array>
#include <utility>

namespace {
const QColor kDarkGrey(64, 64, 64);
const QColor kDisabledText(127, 127, 127);
// The tool tips' own colours, white on blue: the palette's tool-tip roles are both white, meant
// for the style sheet's blue background.
const QColor kToolTipText(Qt::white);
const QColor kToolTipBackground(0x2a, 0x82, 0xda);

// The colour groups of a Quick Controls palette, by the names of its group properties.
constexpr std::array<std::pair<const char*, QPalette::ColorGroup>, 3> kQuickColorGroups{{
    {"active", QPalette::Active},
    {"inactive", QPalette::Inactive},
    {"disabled", QPalette::Disabled},
}};

// Writes every role of one group of the palette into a Quick colour group: its colour properties
// are named after the roles ("windowText" for QPalette::WindowText).
void copyGroup(const QPalette& palette, QPalette::ColorGroup group, QObject& quickGroup)
{
    const QMetaEnum roles = QMetaEnum::fromType<QPalette::ColorRole>();
    const QMetaObject* meta = quickGroup.metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (property.metaType() != QMetaType::fromType<QColor>() || !property.isWritable())
            continue;
        QByteArray roleName(property.name());
        roleName[0] = static_cast<char>(QChar::toUpper(static_cast<char32_t>(roleName[0])));
        bool known = false;
        const int role = roles.keyToValue(roleName.constData(), &known);
        if (known)
            property.write(&quickGroup, palette.color(group, static_cast<QPalette::ColorRole>(role)));
    }
}

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
    return QStringLiteral("QToolTip { color: %1; background-color: %2; border: 1px solid white; }")
        .arg(kToolTipText.name(), kToolTipBackground.name());
}

bool DarkTheme::applyIfRequested(QApplication& application, std::optional<int> appsUseLightTheme)
{
    if (appsUseLightTheme != 0)
        return false;
    QApplication::setPalette(palette());
    application.setStyleSheet(toolTipStyleSheet());
    return true;
}

bool DarkTheme::isInstalled()
{
    return QApplication::palette() == palette();
}

bool DarkTheme::applyToWindows(QObject& root)
{
    if (!isInstalled())
        return false;
    const QPalette dark = palette();
    QList<QObject*> windows{&root};
    for (QWindow* held : root.findChildren<QWindow*>())
        windows.append(held);
    for (QObject* window : windows) {
        auto* quickPalette = window->property("palette").value<QObject*>();
        if (!quickPalette)
            continue;
        for (const auto& [name, group] : kQuickColorGroups) {
            auto* quickGroup = quickPalette->property(name).value<QObject*>();
            if (!quickGroup)
                continue;
            copyGroup(dark, group, *quickGroup);
            // A Quick tool tip draws with these roles and never sees the style sheet.
            quickGroup->setProperty("toolTipBase", kToolTipBackground);
            quickGroup->setProperty("toolTipText", kToolTipText);
        }
    }
    return true;
}
