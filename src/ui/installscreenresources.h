// The compiled-in icons and style sheets the install screens use
// (imgsmith.qrc). A static library's resources are only linked in when
// something asks for them, and the screens may live without the main
// controller (tests), hence the explicit initialisation.
#pragma once

#include <QString>

class InstallScreenResources
{
public:
    // Registers the resources (once) and returns the style sheet `resource`.
    static QString styleSheet(const QString &resource);
    static void init();
};
