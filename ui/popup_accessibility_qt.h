// Open popup menus as windows of the application for screen readers and
// other accessibility clients. Qt leaves popups out of the application's
// children, so a context menu could be seen only through its focus events;
// here the application lists every visible popup beside its windows, with
// the menu's name, role and items.
#pragma once

namespace dovrane::ui {

// Installs the application's accessible interface; call before the
// application object is made (the accessibility bridge asks for it at once).
void InstallPopupAccessibility();

}  // namespace dovrane::ui
