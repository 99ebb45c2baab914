// The analyzer dialogue without port or widgets: status polling, the
// four-part download of a measurement and the PC-control person frame.
//
// Received bytes go in through tick() and receive(); every complete answer in
// them is handled in turn. Out come signals: frames to write, the text of the
// instrument-state field, finished measurements, state changes and the
// requests to listen to the port continuously or not. The analyzer state
// itself is the shared global::BCAstate. Time comes in as milliseconds of a
// monotonic clock, so tests can drive it.
#pragma once

#include "analyzer/answergatherer.h"
#include "records/measurement.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

namespace analyzer {

// A download step without progress for this long is asked again at the next
// tick, so within 3 s of the last progress.
constexpr qint64 kRerequestMs = 2000;
constexpr int kReceiveLimit = 64 * 1024; // bytes kept without an end mark

// Default segment and impedance record: "0", the date, 25 zeros.
QByteArray defaultRecord();

// The send-person-info frame (03) as upper-case hex text with single blanks;
// age is |currentYear| minus |birthYear|.
QString buildPersonFrame(const QString &id, const QByteArray &name, int sexDigit, int birthYear, int height,
                         int currentYear);

class AnalyzerSession : public QObject
{
    Q_OBJECT
public:
    explicit AnalyzerSession(QObject *parent = nullptr);

    // Stores a downloaded record; returns false when it could not be stored.
    // Without a store every record counts as stored.
    using Store = std::function<bool(const MeasurementLists &)>;
    void setStore(Store store) { m_store = std::move(store); }

    // One polling tick: the per-state action, |bytes| read from the port (empty
    // while a download reads the port itself), then the status query.
    void tick(const QByteArray &bytes, qint64 nowMs);
    // Bytes read by the download handler.
    void receive(const QByteArray &bytes, qint64 nowMs);

    // True from the start of a download until its last part (or its end);
    // meanwhile only the download handler reads the port.
    bool downloading() const { return m_downloading; }
    int saveSwitch() const { return m_saveSwitch; }
    QString resultstr() const { return m_resultstr; }
    int buffered() const { return m_gatherer.pending().size(); }
    const MeasurementLists &lists() const { return m_lists; }
    // A downloaded record waits for its store to succeed (0D not yet sent).
    bool recordWaiting() const { return m_waiting; }

    // Forgets gathered bytes, any download in progress and a record waiting
    // to be stored (the test console talked to the analyzer meanwhile; the
    // analyzer still holds that record, as no 0D went out for it).
    void resetLink();

signals:
    void writeFrame(const QByteArray &frame);
    void showText(const QString &text);
    void portActive();                               // bytes came in: the state icon turns valid
    void listenChanged(bool listen);                 // connect / disconnect the download handler
    void recordReady(const MeasurementLists &lists); // stored (or the same as the last one stored)
    void storeWaiting(bool waiting);                 // a record waits for a store that failed
    void stateChanged(int state);                    // global::BCAstate took a new value
    void noFurtherRecord();                          // state code 0d09: PC control ends

private:
    void handleBytes(const QByteArray &bytes, qint64 nowMs);
    void handleStatus(const QByteArray &hex, qint64 nowMs);
    void handleDownload(const QByteArray &hex, qint64 nowMs);
    void request(const QString &frameHex, qint64 nowMs);
    void startDownload(qint64 nowMs);
    void endDownload();
    void setState(int state);
    bool awaitingNext(qint64 nowMs) const;
    bool takeFrame(QByteArray &frame); // false: dropped as damaged
    void trySave(qint64 nowMs);
    void show(const QString &text);

    AnswerGatherer m_gatherer{kReceiveLimit};
    MeasurementLists m_lists;
    QString m_resultstr;
    bool m_downloading = false;
    int m_saveSwitch = 0;
    QString m_lastRequest;    // the download step asked last
    QByteArray m_expected;    // hex text of its answer's start ("aabb86")
    qint64 m_nextSentMs = -1; // when 0D closed the last record, until its 8D came
    qint64 m_progressMs = 0;
    Store m_store;
    bool m_waiting = false;        // m_lists holds a record not yet stored
    MeasurementLists m_lastStored; // the record stored last, to recognise it when it comes again
    QByteArray m_lastBadFrame;     // the last answer dropped as damaged
};

} // namespace analyzer
