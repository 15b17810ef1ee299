#pragma once

class QWidget;

// The icon frame, the product name and the one-line notice that the splash window and
// the information window show alike, placed on the given window.
void BuildTitleBlock(QWidget* window);
