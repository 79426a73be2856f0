// The status line's progress, as a screen reader reads it.
#include "StatusLabel.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>

namespace {

constexpr qint64 TellEveryMs = 1000;

class StatusAccessible : public QAccessibleWidget, public QAccessibleValueInterface
{
public:
    explicit StatusAccessible(StatusLabel *label) : QAccessibleWidget(label, QAccessible::ProgressBar) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return label()->text();
        return QAccessibleWidget::text(t);
    }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QVariant currentValue() const override { return label()->progress(); }
    void setCurrentValue(const QVariant &) override {}
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

private:
    StatusLabel *label() const { return static_cast<StatusLabel *>(widget()); }
};

QAccessibleInterface *statusFactory(const QString &key, QObject *object)
{
    if (key == QLatin1String("StatusLabel"))
        if (auto *label = qobject_cast<StatusLabel *>(object))
            return new StatusAccessible(label);
    return nullptr;
}

} // namespace

StatusLabel::StatusLabel(QWidget *parent)
    : QLabel(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(statusFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

void StatusLabel::setProgress(int percent)
{
    m_progress = percent;
    if (m_progress == m_told || (m_sinceTold.isValid() && m_sinceTold.elapsed() < TellEveryMs))
        return;
    m_told = m_progress;
    m_sinceTold.start();
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, m_progress);
        QAccessible::updateAccessibility(&event);
    }
}
