#pragma once
// Creates the console window from its design description (design/), in three stages:
// construct every component with its properties in the listed order; then set the references
// between components; then run every component's after-load step.

#include <memory>

class TForm1;

// The screen's logical density over the design density of 120 px/inch.
double ScreenDesignScale();

// The window, created at `scale` (design pixels to screen pixels), and held in Form1 until
// it is destroyed. Not shown yet.
std::unique_ptr<TForm1> CreateForm1(double scale = ScreenDesignScale());

// Shows the window centred on the screen's available area.
void ShowCentred(TForm1& form);
