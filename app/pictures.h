// The program's own pictures, painted in code so they stay sharp at every size: its icon, the buttons' pictures and the password dialog's key.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace pictures {

// A folder closed by a zipper: the program's icon, at every size the desktop may ask for.
QIcon ProgramIcon();
QPixmap ProgramPixmap(int size);

// The speed buttons' small pictures.
QIcon AddFolderIcon();
QIcon RemoveFolderIcon();
QIcon BrowseIcon();
QIcon StartIcon();
QIcon CancelIcon();

// The password dialog's picture: a key.
QPixmap KeyPixmap(int size);

}  // namespace pictures
