// Ctrl-C handling of the `voq` tool.  The handler only sets a flag; the
// loops of the commands look at it and then stop the headset in order.  A
// second Ctrl-C ends the program at once.  SIGTERM is handled the same way,
// without the note on standard error.
#ifndef VOQ_TOOL_INTERRUPT_H
#define VOQ_TOOL_INTERRUPT_H

namespace voqtool {

// Installs the handler for SIGINT and SIGTERM, and ignores SIGPIPE (a closed
// output is noticed as a failed write, so that the headset is still stopped).
void InstallInterruptHandler();
bool Interrupted();
// Forgets an earlier interruption (for tests).
void ClearInterrupt();

}  // namespace voqtool

#endif
