// The status line's progress, as a screen reader reads it.
#include "StatusLabel.h"

#include "EventPump.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>

namespace {

class StatusAccessible : public QAccessibleWidget, public QAccessibleValueInterface
{
public:
    explicit StatusAccessible(StatusLabel *label)
        : QAccessibleWidget(label)
    {
    }

    // Asked each time: the object may be made before the label is told what it is.
    QAccessible::Role role() const override
    {
        return label()->showsProgress() ? QAccessible::ProgressBar : QAccessible::StaticText;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return label()->text();
        return QAccessibleWidget::text(t);
    }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return label()->showsProgress() ? static_cast<QAccessibleValueInterface *>(this) : nullptr;
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
    : FittedLabel(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(statusFactory);
        return true;
    }();
    Q_UNUSED(installed);
    // A label with no name of its own tells every new text at once; with one, it leaves the
    // telling to us. The name a reader gets is still the text (see StatusAccessible).
    setAccessibleName(QStringLiteral("status"));
}

void StatusLabel::setStatus(const QString &text, int percent)
{
    setFittedText(text);
    m_progress = percent;
    if (text != m_toldText || percent != m_toldProgress)
        m_tellPacer.changed();
}

void StatusLabel::tellReader()
{
    const bool nameChanged = text() != m_toldText;
    const bool valueChanged = m_progress != m_toldProgress;
    m_toldText = text();
    m_toldProgress = m_progress;
    // Asking for an event's interface would make one: only when a reader listens.
    if (!EventPump::readerListens())
        return;
    if (nameChanged) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
    if (valueChanged && m_showsProgress) {
        QAccessibleValueChangeEvent event(this, m_progress);
        QAccessible::updateAccessibility(&event);
    }
}
