// Qt's words while it connects to the window system: its platform warnings held back, and a
// failure to connect told in the program's own one line instead of Qt's abort.
#pragma once

class StartupMessages
{
public:
    // Takes over Qt's messages until destroyed; one at a time. Should Qt find no window
    // system it can start, the program says so in one line and ends with status 1.
    StartupMessages();
    // Qt did connect: what was held back were mere warnings, and they are passed on.
    ~StartupMessages();

    StartupMessages(const StartupMessages &) = delete;
    StartupMessages &operator=(const StartupMessages &) = delete;
};
