// Lines that a list box shows without holding them: each is computed from its row when it is
// drawn or read, so a list of a hundred million lines costs what its data costs.
#pragma once

#include <QString>

class LineSource
{
public:
    virtual ~LineSource() = default;

    // Rows count from 0 at the top.
    [[nodiscard]] virtual int lineCount() const = 0;
    [[nodiscard]] virtual QString lineAt(int row) const = 0;
};
