#pragma once
// Resource numbers of the shell extension.

#define IDR_MODULE_REGISTRY 101    // the module's registration script
#define IDR_SHELLEXT_REGISTRY 106  // the handler class's registration script
#define IDB_MENU_BITMAP 201        // the menu item's picture
