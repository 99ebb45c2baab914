// The fitness station dialogue without port or widgets: the poll cycle over
// the eleven terminals, the reception of one result text (ready answer,
// request, collection, acknowledgement, duplicate suppression, time-out and
// resynchronisation), the splitting of a text into its fields and the
// conversion of a value by its item code.
//
// The caller moves the bytes: it writes what tick()/receive() return to the
// port and feeds every read into receive(). Time comes in as milliseconds of
// a monotonic clock, so tests can drive it.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace fitness {

constexpr int kTerminals = 11;               // terminal indexes 0..10
constexpr int kResultLength = 27;            // a result text is complete beyond 26 bytes
constexpr qint64 kReceptionTimeoutMs = 3000; // no byte for this long ends a reception
constexpr int kContainerCap = 256;           // bytes collected without a result before resyncing
constexpr char kQuery = 0x64;
constexpr char kRequest = 0x65;
constexpr char kAcknowledge = 0x66;

// The last value received for each item, in the units stored in ResultFIT.
struct FitValues
{
    double height = 0;
    double weight = 0;
    int FHL = 0;     // vital capacity
    double TZ = 0;   // step test index
    double TQQ = 0;  // sit-and-reach
    double WOLI = 0; // grip strength, kg
    double ZT = 0;   // vertical jump
    int FWC = 0;     // push-ups
    double BYDJ = 0; // one-leg stand with eyes closed
    int FYS = 0;     // reaction time
    int YWQZ = 0;    // sit-ups
    double TY = 0;   // standing long jump
};

// Column of ResultFIT that item |code| fills; empty for codes outside the item table.
QString itemColumn(const QString &code);

// Converts |value| (leading zeros already removed) into the member of |values|
// named by |code|. Text that is no number gives 0. Returns false, changing
// nothing, for codes outside the item table.
bool convertItem(FitValues &values, const QString &code, const QString &value);

// The member named by |code| as a value to bind (double or int); invalid for
// codes outside the item table.
QVariant itemValue(const FitValues &values, const QString &code);

// One received result, split.
struct FitResult
{
    QString userId;   // first field
    QString itemCode; // first two characters of the last field
    QString value;    // up to five characters of the last field from position 2, leading zeros removed
};

// Splits a complete result text at every blank (logs the steps).
FitResult splitResult(const QByteArray &text);

// True when |text| ends in a whole result (see resultStart).
bool isCompleteResult(const QByteArray &text);

// Offset of the result that ends |text|, or -1 when |text| does not end in
// one. A result is kResultLength bytes: a user-number field (no leading blank,
// no control bytes), a blank, further fields, and the item field: a blank,
// two code digits and five value characters (digits, '.', '-'). Bytes in
// front of it are line noise.
int resultStart(const QByteArray &text);

// The two-byte command 0x80+terminal, |code|, and its log text ("sending 'x8Ax64'").
QByteArray command(int terminal, char code);
QString commandLogLine(int terminal, char code);

class FitnessSession
{
public:
    struct TickOutcome
    {
        QByteArray write;      // query to send, empty on the idle tick or during a reception
        bool timedOut = false; // a stalled reception was dropped at this tick
    };

    struct ReceiveOutcome
    {
        QByteArray write;       // request, or acknowledgement of a duplicate, to send; or empty
        QString shown;          // the read as text for the instrument-state field; empty when nothing came
        bool timedOut = false;  // a stalled reception was dropped before this read was taken
        bool resynced = false;  // the collected text outgrew the cap and was dropped
        bool duplicate = false; // the result equals the previous one: acknowledged only
        bool hasResult = false; // |result| holds a new result to store; then call resultStored()
        FitResult result;
    };

    // One 500 ms poll tick: terminals 0..10, then one idle tick.
    TickOutcome tick(qint64 nowMs);
    // One read from the port.
    ReceiveOutcome receive(const QByteArray &bytes, qint64 nowMs);
    // Outcome of storing the result receive() handed out: when stored, the
    // acknowledgement to send and the text becomes the one to compare the next
    // with; when not, nothing is sent and the terminal offers it again.
    QByteArray resultStored(bool stored);

    int comi() const { return m_comi; }
    int askNum() const { return m_askNum; }
    int containerFlag() const { return m_containerFlag; }
    QByteArray containerFit() const { return m_containerFit; }
    QByteArray containerOld() const { return m_containerOld; }
    QByteArray itemCode() const { return m_itemCode; }

private:
    // Ends a reception that has seen no byte for kReceptionTimeoutMs.
    bool expireStalled(qint64 nowMs);
    void endReception();

    int m_comi = 0;
    int m_askNum = 0;
    int m_containerFlag = 0;
    qint64 m_lastByteMs = 0;
    QByteArray m_containerFit;
    QByteArray m_containerOld; // text of the last result stored
    QByteArray m_itemCode;
    QByteArray m_unstored; // text of the result handed out, until resultStored()
};

} // namespace fitness
