// Standard descriptors that the caller left closed.
#pragma once

// Opens /dev/null onto each of descriptors 0, 1 and 2 that is closed; open
// ones stay the caller's. Otherwise the listening socket or a client's
// connection would take such a number, and start-up, signal and trace lines
// meant for standard output or error would be written into a connection.
// Call before anything else opens a descriptor. False when /dev/null cannot
// be opened.
bool openClosedStandardDescriptors();
