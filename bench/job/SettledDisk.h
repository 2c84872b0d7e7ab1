#pragma once

// Waits until the files written so far are on the disk, so that a timed run
// does not share the disk with the write-back of the tables made before it.
// Does nothing where the platform offers no such call to an ordinary user.
void SettleDisk();
