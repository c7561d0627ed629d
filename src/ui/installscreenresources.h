// The compiled-in icons and style sheets of the install screens
// (installscreens.qrc). A static library's resources are only linked in when
// something asks for them, hence the explicit initialisation.
#pragma once

#include <QString>

class InstallScreenResources
{
public:
    // Registers the resources (once) and returns the style sheet `resource`.
    static QString styleSheet(const QString &resource);
    static void init();
};
