// Modal message boxes, answerable by tests.
#include "Messages.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QLocale>
#include <QMessageBox>
#include <QSpacerItem>

#include <algorithm>

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
    // A transient of the window: centred over it where the window system lets a program
    // place its boxes, placed by the compositor where it does not (Wayland).
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(Title), text, QMessageBox::Ok,
                    owner ? owner->window() : nullptr);
    // A file name is shown as it is, never read as markup that could draw over the path.
    box.setTextFormat(Qt::PlainText);
    // A box as short as "DONE!" would cut its own title, whose bar also holds the window
    // manager's buttons: a few title bars' heights are left for them. A message box takes
    // no minimum width, but its grid takes a spacer.
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout())) {
        QFont titleFont = box.font();
        titleFont.setBold(true);
        const QFontMetrics title(titleFont);
        const int wide = title.horizontalAdvance(box.windowTitle()) + 6 * title.height();
        grid->addItem(new QSpacerItem(wide, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

namespace {

// Characters that reorder the text around them, hide themselves, or break the line: with
// them a name can pass for another ("holiday\u202egpj.exe" reads as a picture) or for two.
bool misleads(char16_t c)
{
    if (c < 0x20 || (c >= 0x7f && c < 0xa0))
        return true;
    return c == 0x061c || (c >= 0x200b && c <= 0x200f) || (c >= 0x2028 && c <= 0x202e)
        || (c >= 0x2060 && c <= 0x2069) || c == 0xfeff;
}

} // namespace

QString shownPath(QString path)
{
    if (std::none_of(path.cbegin(), path.cend(), [](QChar c) { return misleads(c.unicode()); }))
        return path;
    QString shown;
    shown.reserve(path.size() + 16);
    for (const QChar c : std::as_const(path)) {
        const char16_t code = c.unicode();
        if (code == u'\n')
            shown += QLatin1String("\\n");
        else if (code == u'\r')
            shown += QLatin1String("\\r");
        else if (code == u'\t')
            shown += QLatin1String("\\t");
        else if (misleads(code))
            shown += QStringLiteral("\\u") + QString::number(code, 16).toUpper().rightJustified(4, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
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
