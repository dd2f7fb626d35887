#pragma once

class QWidget;

// Moves a top-level window so that its frame is centred on the available
// area of the screen that holds it. A window larger than that area keeps
// its caption on the screen.
void centreOnScreen(QWidget &window);

// Centres the window once, when it is first shown, whoever shows it; later
// showings (back from the tray) leave it where the user put it.
void centreWhenFirstShown(QWidget &window);
