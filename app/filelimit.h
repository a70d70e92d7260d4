#pragma once

// Every card's session holds a socket: lift the soft open-file limit to the hard one so a thousand cards fit.
void raiseOpenFileLimit();
