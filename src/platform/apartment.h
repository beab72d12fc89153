#pragma once

// COM for the window's thread, entered the first time something there needs it (the shell, the
// Open dialog, a codec's frames), so that COM's libraries load only then.

// Puts this thread in a single-threaded apartment, once, for as long as it runs. Never on a
// thread the system lends (its pool's): those must be left as they were found.
void JoinApartment();
// Leaves the apartment that JoinApartment entered on this thread, if any.
void LeaveApartment();
