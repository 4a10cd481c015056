#include "instruments/OptionList.h"

OptionList::OptionList(QObject* parent)
    : QObject(parent)
    , m_none(Option::NoneNumber, QStringLiteral("none"), QString(), this)
{
    clear();
}

void OptionList::append(Option* option)
{
    m_options.append(option);
}

void OptionList::clear()
{
    m_options = {&m_none};
}

Option* OptionList::find(int number) const
{
    for (Option* option : m_options) {
        if (option && option->number() == number)
            return option;
    }
    return nullptr;
}

QQmlListProperty<Option> OptionList::options()
{
    return QQmlListProperty<Option>(this, this, &OptionList::qmlAppend, &OptionList::qmlCount,
                                    &OptionList::qmlAt, &OptionList::qmlClear,
                                    &OptionList::qmlReplace, &OptionList::qmlRemoveLast);
}

namespace {
OptionList* listOf(QQmlListProperty<Option>* list)
{
    return static_cast<OptionList*>(list->data);
}
} // namespace

void OptionList::qmlAppend(QQmlListProperty<Option>* list, Option* option)
{
    listOf(list)->append(option);
}

qsizetype OptionList::qmlCount(QQmlListProperty<Option>* list)
{
    return listOf(list)->count();
}

Option* OptionList::qmlAt(QQmlListProperty<Option>* list, qsizetype index)
{
    return listOf(list)->m_options.value(index, nullptr);
}

void OptionList::qmlClear(QQmlListProperty<Option>* list)
{
    listOf(list)->clear();
}

void OptionList::qmlReplace(QQmlListProperty<Option>* list, qsizetype index, Option* option)
{
    QList<Option*>& options = listOf(list)->m_options;
    if (index >= 0 && index < options.size())
        options[index] = option;
}

void OptionList::qmlRemoveLast(QQmlListProperty<Option>* list)
{
    QList<Option*>& options = listOf(list)->m_options;
    if (!options.isEmpty())
        options.removeLast();
}
