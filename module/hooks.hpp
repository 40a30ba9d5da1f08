// The two hooks that the entry routine calls. Each name resolves to its
// default, which does nothing; a build that links its own definition of a
// hook name (a strong symbol) replaces the default.
#pragma once

extern "C" {
// Told every reason code the entry routine acts on, before the library's
// static objects are built on attach and after they are gone on detach.
void __IInitTerm(unsigned long ulflag);
// Told first on process detach, before anything is torn down.
void _setProcessDetachInProgress();

void __IInitTermDefault(unsigned long ulflag);
void _setProcessDetachInProgressDefault();
}
