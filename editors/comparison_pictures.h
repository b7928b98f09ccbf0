#pragma once
// The pictures of the comparison and settings-sheet commands, drawn in the
// style of the other command buttons (button_icons.h): a rounded tile in the
// command's colour with a white line drawing, sharp at any scale.

#include <QIcon>

QIcon comparePicture(); // two sheets side by side, a mark between them
QIcon sheetPicture();   // a printed page with lines and a signature
