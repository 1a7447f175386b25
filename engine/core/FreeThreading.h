#pragma once
// Locks, automatic-reset events and threads for the engine: declared in the
// public services header, since the application embeds them.

#include "EngineServices.h"
