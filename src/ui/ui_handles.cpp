#include "ui/ui_handles.h"

UiHandles uiHandles{};
