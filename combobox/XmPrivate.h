// Motif-internal routines that libXm exports but whose prototypes the
// installed headers do not carry.
#pragma once

#include <X11/Intrinsic.h>

extern "C" {

// XGrabPointer on the widget's window, retried while the pointer is held
// by another client for a moment; returns the grab status.
int _XmGrabPointer(Widget widget, int owner_events, unsigned int event_mask,
                   int pointer_mode, int keyboard_mode, Window confine_to,
                   Cursor cursor, Time time);

// XGrabKeyboard on the widget's window, retried likewise.
int _XmGrabKeyboard(Widget widget, int owner_events, int pointer_mode,
                    int keyboard_mode, Time time);

// XtAddGrab and XtRemoveGrab that also keep Motif's modality records.
void _XmAddGrab(Widget widget, Boolean exclusive, Boolean spring_loaded);
void _XmRemoveGrab(Widget widget);

// True when the shell holding the widget is in an exclusive modal grab.
Boolean _XmShellIsExclusive(Widget widget);

}
