#pragma once
// Connects the framework layer's hooks to the running Qt application.

// Installs, for the QApplication that exists at the time of the call:
//  - the wake-up of the GUI thread: an event posted to the application, on which the event
//    loop runs the pending handed-over calls;
//  - message processing: QCoreApplication::processEvents;
//  - the default error report: a message box with the error's message, titled with the
//    application name (queued to the GUI thread when reported from another thread).
void InstallQtFrameworkHooks();

// Puts the framework's own behaviour back (for example before the application object goes).
void RemoveQtFrameworkHooks();
