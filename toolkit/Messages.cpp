// Modal message boxes, answerable by tests.
#include "Messages.h"

#include <QMessageBox>

namespace {
Messages::Handler &handler()
{
    static Messages::Handler h;
    return h;
}
} // namespace

namespace Messages {

void show(QWidget *owner, const QString &text)
{
    if (handler()) {
        const auto h = handler();
        h(owner, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(Title), text, QMessageBox::Ok, owner);
    // A file name is shown as it is, never read as markup that could draw over the path.
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

QString shownPath(QString path)
{
    path.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    path.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return path;
}

void setHandler(Handler h)
{
    handler() = std::move(h);
}

} // namespace Messages
