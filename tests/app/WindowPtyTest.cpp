// The window on a link to a controller that the test plays over a pseudo-terminal.
