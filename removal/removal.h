// The removal of the ZANTEROVA Karsenby RK514 driver: one call that runs the fixed stages.
#pragma once

#include "platform.h"

// The printer's display name (its key names, the description of its numbered keys, its win.ini
// key, and the texts that name the driver) and the product's short name (the Start-menu folder
// and the names of its monitor, processor, shell extension and menu-order keys).
#define PRINTER_NAME "ZANTEROVA Karsenby RK514"
// (<windows.h> defines a NetBIOS name flag GROUP_NAME in nb30.h, which this program never uses.)
#undef GROUP_NAME
#define GROUP_NAME "ZANTEROVA RK514"

// Runs every stage once, in order; returns the result of closing wininit.ini (0 or -1).
int RemoveProduct(void);
