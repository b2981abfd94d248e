#pragma once
// The window asks for the families of its design. On Debian, fontconfig maps Arial, Arial
// Narrow and Courier New to the metric-compatible Liberation faces (fonts-liberation); the two
// older Windows faces have no metric twin there, so they are sent to the closest sans face.

// Registers the substitutes with Qt; call once after the application object exists.
void InstallFontSubstitutes();
