#pragma once

#include "instruments/Option.h"

#include <QList>
#include <QObject>
#include <QQmlListProperty>

// An ordered list of options for QML that always begins with "none" (number -1).
// The list does not own the options it holds: each belongs to the object that created it.
// Only the "none" option is the list's own child, so clearing never loses it.
class OptionList : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QQmlListProperty<Option> options READ options NOTIFY optionsChanged)
public:
    explicit OptionList(QObject* parent = nullptr);

    void append(Option* option);
    // Empties the list down to its "none" option.
    void clear();
    qsizetype count() const { return m_options.size(); }
    Option* at(qsizetype index) const { return m_options.at(index); }
    // The first option with this number, or null.
    Option* find(int number) const;

    QQmlListProperty<Option> options();

signals:
    void optionsChanged();

private:
    static void qmlAppend(QQmlListProperty<Option>* list, Option* option);
    static qsizetype qmlCount(QQmlListProperty<Option>* list);
    static Option* qmlAt(QQmlListProperty<Option>* list, qsizetype index);
    static void qmlClear(QQmlListProperty<Option>* list);
    static void qmlReplace(QQmlListProperty<Option>* list, qsizetype index, Option* option);
    static void qmlRemoveLast(QQmlListProperty<Option>* list);

    Option m_none;
    QList<Option*> m_options;
};
