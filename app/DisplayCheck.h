// Whether the window could appear anywhere, asked before Qt is, because Qt aborts if not.
#pragma once

#include <QString>

struct xcb_connection_t;

class DisplayCheck
{
public:
    // `platform` and `display` are Qt's -platform and -display options, empty when not given.
    DisplayCheck(const QString &platform, const QString &display);
    // Closes the X connection the check made. Keep the check until Qt has connected: an X
    // server whose only client leaves resets, and refuses whoever connects meanwhile.
    ~DisplayCheck();

    // Why no window can be opened, in a few words, or an empty text if one can.
    [[nodiscard]] QString whyNot() const { return m_whyNot; }

    DisplayCheck(const DisplayCheck &) = delete;
    DisplayCheck &operator=(const DisplayCheck &) = delete;

private:
    QString xcbTrouble(const QString &display);

    QString m_whyNot;
    xcb_connection_t *m_connection = nullptr;
    void (*m_disconnect)(xcb_connection_t *) = nullptr;
};
