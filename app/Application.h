#pragma once
// What every program that shows the console window sets up once its QApplication exists:
// the widget style, the font substitutes and the framework's Qt hooks.
void PrepareApplication();
