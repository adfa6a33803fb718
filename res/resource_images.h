#pragma once

#include "res/resource_ids.h"

#include <QIcon>
#include <QPixmap>
#include <QString>

// The resource path of an icon or bitmap; empty for an unknown id.
QString ResourcePath(int id);
// The drawing at the given size (icons are drawn for 32 x 32).
QPixmap ResourcePixmap(int id, const QSize& size = QSize(32, 32));
QIcon ResourceIcon(int id);
