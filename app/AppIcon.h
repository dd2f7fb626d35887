#pragma once

#include <QIcon>

// The program's icon, drawn at run time: a dark tile with a "V" and two
// radio waves.
QIcon appIcon();
// The same with a red mark in its corner: something needs a person.
QIcon alarmIcon();
