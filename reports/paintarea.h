// The report page widget: 960 x 1358, repainted from the database on every
// paint event with the shared sheet tag and test number.
#pragma once

#include <QWidget>

class PaintArea : public QWidget
{
    Q_OBJECT
public:
    explicit PaintArea(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
