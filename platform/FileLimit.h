#pragma once

// Raises the soft limit of open file descriptors to the hard limit, so a server
// can keep thousands of connections. Returns the soft limit in force afterwards.
long raiseOpenFileLimit();
