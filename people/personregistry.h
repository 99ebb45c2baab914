// Rules of the person registry shared by the entry form and the import: one
// person per user number (a second registration is refused, naming the
// person who holds the number), the name length the form takes, the sex
// words a file may use, and the insert of a new person whose empty user
// number becomes his serial number.
#pragma once

#include <QString>

namespace personregistry {

constexpr int kNameMaxLength = 30; // characters (a rare character counts once)

// Empty when |name| is acceptable; otherwise why not.
QString nameProblem(const QString &name);

// "1" for 男/1/M/male, "2" for 女/2/F/female (letters in any case, blanks
// around ignored); empty for any other text.
QString sexCode(const QString &text);

// The registered person holding |uid|, leaving out the person whose key is
// |exceptId| (the one being edited).
struct Holder
{
    bool found = false;
    int id = 0;
    QString name;
};
Holder holderOf(const QString &uid, int exceptId = -1);

// "用户编号 0042 已登记给 张三（序号 12）".
QString duplicateText(const QString &uid, const Holder &holder);

struct NewPerson
{
    QString uuid;
    QString uid; // empty: the serial number the database assigns
    QString name;
    QString sex;
    int birthYear = 1990;
    int height = 170;
    QString phone;
    QString note;
};

// Inserts |person| into Person; the key of the new row, or -1 with |error|
// set (a user number already registered, or the database's refusal).
int insertPerson(const NewPerson &person, QString *error);

} // namespace personregistry
