#pragma once

// A widget's context menu as a user meets it: opened with the mouse, read, an item chosen.

#include <QString>
#include <QStringList>

class QWidget;

namespace lumora::test {

// Opens widget's context menu and gives its items in order: each item's text, with
// " (disabled)" after a disabled one and " (checked)" after a checked one, "-" for a
// separator. The item whose text is choose (if any) is triggered, and the menu closed; an
// item of a submenu is chosen as "submenu/item".
QStringList contextMenu(QWidget *widget, const QString &choose = {});

} // namespace lumora::test
