#include "core/app_state.h"

AppState app;
