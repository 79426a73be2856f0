// Modal message boxes, answerable by tests.
#include "Messages.h"

#include <QLocale>
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

QString shortPath(QString path)
{
    constexpr qsizetype Longest = 60, Head = 29;
    path = shownPath(std::move(path));
    if (path.size() <= Longest)
        return path;
    // Never between the two halves of a character outside the basic plane.
    qsizetype head = Head, tail = path.size() - (Longest - Head - 1);
    if (path.at(head).isLowSurrogate())
        --head;
    if (path.at(tail).isLowSurrogate())
        ++tail;
    return path.left(head) + QChar(0x2026) + path.mid(tail);
}

QString files(qint64 count)
{
    return count == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(count);
}

QString dataSize(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

void setHandler(Handler h)
{
    handler() = std::move(h);
}

} // namespace Messages
