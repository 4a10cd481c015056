#pragma once

#include <QObject>
#include <QString>

// One named choice offered to the user: a colorimeter filter or calibration matrix, or a lens
// file. `number` is what the instrument understands; `type` is free for its owner to use.
class Option : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int number READ number WRITE setNumber NOTIFY numberChanged)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QString type READ type WRITE setType NOTIFY typeChanged)
public:
    // The number of the "none" choice, and of an option made without one.
    static constexpr int NoneNumber = -1;

    explicit Option(QObject* parent = nullptr);
    Option(int number, const QString& name, const QString& type, QObject* parent = nullptr);

    int number() const { return m_number; }
    const QString& name() const { return m_name; }
    const QString& type() const { return m_type; }

    void setNumber(int number);
    void setName(const QString& name);
    void setType(const QString& type);

signals:
    void numberChanged();
    void nameChanged();
    void typeChanged();

private:
    int m_number = NoneNumber;
    QString m_name;
    QString m_type;
};
