// The removal of the ZANTEROVA Karsenby RK514 driver: one call that runs the fixed stages.
#pragma once

#include "platform.h"

// Runs every stage once, in order; returns the result of closing wininit.ini (0 or -1).
int RemoveProduct(void);
