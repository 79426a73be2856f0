// A one-line label of fixed size whose text may change far more often than the eye can see.
#pragma once

#include "RepaintPacer.h"

#include <QString>
#include <QWidget>

class StatusLine : public QWidget
{
    Q_OBJECT
public:
    explicit StatusLine(QWidget *parent = nullptr);

    [[nodiscard]] QString text() const { return m_text; }
    void setText(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    RepaintPacer m_pacer{this, [this] { update(); }};
};
