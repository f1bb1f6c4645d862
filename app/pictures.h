// The program's own pictures, painted in code so they stay sharp at every size and pixel ratio: its icon, the buttons' pictures, the key and the warning sign.
#pragma once

#include <QIcon>
#include <QPixmap>

class QPainter;

namespace pictures {

// A folder closed by a zipper: the program's icon, at every size the desktop may ask for.
// The icons are painted afresh at each size and pixel ratio they are drawn at; the pixmaps are
// `size` logical pixels painted at the screens' pixel ratio.
QIcon ProgramIcon();
QPixmap ProgramPixmap(int size);
// Paints the program's icon on a grid of 16 by 16 units (the desktop's icon files are made from it).
void PaintProgramIcon(QPainter& painter);

// The speed buttons' small pictures.
QIcon AddFolderIcon();
QIcon RemoveFolderIcon();
QIcon BrowseIcon();
QIcon StartIcon();
QIcon CancelIcon();

// The password dialog's picture: a key.
QPixmap KeyPixmap(int size);
// The countdown window's picture: a warning sign.
QPixmap WarningPixmap(int size);

}  // namespace pictures
