// The report page widget: 960 x 1358, repainted from the database on every
// paint event. The sheet and the test number are fixed when it is made, so a
// record stored meanwhile never replaces the one the operator opened.
#pragma once

#include <QWidget>

class PaintArea : public QWidget
{
    Q_OBJECT
public:
    PaintArea(const QString &sheetTag, int testId, QWidget *parent = nullptr);
    QString sheetTag() const { return m_sheetTag; }
    int testId() const { return m_testId; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_sheetTag;
    int m_testId = 0;
};
