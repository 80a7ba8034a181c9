// libio: the port-I/O library. The programs call SetPortBit, ClrPortBit and
// GetPortBit; IsDriverInstalled, which opens the port, when they must open it before
// they give up root's rights; and WaitsMayBeShort where the library has it. The byte
// and word transfers and NotPortBit are there for other callers. The two shift
// operations of the classic port-I/O table have no meaning on a parallel port and are
// not exported. Arguments are a 16-bit port address and, for the bit operations, a bit
// number 0 to 7.
#pragma once

#include "port_call.h"

#ifdef __cplusplus
extern "C" {
#endif

PORT_EXPORT void PORT_CALL PortOut(short port, char data);
PORT_EXPORT void PORT_CALL PortWordOut(short port, short data);
PORT_EXPORT void PORT_CALL PortDWordOut(short port, int data);
PORT_EXPORT char PORT_CALL PortIn(short port);
PORT_EXPORT short PORT_CALL PortWordIn(short port);
PORT_EXPORT int PORT_CALL PortDWordIn(short port);
PORT_EXPORT void PORT_CALL SetPortBit(short port, char bit);
PORT_EXPORT void PORT_CALL ClrPortBit(short port, char bit);
PORT_EXPORT void PORT_CALL NotPortBit(short port, char bit);
PORT_EXPORT short PORT_CALL GetPortBit(short port, char bit);  // -1 when the bit reads 1, 0 when it reads 0
PORT_EXPORT short PORT_CALL IsDriverInstalled(void);
// 1 when the port is a simulated board that checks no timing (LPT1=sim:timing=fast),
// so the programs' waits may be as short as they like; 0 for every other port, real
// or simulated, and when there is none. Opens the port if no call has yet. Not in the
// classic port-I/O table: the programs look it up by name, and a library without it
// drives real hardware.
PORT_EXPORT short PORT_CALL WaitsMayBeShort(void);

#ifdef __cplusplus
}
#endif
