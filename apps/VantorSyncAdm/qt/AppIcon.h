#pragma once

#include <QIcon>

// The console's application icon, drawn at every size asked for.
QIcon appIcon();
