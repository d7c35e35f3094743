// Helpers for tests that drive real X clients on a real X server.
//
// Screenshots:
//   SaveWindowPng(dpy, window, path)    writes the window's current contents
//                                       (pass DefaultRootWindow for the screen)
//   SaveRootRegionPng(dpy, x, y, w, h, path)
//                                       writes a rectangle of the screen, so
//                                       override-redirect popups show too
//   Both return false (and write nothing) when the image cannot be read or the
//   file cannot be written. Missing parent directories are created.
//
// Input through XTEST (every call ends with XSync, so the server has the
// events queued when it returns):
//   MovePointer(dpy, x, y)              root coordinates
//   ClickAt(dpy, x, y, button)          move, press and release
//   ClickWidget(w, button)              click at the centre of a realized widget
//   WidgetCentre(w, &x, &y)             that centre in root coordinates
//   PressKey(dpy, keysym, shift)        press and release one key
//   TypeText(dpy, text)                 types printable ASCII
//
// Event processing for in-process Xt tests:
//   ProcessUntilIdle(app)               dispatches events until the server
//                                       has had nothing new for quiet_ms;
//                                       each look follows an XSync, so every
//                                       event the input caused is in by then
//
// Scratch folders and cases that need root: ScratchDir.h.
#pragma once

#include "ScratchDir.h"

#include <X11/Intrinsic.h>
#include <X11/Xlib.h>

#include <unistd.h>

#include <filesystem>
#include <string>


bool SaveWindowPng(Display* dpy, Window window, const std::string& path);
bool SaveRootRegionPng(Display* dpy, int x, int y, unsigned width,
                       unsigned height, const std::string& path);

void MovePointer(Display* dpy, int x, int y);
void ClickAt(Display* dpy, int x, int y, unsigned button = 1);
void WidgetCentre(Widget w, int* x, int* y);
void ClickWidget(Widget w, unsigned button = 1);
void PressKey(Display* dpy, KeySym keysym, bool shift = false);
void TypeText(Display* dpy, const std::string& text);

void ProcessUntilIdle(XtAppContext app, int quiet_ms = 10);

