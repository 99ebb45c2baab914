// The registry's model of table Person: newest first, an optional search by
// name or user number whose pattern is bound (never spliced into the SQL), and the sex
// column shown as 男/女 while editors still read and write "1"/"2".
#pragma once

#include <QSqlTableModel>

class PersonModel : public QSqlTableModel
{
    Q_OBJECT

public:
    explicit PersonModel(QObject *parent = nullptr);

    // Table Person sorted by ID descending, every row, the Chinese headers.
    void initialize();

    // Rows whose Name or UID begins with |text| from the next select on; a
    // null text shows every row again.
    void setNamePrefix(const QString &text);
    QString namePrefix() const { return m_namePrefix; }

    // Row of the person with key |id| (fetching further rows as needed), or -1.
    int rowOfId(int id);

    bool select() override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    QString m_namePrefix;
};
