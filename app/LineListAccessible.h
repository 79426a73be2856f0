// What assistive technology learns of a LineListBox: a list whose children are its lines.
#pragma once

// Teaches Qt's accessibility to describe every LineListBox; call before the first is shown.
void installLineListAccessibility();
